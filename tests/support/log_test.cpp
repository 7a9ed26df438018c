#include "support/log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
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
    void TearDown() override {
        SetLogMaxBytes(0);
        InitLog(kLogMajor, "");
    }

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

// Catches a flood of one kind of line reaching the disk (each line costs a flush), a second
// kind silenced by the first, a count of left-out lines lost or counted twice, and a line
// below the threshold counted as left out.
TEST_F(LogTest, RateLimitedKindsWriteOneLineASecondWithTheCountLeftOut) {
    LogRateLimit kind;
    struct Step {
        int64_t ms;
        bool allowed;
        int leftOut;  // reported when allowed
    } steps[] = {
        {5000, true, 0},  {5001, false, 0}, {5999, false, 0}, {6000, true, 2},
        {6500, false, 0}, {9000, true, 1},  {9000, false, 0},
    };
    for (const Step& step : steps) {
        int leftOut = -1;
        EXPECT_EQ(kind.Allow(step.ms, &leftOut), step.allowed) << step.ms;
        if (step.allowed) {
            EXPECT_EQ(leftOut, step.leftOut) << step.ms;
        }
    }
    LogRateLimit flood;
    LogRateLimit other;
    for (int i = 0; i < 1000; ++i) {
        WriteLogLimited(flood, kLogMajor, "malformed %d", i);
        WriteLogLimited(other, kLogInfo, "below the threshold %d", i);
    }
    WriteLogLimited(other, kLogMajor, "other kind");
    const std::string all = Content();
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 2) << all;
    EXPECT_NE(all.find("malformed 0\r\n"), std::string::npos) << all;
    EXPECT_NE(all.find("other kind\r\n"), std::string::npos) << all;  // nothing left out
}

// Catches a log that grows past its cap, a rotation that loses the lines it moves aside, or
// one that keeps more than one older file.
TEST_F(LogTest, CappedLogMovesAsideToDotOne) {
    SetLogMaxBytes(2000);
    for (int i = 0; i < 200; ++i) {
        WriteLog(kLogMajor, "line %03d", i);  // 41 bytes each with prefix and CR LF
    }
    const std::string current = Content();
    const std::string older = test::ReadWholeFile(m_dir.File("Upgrade.log.1"));
    EXPECT_LE(current.size(), 2000u);
    EXPECT_GT(older.size(), 2000u - 41);
    EXPECT_LE(older.size(), 2000u);
    EXPECT_NE(current.find("line 199\r\n"), std::string::npos);
    // The newest lines are all there, in order, across the two files.
    const std::string both = older + current;
    const size_t first = both.find("]line ");
    const int firstKept = std::stoi(both.substr(first + 6, 3));
    EXPECT_EQ(std::count(both.begin(), both.end(), '\n'), 200 - firstKept);
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("Upgrade.log.2")));
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
