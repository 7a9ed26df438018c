#include "support/log.h"

#include <gtest/gtest.h>

#include <regex>
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

    test::TempDir m_dir;
};

// Catches a wrong prefix (level name, day/month order, millisecond width, separator), a
// message's own line feed dropped or written after the CR LF, and network text forging a line:
// a CR LF and a level prefix inside an argument must stay inside the one line that logs it.
TEST_F(LogTest, LineHasItsPrefixAndNetworkTextStaysInside) {
    WriteLog(kLogMajor, "abc %d <%s>\n", 7, "a.bin\r\n [Major][01/01 00:00:00.000]forged");
    const std::string all = Content();
    std::regex line(R"( \[Major\]\[\d{2}/\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\]abc 7 )"
                    R"(<a\.bin\\r\\n \[Major\]\[01/01 00:00:00\.000\]forged>\n\r\n)");
    EXPECT_TRUE(std::regex_match(all, line)) << all;
}

// Catches a threshold that is off by one, levels above 8 leaking through, or InitLog taking a
// threshold of 9 or more (which would open levels nobody writes).
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
    InitLog(kLogInfo, m_dir.File("Upgrade.log").c_str());
    InitLog(12, nullptr);
    WriteLog(kLogDebug0, "not debug");
    WriteLog(kLogInfo, "still info");
    const std::string all = Content();
    EXPECT_TRUE(all.find("still info") != std::string::npos &&
                all.find("debug") == std::string::npos)
        << all;
}

// Catches an overrun or a missing cut when a device sends a datagram longer than a line.
TEST_F(LogTest, LongLineIsCutAt510Characters) {
    WriteLog(kLogMajor, "%s", std::string(3000, 'x').c_str());
    EXPECT_EQ(Content().size(), kMaxLogLine + 2);
}

// Catches truncation at start (a second run must append after the first run's lines), and a
// crash or hang when the file cannot be opened: the line is lost quietly.
TEST_F(LogTest, ReinitialisingAppendsAndAnUnopenableFileLosesTheLine) {
    WriteLog(kLogMajor, "first run");
    InitLog(kLogMajor, m_dir.File("Upgrade.log").c_str());
    WriteLog(kLogMajor, "second run");
    InitLog(kLogMajor, m_dir.File("no-such-dir/Upgrade.log").c_str());
    WriteLog(kLogMajor, "lost");
    InitLog(kLogMajor, "");
    WriteLog(kLogMajor, "nowhere");  // empty path: formatted, dropped
    std::regex twoRuns(R"( \[Major\][^\r]+first run\r\n \[Major\][^\r]+second run\r\n)");
    EXPECT_TRUE(std::regex_match(Content(), twoRuns)) << Content();
}

// Catches lines from different threads interleaving inside one line.
TEST_F(LogTest, ConcurrentWritersNeverInterleaveWithinALine) {
    constexpr int kThreads = 4;
    constexpr int kLinesEach = 20;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLinesEach; ++i) {
                WriteLog(kLogMajor, "thread=%d %s", t, std::string(100, 'a' + t).c_str());
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    std::regex line(R"( \[Major\]\[[^\]]+\]thread=(\d) ([a-d])\2{99}\r\n)");
    const std::string all = Content();
    int lines = 0;
    for (std::sregex_iterator it(all.begin(), all.end(), line), end; it != end; ++it, ++lines) {
        EXPECT_EQ((*it)[2].str()[0], 'a' + std::stoi((*it)[1].str()));
    }
    EXPECT_EQ(lines, kThreads * kLinesEach);
}

}  // namespace
}  // namespace orvane
