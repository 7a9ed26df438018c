#include "support/log.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/temp_dir.h"

namespace orvane {
namespace {

class LogTest : public ::testing::Test {
  protected:
    void SetUp() override { InitLog(kLogMajor, m_dir.File("Upgrade.log").c_str()); }
    void TearDown() override { InitLog(kLogMajor, ""); }

    std::string Content() const { return test::ReadWholeFile(m_dir.File("Upgrade.log")); }
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::string all = Content();
        size_t start = 0;
        for (size_t end; (end = all.find("\r\n", start)) != std::string::npos; start = end + 2) {
            lines.push_back(all.substr(start, end - start));
        }
        return lines;
    }

    test::TempDir m_dir;
};

// Catches a wrong prefix: level name, day/month order, millisecond width, separator.
TEST_F(LogTest, LineHasLevelDateAndTimePrefixThenMessageAndCrLf) {
    WriteLog(kLogMajor, "abc %d", 7);
    std::string all = Content();
    std::regex line(R"( \[Major\]\[\d{2}/\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\]abc 7\r\n)");
    EXPECT_TRUE(std::regex_match(all, line)) << all;
}

// Catches a message's own line feed being dropped or the CR LF being written before it.
TEST_F(LogTest, MessageEndingInLineFeedKeepsItBeforeCrLf) {
    WriteLog(kLogMajor, "tftp\n");
    std::string all = Content();
    ASSERT_GE(all.size(), 3u);
    EXPECT_EQ(all.substr(all.size() - 3), "\n\r\n");
}

// Catches a threshold that is off by one or levels above 8 leaking through.
TEST_F(LogTest, ThresholdDecidesWhichLevelsAreWritten) {
    struct Case {
        int threshold;
        int level;
        bool written;
    } cases[] = {
        {kLogMajor, kLogMajor, true},  {kLogMajor, kLogGeneral, false}, {kLogInfo, kLogInfo, true},
        {kLogInfo, kLogDebug0, false}, {kLogAllLog, kLogAllLog, true},  {kLogAllLog, 9, false},
        {kLogAllLog, -1, false},
    };
    for (const Case& c : cases) {
        InitLog(c.threshold, m_dir.File("levels.log").c_str());
        std::remove(m_dir.File("levels.log").c_str());
        WriteLog(c.level, "x");
        bool written = !test::ReadWholeFile(m_dir.File("levels.log")).empty();
        EXPECT_EQ(written, c.written) << "threshold " << c.threshold << " level " << c.level;
    }
}

// Catches InitLog accepting a level of 9 or more, which would open levels nobody writes.
TEST_F(LogTest, InitLogKeepsThresholdForLevelsAboveEight) {
    InitLog(kLogInfo, nullptr);
    InitLog(12, nullptr);
    WriteLog(kLogInfo, "still info");
    WriteLog(kLogDebug0, "not debug");
    ASSERT_EQ(Lines().size(), 1u);
    EXPECT_NE(Lines()[0].find("still info"), std::string::npos);
}

// Catches an overrun or a missing cut when a device sends a datagram longer than a line.
TEST_F(LogTest, LongLineIsCutAt510Characters) {
    std::string big(3000, 'x');
    WriteLog(kLogMajor, "%s", big.c_str());
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), kMaxLogLine);
}

// Catches network text forging a line: a file name holding CR LF and a level prefix must stay
// inside the one line that logs it.
TEST_F(LogTest, NetworkTextCannotStartALineOfItsOwn) {
    WriteLog(kLogMajor, "FileName is <%s>", "a.bin\r\n [Major][01/01 00:00:00.000]forged");
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("<a.bin\\r\\n [Major][01/01 00:00:00.000]forged>"), std::string::npos)
        << lines[0];
}

// Catches truncation at start: a second run must append after the first run's lines.
TEST_F(LogTest, ReinitialisingAppendsToExistingFile) {
    WriteLog(kLogMajor, "first run");
    InitLog(kLogMajor, m_dir.File("Upgrade.log").c_str());
    WriteLog(kLogMajor, "second run");
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("first run"), std::string::npos);
    EXPECT_NE(lines[1].find("second run"), std::string::npos);
}

// Catches a crash or hang when the file cannot be opened: the line is lost quietly.
TEST_F(LogTest, UnopenableFileLosesLineWithoutFailing) {
    InitLog(kLogMajor, m_dir.File("no-such-dir/Upgrade.log").c_str());
    WriteLog(kLogMajor, "lost");
    InitLog(kLogMajor, "");
    WriteLog(kLogMajor, "nowhere");  // empty path: formatted, dropped
    EXPECT_TRUE(Content().empty());
}

// Catches lines from different threads interleaving inside one line.
TEST_F(LogTest, ConcurrentWritersNeverInterleaveWithinALine) {
    constexpr int kThreads = 4;
    constexpr int kLinesEach = 20;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLinesEach; ++i) {
                WriteLog(kLogMajor, "thread=%d line=%d %s", t, i,
                         std::string(100, 'a' + t).c_str());
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    auto lines = Lines();
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLinesEach));
    std::regex shape(R"( \[Major\]\[[^\]]+\]thread=(\d) line=\d+ ([a-d])\2{99})");
    for (const auto& l : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l, m, shape)) << l;
        EXPECT_EQ(m[2].str()[0], 'a' + std::stoi(m[1].str()));
    }
}

}  // namespace
}  // namespace orvane
