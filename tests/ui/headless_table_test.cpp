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
    return {DeviceTableChange::kRowChanged, row,
            DeviceRow{std::to_string(row + 1), "M", "10.0.0.1", status, "1%", "M-1", ""},
            successes};
}

// Stops `table` while reading the pipe it writes to; everything it wrote.
std::string StopAndRead(HeadlessTable& table, const int fds[2]) {
    std::string text;
    std::thread reader([&] {
        char buf[4096];
        for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) {
            text.append(buf, n);
        }
    });
    table.Stop(10000);
    close(fds[1]);
    reader.join();
    close(fds[0]);
    return text;
}

// Catches a stalled reader blocking Post, an unbounded queue, lines lost, reordered or stale.
TEST(HeadlessTableTest, StalledReaderNeverBlocksPostAndOrderHolds) {
    constexpr int kRows = 50;
    constexpr int kRounds = 400;  // 20,000 changes: far past the queue and the pipe's room
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    HeadlessTable table(fds[1], HeadlessTable::Mode::kLines);
    table.Start("ready");
    for (int round = 0; round < kRounds; ++round) {
        for (int row = 0; row < kRows; ++row) {
            table.Post(RowChange(row, std::to_string(round), round));
        }
    }
    std::istringstream out(StopAndRead(table, fds));

    std::string line;
    ASSERT_TRUE(std::getline(out, line) && line == "ready") << line;
    // The round each row (by id) and the success count last showed; each must only grow.
    std::map<std::string, int> last{{"successes", 0}};
    size_t lines = 0;
    for (std::string kind, id, model, ip, status; std::getline(out, line); ++lines) {
        std::istringstream(line) >> kind >> id >> model >> ip >> status;
        ASSERT_TRUE(kind == "row" || kind == "successes") << line;
        const std::string key = kind == "row" ? id : kind;
        const int round = std::stoi(kind == "row" ? status : id);
        EXPECT_LT(last.count(key) ? last[key] : -1, round) << line;
        last[key] = round;
    }
    ASSERT_EQ(last.size(), kRows + 1u);
    for (const auto& [key, round] : last) {
        EXPECT_EQ(round, kRounds - 1) << key;
    }
    // Pipe fill, held batch, full queue, a count per round, each row once more; not all 20,000.
    EXPECT_LE(lines, 3 * HeadlessTable::kMaxQueued + kRounds + kRows + 2);
}

// Catches a row kept after a clear, a frame not cleared, a device's control bytes passed through.
TEST(HeadlessTableTest, TerminalTableShowsTheLatestStateSafely) {
    SetThreadUiLanguage(kLanguageEnglish);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    HeadlessTable table(fds[1], HeadlessTable::Mode::kTerminal);
    table.Start("ready");
    table.Post(RowChange(1, "cleared", 0));
    table.Post({DeviceTableChange::kRowsCleared, -1, {}, 0, 0});
    table.Post(RowChange(0, "first", 0));
    table.Post(RowChange(0, "bad\x1b[2J\n\xc2\x9b", 1));
    const std::string out = StopAndRead(table, fds);
    EXPECT_EQ(out.find("ready\n"), 0u);
    const size_t lastFrame = out.rfind("\r\x1b[J");
    ASSERT_NE(lastFrame, std::string::npos);
    const std::string frame = out.substr(lastFrame + 4);
    EXPECT_NE(frame.find("Successes:1   Failed:0\n"), std::string::npos) << frame;
    EXPECT_NE(frame.find("bad?[2J??"), std::string::npos) << frame;
    EXPECT_EQ(frame.find('\x1b'), std::string::npos);
    EXPECT_EQ(frame.find("cleared"), std::string::npos) << frame;
}

// Catches rows past the answered devices' bound (10,000) left out of the TSV or the live table.
TEST(HeadlessTableTest, RowsPastTenThousandAreShown) {
    SetThreadUiLanguage(kLanguageEnglish);
    for (HeadlessTable::Mode mode : {HeadlessTable::Mode::kLines, HeadlessTable::Mode::kTerminal}) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        HeadlessTable table(fds[1], mode);
        table.Start("");
        for (int row = 0; row < kMaxDeviceRows + 5; ++row) {
            table.Post(RowChange(row, "s", 0));
        }
        const std::string out = StopAndRead(table, fds);
        const std::string tail = out.substr(out.rfind("10005"));
        EXPECT_EQ(tail.substr(0, 8),
                  mode == HeadlessTable::Mode::kLines ? "10005	M	" : "10005  M")
            << tail;
    }
    SetThreadUiLanguage(0);
}

// Catches a table wider or taller than the terminal, and wide characters counted as one column.
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
    // Both ends of all 8 wide ranges (any counted narrow lowers the sum), then narrow neighbours.
    EXPECT_EQ(
        DisplayWidth("\u1100\u115F\u2E80\uA4CF\uAC00\uD7A3\uF900\uFAFF\uFE30\uFE4F\uFF00\uFF60"
                     "\uFFE0\uFFE6\U00020000\U0003FFFD"),
        32);
    EXPECT_EQ(DisplayWidth("\u10FF\u1160\uA4D0\uD7A4\uFFE7\U0003FFFE"), 6);
    SetThreadUiLanguage(0);
}

}  // namespace
}  // namespace orvane
