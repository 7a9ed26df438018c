#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/child_process.h"
#include "common/netns.h"
#include "common/peer_namespace.h"
#include "platform/udp_socket.h"
#include "protocol/ping_api.h"

namespace orvane {
namespace {

uint32_t Addr(const std::string& text) {
    platform::Endpoint ep;
    EXPECT_TRUE(platform::Endpoint::Parse(text, 0, &ep)) << text;
    return ep.addr;
}

// A firewall rule of this process's namespace, removed when the test ends, however it ends.
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

// On loopback 127.0.0.1 answers; echo requests to 127.0.0.3 are dropped (an absent host) and
// those to 127.0.0.4 answered with host-unreachable.
class PingNetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ORVANE_REQUIRE_PRIVATE_NETWORK();
        if (test::SystemTool("iptables").empty()) {
            GTEST_SKIP() << "iptables not installed";
        }
        ASSERT_TRUE(m_absent.Added() && m_unreachable.Added());
    }

    LocalRule m_absent{
        {"INPUT", "-p", "icmp", "--icmp-type", "echo-request", "-d", "127.0.0.3", "-j", "DROP"}};
    LocalRule m_unreachable{{"INPUT", "-p", "icmp", "--icmp-type", "echo-request", "-d",
                             "127.0.0.4", "-j", "REJECT", "--reject-with",
                             "icmp-host-unreachable"}};
};

// Catches a probe that misses a host which is there, calls an absent one present, or takes a
// destination-unreachable answer as presence or as an error.
TEST_F(PingNetTest, PresentIsOccupiedAbsentAndUnreachableAreFree) {
    const int present = PingApi(Addr("127.0.0.1"));
    EXPECT_GT(present, 0) << "round-trip time of an answering host";
    EXPECT_LT(present, kPingWindowMs + 1);
    EXPECT_EQ(PingApi(Addr("127.0.0.3")), kPingNoAnswer);
    EXPECT_EQ(PingApi(Addr("127.0.0.4")), kPingUnreachable);
}

// Catches a probe that could not be made taken as "free" (the address would be handed out
// though a host may hold it) or as another error: a send a local firewall refuses (EPERM),
// one with no route, and no right to a raw socket.
TEST_F(PingNetTest, ProbeErrorsAreNotFree) {
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
