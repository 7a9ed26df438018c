#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/child_process.h"
#include "common/netns.h"
#include "common/temp_dir.h"
#include "platform/udp_socket.h"
#include "tools/fmw_builder.h"

namespace orvane {
namespace {

constexpr int kWaitMs = 10000;

void Send(const std::string& text) {
    platform::UdpSocket s;
    ASSERT_TRUE(s.Open());
    ASSERT_EQ(s.SendTo(text.data(), text.size(), platform::Endpoint{0x7F000001u, 10011}),
              static_cast<long>(text.size()));
}

std::string Request(const char* mac) {
    return std::string("Msg:Request_ipaddr\r\nVersion:C300-2.0.0.0\r\nCseq:1\r\nIPCMac:") + mac +
           "\r\n";
}

std::string Report(const char* keyword, const char* ip, const char* mac, const char* state,
                   const std::string& version) {
    return std::string("Msg:") + keyword + "\r\nIpaddr:" + ip + "\r\nIPCMac:" + mac +
           "\r\nSchedule:50\r\nState:" + state + "\r\nVersion:" + version + "\r\n";
}

// Orvane headless in a temporary folder with C300 firmware, its record in upgrades.csv there.
class RecordRun {
  public:
    RecordRun() {
        test::InstallProgram("orvane", dir.Path());
        dir.Write("Config.ini", "[CNFINFO]\r\nAppLanguage=1\r\n");
        std::filesystem::create_directory(dir.File("fw"));
        dir.Write("fw/c300.bin", fwbuild::BuildIpcHeaderFile("Y_C300_V3.0.0.0", 0, false));
        EXPECT_TRUE(replies.Open() && replies.SetReuseAddress() &&
                    replies.Bind(platform::Endpoint{0, 10010}));
        EXPECT_TRUE(orvane.Start(
            {dir.File("orvane"), "--headless", "--ip", "127.0.0.1", "--folder", dir.File("fw")},
            dir.Path(), dir.File("stderr.txt")));
        std::string line;
        EXPECT_TRUE(orvane.ReadLine(&line, kWaitMs));
        EXPECT_EQ(line.rfind("ready\t", 0), 0u) << line;
    }

    // A request answered, so the device is in the table.
    void Ask(const char* mac) {
        Send(Request(mac));
        ASSERT_EQ(replies.WaitReadable(kWaitMs), 1);
        char reply[2048];
        ASSERT_GT(replies.ReceiveFrom(reply, sizeof reply, nullptr), 0);
    }

    // Reads standard output up to a line that begins with `expected` (a count or a row).
    void AwaitLine(const std::string& expected) {
        std::string line;
        while (orvane.ReadLine(&line, kWaitMs)) {
            if (line.rfind(expected, 0) == 0) {
                return;
            }
        }
        FAIL() << "no line " << expected;
    }

    std::vector<std::string> RecordLines() const {
        const std::string text = test::ReadWholeFile(dir.File("upgrades.csv"));
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
            lines.push_back(text.substr(start, end - start));
        }
        EXPECT_EQ(start, text.size()) << "a line without its CR LF";
        return lines;
    }

    test::TempDir dir;
    platform::UdpSocket replies;
    test::ChildProcess orvane;
};

// The fields after the two times, and that the times are local times with their UTC offset.
std::string Tail(const std::string& line) {
    static const std::regex kTimes(
        R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d,\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d,)");
    std::smatch m;
    if (!std::regex_search(line, m, kTimes)) {
        return "bad times: " + line;
    }
    std::string rest = m.suffix();
    return rest.substr(0, rest.rfind(','));  // the seconds vary
}

// Catches a record that misleads its reader: an outcome missing or told twice, a device left
// without a line at Stop, device text that starts a formula or a line or breaks the columns,
// status texts in the window's language instead of English, a stage or version in the wrong
// place.
TEST(UpgradeRecordTest, OneLinePerOutcomeAndIncompleteAtStop) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    RecordRun run;
    run.Ask("a");
    Send(Report("Report_Downloading", "127.0.0.10", "a", "1", "C300-2.0.0.0"));
    run.AwaitLine("row\t1\t");
    Send(Report("Report_Filesystem", "127.0.0.10", "a", "0", "C300-2.0.0.0"));
    run.AwaitLine("successes\t1");
    // A device that names itself with a formula, a quote, a comma and a tab.
    Send(Report("Report_Uboot", "127.0.0.77", "@b", "6", "=X,\"Y\"\tZ-1.0"));
    Send(Report("Report_Uboot", "127.0.0.77", "@b", "6", "=X,\"Y\"\tZ-1.0"));
    run.AwaitLine("failures\t1");
    run.Ask("c");
    Send(Report("Report_Downloading", "127.0.0.11", "c", "1", "C300-2.0.0.0"));
    run.AwaitLine("row\t3\t");
    run.Ask("d");  // asked, never reported
    run.orvane.Signal(SIGTERM);
    ASSERT_EQ(run.orvane.Wait(kWaitMs), 0);

    const std::vector<std::string> lines = run.RecordLines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0],
              "time,run_started,mac,model,ip,version_before,version_after,result,status,stage,"
              "seconds");
    EXPECT_EQ(Tail(lines[1]),
              "a,C300,127.0.0.10,C300-2.0.0.0,C300-3.0.0.0,success,Upgrade complete,filesystem");
    EXPECT_EQ(Tail(lines[2]),
              "'@b,\"'=X,\"\"Y\"\"?Z\",127.0.0.77,\"'=X,\"\"Y\"\"?Z-1.0\",,failure,"
              "uboot brush failed,uboot");
    EXPECT_EQ(Tail(lines[3]), "c,C300,127.0.0.11,C300-2.0.0.0,,incomplete,Is downloading,download");
    EXPECT_EQ(Tail(lines[4]), "d,C300,127.0.0.12,C300-2.0.0.0,,incomplete,,request");
}

// Catches lines held in memory (or half written) when the process dies: a second after its
// outcome a line is in the file whole, whatever happens to the process next.
TEST(UpgradeRecordTest, LinesSurviveKill) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    RecordRun run;
    run.Ask("a");
    Send(Report("Report_Downloading", "127.0.0.10", "a", "1", "C300-2.0.0.0"));
    run.AwaitLine("row\t1\t");
    Send(Report("Report_Filesystem", "127.0.0.10", "a", "0", "C300-2.0.0.0"));
    run.AwaitLine("successes\t1");
    run.Ask("b");
    Send(Report("Report_Downloading", "127.0.0.11", "b", "1", "C300-2.0.0.0"));
    run.AwaitLine("row\t2\t");
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    run.orvane.Signal(SIGKILL);
    run.orvane.Wait(kWaitMs);

    const std::vector<std::string> lines = run.RecordLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(Tail(lines[1]),
              "a,C300,127.0.0.10,C300-2.0.0.0,C300-3.0.0.0,success,Upgrade complete,filesystem");
}

}  // namespace
}  // namespace orvane
