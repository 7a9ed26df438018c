#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
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
#include "tools/fmw_builder.h"

namespace orvane {
namespace {

constexpr int kWaitMs = 10000;
constexpr const char* kLoopbackReady = "ready\t127.0.0.1\t00:00:00:00:00:00";

void Send(const std::string& text) {
    platform::UdpSocket s;
    ASSERT_TRUE(s.Open());
    ASSERT_EQ(s.SendTo(text.data(), text.size(), platform::Endpoint{0x7F000001u, 10011}),
              static_cast<long>(text.size()));
}

std::string Report(const char* keyword, const char* ip, const char* mac, const char* schedule,
                   const char* state, const char* version) {
    return std::string("Msg:") + keyword + "\r\nIpaddr:" + ip + "\r\nIPCMac:" + mac +
           "\r\nSchedule:" + schedule + "\r\nState:" + state + "\r\nVersion:" + version + "\r\n";
}

// Catches headless output that scripts cannot follow: a row or counter change without its
// line, lines out of order or in another form, anything before the ready line (the package
// reader's trace belongs on the error output), lines held back in a buffer until the program
// ends, a catalogue not built at Start, and a signal that does not end it with status 0.
TEST(HeadlessTest, PipedOutputHasOneLinePerRowAndCounterChange) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    test::TempDir dir;
    test::InstallProgram("orvane", dir.Path());
    dir.Write("Config.ini", "[CNFINFO]\r\nAppLanguage=2\r\n");
    std::filesystem::create_directory(dir.File("fw"));
    dir.Write("fw/c300.bin", fwbuild::BuildIpcHeaderFile("Y_C300_V3.0.0.0", 0, false));
    dir.Write("fw/m100.bin",
              fwbuild::BuildPackage(fwbuild::MakePackageSpec("X_M100_V1.2.3.4", {4096})));
    platform::UdpSocket replies;
    ASSERT_TRUE(replies.Open() && replies.SetReuseAddress() &&
                replies.Bind(platform::Endpoint{0, 10010}));

    test::ChildProcess orvane;
    ASSERT_TRUE(orvane.Start(
        {dir.File("orvane"), "--headless", "--ip", "127.0.0.1", "--folder", dir.File("fw")},
        dir.Path(), dir.File("stderr.txt")));
    std::string line;
    ASSERT_TRUE(orvane.ReadLine(&line, kWaitMs));
    EXPECT_EQ(line, kLoopbackReady);
    EXPECT_NE(test::ReadWholeFile(dir.File("stderr.txt")).find("checked ok"), std::string::npos);

    Send("Msg:Request_ipaddr\r\nVersion:C300-2.0.0.0\r\nCseq:1\r\nIPCMac:a\r\n");
    ASSERT_EQ(replies.WaitReadable(kWaitMs), 1);  // answered, and recorded
    char reply[2048] = {};
    ASSERT_GT(replies.ReceiveFrom(reply, sizeof reply - 1, nullptr), 0);
    EXPECT_NE(std::string(reply).find("\r\nFilePath:c300.bin\r\n"), std::string::npos) << reply;

    struct Step {
        std::string report;
        std::vector<std::string> lines;
    };
    const Step steps[] = {
        {Report("Report_Downloading", "127.0.0.10", "a", "50", "1", "C300-2.0.0.0"),
         {"row\t1\tC300\t127.0.0.10\tIs downloading\t50%\tC300-2.0.0.0\t"}},
        {Report("Report_Filesystem", "127.0.0.10", "a", "100", "0", "C300-2.0.0.0"),
         {"row\t1\tC300\t127.0.0.10\tUpgrade complete\t100%\tC300-2.0.0.0\tC300-3.0.0.0",
          "successes\t1"}},
        {Report("Report_Uboot", "127.0.0.77", "b", "5", "1", "X\tY*Z-1.0"),
         {"row\t2\tX?Y-Z\t127.0.0.77\tIs Writing the uboot\t5%\tX?Y*Z-1.0\t"}},
        {Report("Report_Uboot", "127.0.0.77", "b", "5", "6", "X\tY*Z-1.0"),
         {"row\t2\tX?Y-Z\t127.0.0.77\tuboot brush failed\t5%\tX?Y*Z-1.0\t", "failures\t1"}},
    };
    for (const Step& s : steps) {
        Send(s.report);
        for (const std::string& expected : s.lines) {
            ASSERT_TRUE(orvane.ReadLine(&line, kWaitMs)) << expected;
            EXPECT_EQ(line, expected);
        }
    }
    orvane.Signal(SIGTERM);
    EXPECT_FALSE(orvane.ReadLine(&line, kWaitMs)) << line;
    EXPECT_EQ(orvane.Wait(kWaitMs), 0);
}

// Catches --config being ignored (the file beside the program read or written instead), the
// box options not overriding it, Start's save losing the file's other lines, the unreachable
// service note missing or in the wrong language, and a service manager never told that the
// service listens (a start that hangs until its time-out) or that it is stopping.
TEST(HeadlessTest, ConfigOptionNamesTheSettingsFileAndOptionsOverrideIt) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    test::TempDir dir;
    std::filesystem::create_directories(dir.File("bin"));
    std::filesystem::create_directories(dir.File("etc"));
    const std::string program = test::InstallProgram("orvane", dir.File("bin"));
    dir.Write("etc/Config.ini", "; site\n[CNFINFO]\nPath=" + dir.File("a") + "|" + dir.File("b") +
                                    "\nCurSelPath=1\nIPCheck=1\nLogSwitch=1\n[Site]\nkeep=1\n");
    test::NotifyReceiver manager(dir.File("notify"));
    ASSERT_TRUE(manager.Bound());
    test::ChildProcess orvane;
    ASSERT_TRUE(
        orvane.Start({"/usr/bin/env", "NOTIFY_SOCKET=" + dir.File("notify"), "LC_ALL=zh_CN.UTF-8",
                      program, "--headless", "--ip", "127.0.0.1", "--config", "etc/Config.ini",
                      "--folder", "a", "--no-force", "--show-all"},
                     dir.Path(), dir.File("stderr.txt")));
    std::string line;
    ASSERT_TRUE(orvane.ReadLine(&line, kWaitMs));
    EXPECT_EQ(line, kLoopbackReady);
    orvane.Signal(SIGTERM);
    EXPECT_EQ(orvane.Wait(kWaitMs), 0);
    EXPECT_EQ(manager.Receive(kWaitMs), "READY=1");
    EXPECT_EQ(manager.Receive(kWaitMs), "STOPPING=1");
    EXPECT_EQ(test::ReadWholeFile(dir.File("etc/Config.ini")),
              "; site\n[CNFINFO]\nPath=" + dir.File("a") + "|" + dir.File("b") +
                  "\nCurSelPath=0\nIPCheck=1\nLogSwitch=1\nForcedUpgradeVerison=0\n"
                  "ShowAllDev=1\n[Site]\nkeep=1\n");
    EXPECT_FALSE(std::filesystem::exists(dir.File("bin/Config.ini")));
    EXPECT_EQ(test::ReadWholeFile(dir.File("stderr.txt")),
              "网络连接失败，将无法使用云端固件升级功能\n");
}

// Catches a signal during Start held until Start ends, and one sent while the program still
// loads its libraries ending it by the signal (status 143): with an update host that takes the
// connection and never answers, Start's check waits up to its deadline, and SIGTERM must end
// the process at once with status 0, whenever it comes.
TEST(HeadlessTest, SignalDuringStartEndsAtOnce) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    test::TempDir serviceDir;
    test::UpdateService service;
    ASSERT_TRUE(service.Start(serviceDir.Path()));
    service.RootStatus("silent");
    // Milliseconds after the orvane command has handed over to the real program (the first
    // tens of them go to the system's loader); -1: once Start is inside its check.
    for (int afterMs : {0, 5, 20, -1}) {
        test::TempDir dir;
        service.Reply("");
        test::ChildProcess orvane;
        const std::string program = test::InstallProgram("orvane", dir.Path());
        ASSERT_TRUE(orvane.Start(
            {program, "--headless", "--ip", "127.0.0.1", "--folder", dir.File("Firmware")},
            dir.Path()));
        if (afterMs >= 0) {
            // Asked without a pause: the moment of the hand-over is the one that matters.
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
