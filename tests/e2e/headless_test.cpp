#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/child_process.h"
#include "common/netns.h"
#include "common/notify_receiver.h"
#include "common/temp_dir.h"
#include "common/update_service.h"
#include "common/wait_until.h"
#include "platform/udp_socket.h"
#include "protocol/device_message.h"
#include "tools/fmw_builder.h"

namespace orvane {
namespace {

constexpr int kWaitMs = 10000;

void Send(const std::string& text) {
    platform::UdpSocket s;
    ASSERT_TRUE(s.Open());
    ASSERT_EQ(s.SendTo(text.data(), text.size(), platform::Endpoint{0x7F000001u, kListenPort}),
              static_cast<long>(text.size()));
}

std::string Report(const char* keyword, const char* ip, const char* mac, const char* schedule,
                   const char* state, const std::string& version) {
    return std::string("Msg:") + keyword + "\r\nIpaddr:" + ip + "\r\nIPCMac:" + mac +
           "\r\nSchedule:" + schedule + "\r\nState:" + state + "\r\nVersion:" + version + "\r\n";
}

// upgrades.csv's lines (CR LF each), the records without their two times and seconds.
std::vector<std::string> RecordTails(const std::string& file) {
    static const std::regex kTimes(R"(^(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d,){2})");
    const std::string text = test::ReadWholeFile(file);
    std::vector<std::string> tails;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = std::regex_replace(text.substr(start, end - start), kTimes, "");
        tails.push_back(tails.empty() ? line : line.substr(0, line.rfind(',')));
    }
    EXPECT_EQ(start, text.size()) << "a line without its CR LF";
    return tails;
}

// Catches headless lines or upgrades.csv records a script or reader cannot trust (order, form,
// language, flushing, hostile device text), --config and the box options ignored, the service
// manager and the unreachable-service note missed.
TEST(HeadlessTest, PipedLinesRecordAndSettingsFollowTheRun) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    test::TempDir dir;
    std::filesystem::create_directories(dir.File("bin"));
    std::filesystem::create_directories(dir.File("etc"));
    std::filesystem::create_directory(dir.File("fw"));
    const std::string program = test::InstallProgram("orvane", dir.File("bin"));
    dir.Write("etc/Config.ini", "; site\n[CNFINFO]\nAppLanguage=1\nPath=" + dir.File("fw") + "|" +
                                    dir.File("b") + "\nCurSelPath=1\n[Site]\nkeep=1\n");
    dir.Write("fw/c300.bin", fwbuild::BuildIpcHeaderFile("Y_C300_V3.0.0.0", 0, false));
    dir.Write("fw/m100.bin",
              fwbuild::BuildPackage(fwbuild::MakePackageSpec("X_M100_V1.2.3.4", {4096})));
    platform::UdpSocket replies;
    ASSERT_TRUE(replies.Open() && replies.SetReuseAddress() &&
                replies.Bind(platform::Endpoint{0, kReplyPort}));
    test::NotifyReceiver manager(dir.File("notify"));
    ASSERT_TRUE(manager.Bound());

    test::ChildProcess orvane;
    ASSERT_TRUE(orvane.Start({"/usr/bin/env", "NOTIFY_SOCKET=" + dir.File("notify"), program,
                              "--headless", "--ip", "127.0.0.1", "--config", "etc/Config.ini",
                              "--folder", "fw", "--no-force", "--no-show-all"},
                             dir.Path(), dir.File("stderr.txt")));
    std::string line;
    ASSERT_TRUE(orvane.ReadLine(&line, kWaitMs));
    EXPECT_EQ(line, "ready\t127.0.0.1\t00:00:00:00:00:00");
    EXPECT_NE(test::ReadWholeFile(dir.File("stderr.txt")).find("checked ok"), std::string::npos);

    const std::string hostile = "=X,\"Y\"\tZ-1.0";  // a formula, a quote, a comma and a tab
    struct Step {
        std::string request;  // a MAC asking for its file (answered) before the report
        std::string report;
        std::vector<std::string> lines;
    };
    const Step steps[] = {
        {"a",
         Report("Report_Downloading", "127.0.0.10", "a", "50", "1", "C300-2.0.0.0"),
         {"row\t1\tC300\t127.0.0.10\t正在下载\t50%\tC300-2.0.0.0\t"}},
        {"",
         Report("Report_Filesystem", "127.0.0.10", "a", "100", "0", "C300-2.0.0.0"),
         {"row\t1\tC300\t127.0.0.10\t升级完成\t100%\tC300-2.0.0.0\tC300-3.0.0.0", "successes\t1"}},
        {"",
         Report("Report_Uboot", "127.0.0.77", "@b", "5", "1", hostile),
         {"row\t2\t=X,\"Y\"?Z\t127.0.0.77\t正在擦写uboot\t5%\t=X,\"Y\"?Z-1.0\t"}},
        {"",
         Report("Report_Uboot", "127.0.0.77", "@b", "5", "6", hostile),
         {"row\t2\t=X,\"Y\"?Z\t127.0.0.77\tuboot擦写失败\t5%\t=X,\"Y\"?Z-1.0\t", "failures\t1"}},
        {"c", Report("Report_Downloading", "127.0.0.11", "c", "50", "1", "C300-2.0.0.0"), {}},
        {"d", "", {}},  // asked, never reported
    };
    for (const Step& s : steps) {
        if (!s.request.empty()) {
            Send("Msg:Request_ipaddr\r\nVersion:C300-2.0.0.0\r\nCseq:1\r\nIPCMac:" + s.request +
                 "\r\n");
            ASSERT_EQ(replies.WaitReadable(kWaitMs), 1);  // answered, and recorded
            char reply[2048] = {};
            ASSERT_GT(replies.ReceiveFrom(reply, sizeof reply - 1, nullptr), 0);
            EXPECT_NE(std::string(reply).find("\r\nFilePath:c300.bin\r\n"), std::string::npos);
        }
        if (!s.report.empty()) {
            Send(s.report);
        }
        for (const std::string& expected : s.lines) {
            ASSERT_TRUE(orvane.ReadLine(&line, kWaitMs)) << expected;
            EXPECT_EQ(line, expected);
        }
    }
    // A second after their outcomes the lines are in the file whole.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    std::vector<std::string> record = RecordTails(dir.File("upgrades.csv"));
    ASSERT_EQ(record.size(), 3u);
    EXPECT_EQ(record[0],
              "time,run_started,mac,model,ip,version_before,version_after,result,status,stage,"
              "seconds");
    EXPECT_EQ(record[1],
              "a,C300,127.0.0.10,C300-2.0.0.0,C300-3.0.0.0,success,Upgrade complete,filesystem");
    EXPECT_EQ(record[2],
              "'@b,\"'=X,\"\"Y\"\"?Z\",127.0.0.77,\"'=X,\"\"Y\"\"?Z-1.0\",,failure,uboot brush "
              "failed,uboot");

    orvane.Signal(SIGTERM);
    while (orvane.ReadLine(&line, kWaitMs)) {
        EXPECT_EQ(line.rfind("row\t", 0), 0u) << line;  // c's row, if it came only now
    }
    EXPECT_EQ(orvane.Wait(kWaitMs), 0);
    record = RecordTails(dir.File("upgrades.csv"));
    ASSERT_EQ(record.size(), 5u);
    EXPECT_EQ(record[3], "c,C300,127.0.0.11,C300-2.0.0.0,,incomplete,Is downloading,download");
    EXPECT_EQ(record[4], "d,C300,127.0.0.12,C300-2.0.0.0,,incomplete,,request");
    EXPECT_EQ(manager.Receive(kWaitMs), "READY=1");
    EXPECT_EQ(manager.Receive(kWaitMs), "STOPPING=1");
    EXPECT_EQ(
        test::ReadWholeFile(dir.File("etc/Config.ini")),
        "; site\n[CNFINFO]\nAppLanguage=1\nPath=" + dir.File("fw") + "|" + dir.File("b") +
            "\nCurSelPath=0\nForcedUpgradeVerison=0\nIPCheck=0\nShowAllDev=0\n[Site]\nkeep=1\n");
    EXPECT_FALSE(std::filesystem::exists(dir.File("bin/Config.ini")));
    EXPECT_NE(test::ReadWholeFile(dir.File("stderr.txt"))
                  .find("网络连接失败，将无法使用云端固件升级功能\n"),
              std::string::npos);
}

// Catches SIGTERM held until Start's update check ends or, sent while the loader still runs,
// ending the process by the signal (143) instead of status 0.
TEST(HeadlessTest, SignalDuringStartEndsAtOnce) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    test::TempDir serviceDir;
    test::UpdateService service;
    ASSERT_TRUE(service.Start(serviceDir.Path()));
    service.RootStatus("silent");
    // Milliseconds after the hand-over to the real program (the loader's time); -1: in the check.
    for (int afterMs : {0, 5, 20, -1}) {
        test::TempDir dir;
        service.Reply("");
        test::ChildProcess orvane;
        const std::string program = test::InstallProgram("orvane", dir.Path());
        ASSERT_TRUE(orvane.Start(
            {program, "--headless", "--ip", "127.0.0.1", "--folder", dir.File("Firmware")},
            dir.Path()));
        if (afterMs >= 0) {
            // No pause between asks: the moment of the hand-over is the one that matters.
            const std::string exe = "/proc/" + std::to_string(orvane.Pid()) + "/exe";
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            std::error_code ec;
            while (std::filesystem::read_symlink(exe, ec) != program + "-program" &&
                   std::chrono::steady_clock::now() < deadline) {
                std::this_thread::yield();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
        } else {
            test::WaitUntil([&] { return !service.Requests().empty(); }, kWaitMs);
            ASSERT_EQ(service.Requests().size(), 1u);  // Start is inside its check now
        }
        orvane.Signal(SIGTERM);
        // Well inside the check's own 4 s: only a signal taken at once ends it this soon.
        EXPECT_EQ(orvane.Wait(1500), 0) << afterMs << " ms";
    }
    service.Release();
    unsetenv("CURL_CA_BUNDLE");
    unsetenv("ORVANE_UPDATE_HOST");
}

}  // namespace
}  // namespace orvane
