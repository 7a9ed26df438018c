#include <gtest/gtest.h>
#include <signal.h>

#include <cctype>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/child_process.h"
#include "common/netns.h"
#include "common/peer_namespace.h"
#include "common/temp_dir.h"
#include "platform/net_interfaces.h"
#include "platform/udp_socket.h"

namespace orvane {
namespace {

constexpr int kWaitMs = 10000;

// Catches a headless mode that never says it listens, or that does not stop cleanly on a
// signal: scripts wait for the ready line and rely on exit status 0. Loopback's hardware
// address is all zeros.
TEST(HeadlessTest, PrintsReadyLineAndStopsOnSignal) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    for (const auto& [sig, flag] : {std::pair{SIGTERM, "--ip-check"}, {SIGINT, "--no-ip-check"}}) {
        test::TempDir dir;
        test::ChildProcess orvane;
        ASSERT_TRUE(orvane.Start({test::InstallProgram("orvane", dir.Path()), "--headless", "--ip",
                                  "127.0.0.1", "--folder", dir.File("Firmware"), flag},
                                 dir.Path()));
        std::string line;
        ASSERT_TRUE(orvane.ReadLine(&line, kWaitMs));
        EXPECT_EQ(line, "ready\t127.0.0.1\t00:00:00:00:00:00");
        orvane.Signal(sig);
        EXPECT_EQ(orvane.Wait(kWaitMs), 0) << "signal " << sig;
    }
}

// Catches the serving MAC taken from the wrong interface or sent with "-": the ready line
// carries the MAC of the interface that holds the chosen address.
TEST(HeadlessTest, ReadyLineCarriesTheServingInterfaceMac) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    test::PeerNamespace peer("10.217.0.1/24", "10.217.0.2/24");
    ASSERT_TRUE(peer.Ok());
    std::string link;
    test::RunCommand({test::SystemTool("ip"), "-o", "link", "show", "dev", peer.LocalInterface()},
                     &link);
    size_t at = link.find("link/ether ");
    ASSERT_NE(at, std::string::npos) << link;
    std::string mac = link.substr(at + 11, 17);
    for (char& c : mac) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }

    // The veth's carrier follows its peer a moment later; a start before it would be refused.
    bool running = false;
    for (int i = 0; i < 300 && !running; ++i) {
        std::vector<platform::NetInterface> all;
        platform::ListNetInterfaces(&all);
        for (const auto& nif : all) {
            running = running || (nif.szName == peer.LocalInterface() && nif.bUp);
        }
        if (!running) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ASSERT_TRUE(running);

    test::TempDir dir;
    test::ChildProcess orvane;
    ASSERT_TRUE(orvane.Start({test::InstallProgram("orvane", dir.Path()), "--headless", "--ip",
                              "10.217.0.1", "--folder", dir.File("Firmware")},
                             dir.Path()));
    std::string line;
    ASSERT_TRUE(orvane.ReadLine(&line, kWaitMs));
    orvane.Signal(SIGTERM);
    EXPECT_EQ(orvane.Wait(kWaitMs), 0);
    EXPECT_EQ(line, "ready\t10.217.0.1\t" + mac);
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
    std::string line;
    EXPECT_FALSE(orvane.ReadLine(&line, 6000));
    orvane.Signal(SIGTERM);
    EXPECT_EQ(orvane.Wait(kWaitMs), 0);
    EXPECT_NE(test::ReadWholeFile(dir.File("stderr.txt")).find("The network port binding failed!"),
              std::string::npos);
}

}  // namespace
}  // namespace orvane
