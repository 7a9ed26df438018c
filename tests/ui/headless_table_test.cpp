#include "ui/headless/headless_table.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "support/language.h"
#include "ui/headless/table_text.h"

namespace orvane {
namespace {

DeviceTableChange RowChange(int row, const std::string& status, int successes) {
    DeviceTableChange c;
    c.kind = DeviceTableChange::kRowChanged;
    c.rowIndex = row;
    c.row = DeviceRow{std::to_string(row + 1), "M", "10.0.0.1", status, "1%", "M-1", ""};
    c.successCount = successes;
    return c;
}

// Everything written to a pipe until its writer closes it.
class PipeReader {
  public:
    PipeReader() { EXPECT_EQ(pipe(m_fds), 0); }
    ~PipeReader() { CloseWriter(); }
    int WriteFd() const { return m_fds[1]; }
    void StartReading() {
        m_reader = std::thread([this] {
            char buf[4096];
            for (ssize_t n; (n = read(m_fds[0], buf, sizeof buf)) > 0;) {
                m_szText.append(buf, n);
            }
            close(m_fds[0]);
        });
    }
    std::string CloseWriter() {
        if (m_fds[1] >= 0) {
            close(m_fds[1]);
            m_fds[1] = -1;
        }
        if (m_reader.joinable()) {
            m_reader.join();
        }
        return m_szText;
    }

  private:
    int m_fds[2] = {-1, -1};
    std::thread m_reader;
    std::string m_szText;
};

// Catches a reader that stops reading stalling the engine (Post must never wait), a queue that
// grows without bound behind it (past kMaxQueued only the latest texts are written), and lines
// lost, repeated out of order, or stale after the queue overflowed: each row's texts only
// move forward and end at the latest, and the last count printed is the latest.
TEST(HeadlessTableTest, StalledReaderNeverBlocksPostAndOrderHolds) {
    constexpr int kRows = 50;
    constexpr int kRounds = 400;  // 20,000 changes: far past the queue and the pipe's room
    PipeReader pipe;
    HeadlessTable table(pipe.WriteFd(), HeadlessTable::Mode::kLines);
    table.Start("ready");
    for (int round = 0; round < kRounds; ++round) {
        for (int row = 0; row < kRows; ++row) {
            table.Post(RowChange(row, std::to_string(round), round));
        }
    }
    pipe.StartReading();
    table.Stop(10000);
    std::istringstream out(pipe.CloseWriter());

    std::string line;
    ASSERT_TRUE(std::getline(out, line));
    EXPECT_EQ(line, "ready");
    std::map<std::string, int> lastRound;
    int lastSuccesses = 0;
    size_t lines = 0;
    while (std::getline(out, line)) {
        ++lines;
        std::istringstream fields(line);
        std::string kind, id, model, ip, status;
        fields >> kind >> id;
        if (kind == "successes") {
            EXPECT_GT(std::stoi(id), lastSuccesses);
            lastSuccesses = std::stoi(id);
            continue;
        }
        ASSERT_EQ(kind, "row") << line;
        fields >> model >> ip >> status;
        const int round = std::stoi(status);
        auto it = lastRound.find(id);
        EXPECT_TRUE(it == lastRound.end() || it->second < round) << line;
        lastRound[id] = round;
    }
    ASSERT_EQ(lastRound.size(), static_cast<size_t>(kRows));
    for (const auto& [id, round] : lastRound) {
        EXPECT_EQ(round, kRounds - 1) << id;
    }
    EXPECT_EQ(lastSuccesses, kRounds - 1);
    // Written at most: what filled the pipe (less than a queue), the batch the printer held when
    // it blocked and a full queue, each change a row line; a count line per round; then each
    // row once more. An unbounded queue writes all 20,000 changes.
    EXPECT_LE(lines, 3 * HeadlessTable::kMaxQueued + kRounds + kRows + 2);
}

// Catches the live table drawing from stale state, not clearing what it drew before, or
// letting a device's text break lines or send escape sequences to the terminal.
TEST(HeadlessTableTest, TerminalTableShowsTheLatestStateSafely) {
    SetThreadUiLanguage(kLanguageEnglish);
    PipeReader pipe;
    HeadlessTable table(pipe.WriteFd(), HeadlessTable::Mode::kTerminal);
    table.Start("ready");
    table.Post(RowChange(0, "first", 0));
    table.Post(RowChange(0, "bad\x1b[2J\n\xc2\x9b", 1));
    pipe.StartReading();
    table.Stop(10000);
    const std::string out = pipe.CloseWriter();
    EXPECT_EQ(out.find("ready\n"), 0u);
    const size_t lastFrame = out.rfind("\r\x1b[J");
    ASSERT_NE(lastFrame, std::string::npos);
    const std::string frame = out.substr(lastFrame + 4);
    EXPECT_NE(frame.find("Successes:1   Failed:0\n"), std::string::npos) << frame;
    EXPECT_NE(frame.find("bad?[2J??"), std::string::npos) << frame;
    EXPECT_EQ(frame.find('\x1b'), std::string::npos);
}

// Catches a table wider or taller than the terminal (it would scroll and the redraw would
// land in the wrong place), and wide characters measured as one column.
TEST(HeadlessTableTest, RenderedTableFitsTheTerminal) {
    SetThreadUiLanguage(kLanguageChinese);
    std::vector<DeviceRow> list;
    for (int i = 0; i < 30; ++i) {
        list.push_back(DeviceRow{std::to_string(i + 1), "型号很长" + std::string(40, 'x'),
                                 "10.0.0.1", "正在下载", "1%", "V", ""});
    }
    for (const auto& [height, width] : {std::pair{10, 40}, {24, 80}, {40, 200}}) {
        SCOPED_TRACE(std::to_string(height) + "x" + std::to_string(width));
        TableScreen screen;  // what the printer copies: the rows that fit
        screen.totalRows = static_cast<int>(list.size());
        const size_t shown = std::min(list.size(), static_cast<size_t>(VisibleRows(height)));
        screen.rows.assign(list.end() - shown, list.end());
        const std::vector<std::string> lines = RenderTableLines(screen, height, width);
        EXPECT_LT(static_cast<int>(lines.size()), height);
        for (const std::string& line : lines) {
            EXPECT_LT(DisplayWidth(line), width) << line;
        }
        EXPECT_EQ(lines.back().substr(0, 2), "30");
    }
    EXPECT_EQ(DisplayWidth("正在x"), 5);
    SetThreadUiLanguage(0);
}

}  // namespace
}  // namespace orvane
