#include "support/log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/temp_dir.h"
#include "common/wait_until.h"

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

// Catches a wrong prefix (level name, day/month order, milliseconds), a message's own line
// feed lost or moved, network text (CR LF, a prefix) forging a line, and a long one not cut.
TEST_F(LogTest, LineHasItsPrefixAndNetworkTextStaysInside) {
    WriteLog(kLogMajor, "abc %d <%s>\n", 7, "a.bin\r\n [Major][01/01 00:00:00.000]forged");
    std::regex line(R"( \[Major\]\[\d{2}/\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\]abc 7 )"
                    R"(<a\.bin\\r\\n \[Major\]\[01/01 00:00:00\.000\]forged>\n\r\n)");
    EXPECT_TRUE(std::regex_match(Content(), line)) << Content();
    const size_t before = Content().size();
    WriteLog(kLogMajor, "%s", std::string(3000, '\n').c_str());  // escapes grow it further
    EXPECT_EQ(Content().size(), before + kMaxLogLine + 2);
    EXPECT_EQ(Content().substr(Content().size() - 6), "\\n\\n\r\n");
}

// Catches a threshold off by one, levels outside 0..8 written, or InitLog taking 9 or more.
TEST_F(LogTest, ThresholdDecidesWhichLevelsAreWritten) {
    const struct {
        int threshold;
        int level;
        bool written;
    } cases[] = {
        {kLogMajor, kLogMajor, true},  {kLogMajor, kLogGeneral, false}, {kLogInfo, kLogInfo, true},
        {kLogInfo, kLogDebug0, false}, {kLogAllLog, kLogAllLog, true},  {kLogAllLog, 9, false},
        {kLogAllLog, -1, false},
    };
    for (const auto& c : cases) {
        InitLog(c.threshold, m_dir.File("levels.log").c_str());
        std::remove(m_dir.File("levels.log").c_str());
        WriteLog(c.level, "x");
        EXPECT_EQ(!test::ReadWholeFile(m_dir.File("levels.log")).empty(), c.written)
            << "threshold " << c.threshold << " level " << c.level;
    }
    InitLog(kLogInfo, m_dir.File("Upgrade.log").c_str());
    InitLog(9, nullptr);  // refused: the threshold stays Info
    WriteLog(kLogDebug0, "debug");
    WriteLog(kLogInfo, "info");
    EXPECT_EQ(Content().find("debug"), std::string::npos) << Content();
    EXPECT_NE(Content().find("info"), std::string::npos) << Content();
}

// Catches a second run truncating the first's lines, or a crash when the file cannot open.
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

// Catches a flood of one kind reaching the disk, a second kind silenced by the first, a count
// of left-out lines lost or counted twice, and lines below the threshold counted.
TEST_F(LogTest, RateLimitedKindsWriteOneLineASecondWithTheCountLeftOut) {
    LogRateLimit kind;
    const struct {
        int64_t ms;
        bool allowed;
        int leftOut;  // reported when allowed
    } steps[] = {
        {5000, true, 0},  {5001, false, 0}, {5999, false, 0}, {6000, true, 2},
        {6500, false, 0}, {9000, true, 1},  {9000, false, 0},
    };
    for (const auto& step : steps) {
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

// Catches the count of a burst lost when no later line of its kind comes, and the count put
// on a line of its own after a message that ends in CR LF.
TEST_F(LogTest, LeftOutCountJoinsTheLastLineWhenTheSecondIsOver) {
    LogRateLimit kind;
    for (int i = 0; i < 3; ++i) {
        WriteLogLimited(kind, kLogMajor, "bad opcode %d\r\n", i);
    }
    const char* last = "bad opcode 2 (1 more like it left out)\r\n\r\n";
    EXPECT_TRUE(test::WaitUntil([&] { return Content().find(last) != std::string::npos; }, 3000))
        << Content();
    const std::string all = Content();
    EXPECT_EQ(std::count(all.begin(), all.end(), ']'), 4) << all;  // two lines of two brackets
}

// Catches a log growing past its cap, a rotation losing lines, or more than one older file.
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
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 20; ++i) {
                WriteLog(kLogMajor, "thread=%d %s", t, std::string(100, 'a' + t).c_str());
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    const std::string all = Content();
    std::regex line(R"( \[Major\]\[[^\]]+\]thread=(\d) ([a-d])\2{99}\r\n)");
    int lines = 0;
    for (std::sregex_iterator it(all.begin(), all.end(), line), end; it != end; ++it, ++lines) {
        EXPECT_EQ((*it)[2].str()[0], 'a' + std::stoi((*it)[1].str()));
    }
    EXPECT_EQ(lines, 4 * 20);
}

}  // namespace
}  // namespace orvane
