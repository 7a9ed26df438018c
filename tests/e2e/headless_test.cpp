#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/child_process.h"
#include "common/netns.h"
#include "common/peer_namespace.h"
#include "common/temp_dir.h"
#include "common/update_service.h"
#include "platform/udp_socket.h"

namespace orvane {
namespace {

constexpr int kWaitMs = 10000;

// Catches a headless mode that never says it listens or that does not stop cleanly on a
// signal (scripts wait for the ready line and rely on exit status 0), and a serving MAC taken
// from the wrong interface or sent with "-": the ready line carries the MAC of the interface
// that holds the chosen address (loopback's is all zeros).
TEST(HeadlessTest, ReadyLineCarriesTheServingMacAndASignalStopsIt) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    test::PeerNamespace peer("10.217.0.1/24", "10.217.0.2/24");
    ASSERT_TRUE(peer.Ok() && peer.WaitLocalRunning());
    struct Case {
        int sig;
        const char* flag;
        const char* ip;
        std::string mac;
    } cases[] = {
        {SIGTERM, "--ip-check", "10.217.0.1", peer.LocalMac()},
        {SIGINT, "--no-ip-check", "127.0.0.1", "00:00:00:00:00:00"},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        test::ChildProcess orvane;
        ASSERT_TRUE(orvane.Start({test::InstallProgram("orvane", dir.Path()), "--headless", "--ip",
                                  c.ip, "--folder", dir.File("Firmware"), c.flag},
                                 dir.Path()));
        std::string line;
        ASSERT_TRUE(orvane.ReadLine(&line, kWaitMs));
        EXPECT_EQ(line, "ready\t" + std::string(c.ip) + "\t" + c.mac);
        orvane.Signal(c.sig);
        EXPECT_EQ(orvane.Wait(kWaitMs), 0) << "signal " << c.sig;
    }
}

// Catches a start without a MAC going ahead (devices would be told an empty server MAC), and a
// missing address not reported: both end with status 1 and a message, no ready line.
TEST(HeadlessTest, RefusesToStartWithoutAddressOrMac) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"--ip", "192.0.2.1"}, "Failed to get native MAC!!!"},
        {{"--ip", "localhost"}, "Failed to get native MAC!!!"},
        // This namespace has loopback and nothing else to offer.
        {{}, "no usable local IPv4 address"},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        std::vector<std::string> argv = {test::InstallProgram("orvane", dir.Path()), "--headless",
                                         "--folder", dir.File("Firmware")};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        test::ChildProcess orvane;
        ASSERT_TRUE(orvane.Start(argv, dir.Path(), dir.File("stderr.txt")));
        std::string line;
        EXPECT_FALSE(orvane.ReadLine(&line, kWaitMs)) << line;
        EXPECT_EQ(orvane.Wait(kWaitMs), 1) << c.message;
        EXPECT_NE(test::ReadWholeFile(dir.File("stderr.txt")).find(c.message), std::string::npos)
            << c.message;
    }
}

// Catches the bind failure being swallowed: the operator must see text 165 and no ready line.
TEST(HeadlessTest, PortInUseIsReported) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    // Held without address reuse, so the service's bind of the same port fails.
    platform::UdpSocket holder;
    platform::Endpoint port;
    ASSERT_TRUE(holder.Open() && platform::Endpoint::Parse("127.0.0.1", 10011, &port) &&
                holder.Bind(port));
    test::TempDir dir;
    test::ChildProcess orvane;
    ASSERT_TRUE(orvane.Start({test::InstallProgram("orvane", dir.Path()), "--headless", "--ip",
                              "127.0.0.1", "--folder", dir.File("Firmware")},
                             dir.Path(), dir.File("stderr.txt")));
    // Only its error output tells: look there, bounded in count and time.
    bool reported = false;
    for (int i = 0; i < 100 && !reported; ++i) {
        reported =
            test::ReadWholeFile(dir.File("stderr.txt")).find("The network port binding failed!") !=
            std::string::npos;
        if (!reported) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    EXPECT_TRUE(reported);
    std::string line;
    EXPECT_FALSE(orvane.ReadLine(&line, 100)) << line;
    orvane.Signal(SIGTERM);
    EXPECT_EQ(orvane.Wait(kWaitMs), 0);
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
            const std::string exe = "/proc/" + std::to_string(orvane.Pid()) + "/exe";
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            std::error_code ec;
            while (std::filesystem::read_symlink(exe, ec) != program + "-program" &&
                   std::chrono::steady_clock::now() < deadline) {
                std::this_thread::yield();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
        } else {
            for (int i = 0; i < kWaitMs / 20 && service.Requests().empty(); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
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
