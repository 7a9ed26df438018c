#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "common/child_process.h"
#include "common/netns.h"
#include "common/peer_namespace.h"
#include "platform/net_interfaces.h"
#include "platform/udp_socket.h"
#include "protocol/ping_api.h"

namespace orvane {
namespace {

uint32_t Addr(const std::string& text) {
    platform::Endpoint ep;
    EXPECT_TRUE(platform::Endpoint::Parse(text, 0, &ep)) << text;
    return ep.addr;
}

// A peer host at <subnet>.2 behind a veth pair; <subnet>.1 is ours, <subnet>.3 is absent.
// Each test gets its own subnet, so a late answer about one test's addresses never reaches
// another's probe.
class PeerHost {
  public:
    explicit PeerHost(int subnet)
        : m_szPrefix("10.214." + std::to_string(subnet) + "."),
          m_peer(m_szPrefix + "1/24", m_szPrefix + "2/24") {}

    // Set up, and the local end carries traffic (a veth's carrier follows its peer later).
    bool Ready() const {
        if (!m_peer.Ok()) {
            return false;
        }
        for (int i = 0; i < 300; ++i) {
            std::vector<platform::NetInterface> all;
            platform::ListNetInterfaces(&all);
            for (const auto& nif : all) {
                if (nif.szName == m_peer.LocalInterface() && nif.bUp) {
                    return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    uint32_t Present() const { return Addr(m_szPrefix + "2"); }
    uint32_t Absent() const { return Addr(m_szPrefix + "3"); }
    const test::PeerNamespace& Namespace() const { return m_peer; }

  private:
    std::string m_szPrefix;
    test::PeerNamespace m_peer;
};

// Catches a probe that misses a host which is there, calls an absent one present, or takes a
// destination-unreachable answer as presence or as an error.
TEST(PingNetTest, PresentIsOccupiedAbsentAndUnreachableAreFree) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    PeerHost host(1);
    ASSERT_TRUE(host.Ready());
    int present = PingApi(host.Present());
    EXPECT_GT(present, 0) << "round-trip time of an answering host";
    EXPECT_LT(present, kPingWindowMs + 1);
    EXPECT_EQ(PingApi(host.Absent()), kPingNoAnswer);
    EXPECT_GT(PingApi(Addr("127.0.0.1")), 0);
    const std::string iptables = test::SystemTool("iptables");
    if (iptables.empty()) {
        GTEST_SKIP() << "iptables not installed";
    }
    ASSERT_EQ(
        host.Namespace().Exec({iptables, "-A", "INPUT", "-p", "icmp", "--icmp-type", "echo-request",
                               "-j", "REJECT", "--reject-with", "icmp-host-unreachable"}),
        0);
    EXPECT_EQ(PingApi(host.Present()), kPingUnreachable);
}

// Catches one worker's echo reply deciding another worker's probe: while a present host keeps
// answering, the probe of an absent address running beside it must still come out free.
TEST(PingNetTest, ConcurrentProbesGetTheirOwnAnswers) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    PeerHost host(2);
    ASSERT_TRUE(host.Ready());
    ASSERT_GT(PingApi(host.Present()), 0);  // neighbour resolved before the race
    for (int round = 0; round < 3; ++round) {
        std::atomic<bool> absentDone{false};
        std::vector<int> presentResults;
        std::thread present([&] {
            for (int i = 0; i < 50 && !absentDone.load(); ++i) {
                presentResults.push_back(PingApi(host.Present()));
            }
        });
        int absent = PingApi(host.Absent());
        absentDone = true;
        present.join();
        EXPECT_EQ(absent, kPingNoAnswer) << "round " << round;
        ASSERT_FALSE(presentResults.empty());
        for (int r : presentResults) {
            EXPECT_GT(r, 0) << "round " << round;
        }
    }
}

// Removes a rule from this process's namespace when the test ends, however it ends.
class LocalRule {
  public:
    explicit LocalRule(std::vector<std::string> rule) : m_rule(std::move(rule)) {
        m_bAdded = Run("-A") == 0;
    }
    ~LocalRule() {
        if (m_bAdded) {
            Run("-D");
        }
    }
    bool Added() const { return m_bAdded; }

  private:
    int Run(const char* op) {
        std::vector<std::string> argv = {test::SystemTool("iptables"), op};
        argv.insert(argv.end(), m_rule.begin(), m_rule.end());
        return test::RunCommand(argv, nullptr, 10000);
    }
    std::vector<std::string> m_rule;
    bool m_bAdded = false;
};

// Catches a probe that could not be made taken as "free" (the address would be handed out
// though a host may hold it) or as another error: a send a local firewall refuses (EPERM),
// one with no route, and no right to a raw socket.
TEST(PingNetTest, ProbeErrorsAreNotFree) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    if (test::SystemTool("iptables").empty()) {
        GTEST_SKIP() << "iptables not installed";
    }
    LocalRule drop({"OUTPUT", "-p", "icmp", "-d", "127.0.0.9", "-j", "DROP"});
    ASSERT_TRUE(drop.Added());
    EXPECT_EQ(PingApi(Addr("127.0.0.9")), kPingSendDenied);
    EXPECT_EQ(PingApi(Addr("192.0.2.200")), kPingSendFailed) << "no route to it here";
    // Rights are dropped in a child so this process keeps its own.
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) {
            _exit(10);
        }
        _exit(PingApi(0x7F000001) == kPingSocketDenied ? 0 : 11);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << status << ": 10 rights not dropped, 11 wrong code";
}

}  // namespace
}  // namespace orvane
