#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

// Adds ("-A") or deletes ("-D") a firewall rule of this process's namespace.
bool Iptables(const char* op, const std::string& rule) {
    std::vector<std::string> argv = {test::SystemTool("iptables"), op};
    for (size_t at = 0, end; at < rule.size(); at = end + 1) {
        end = std::min(rule.find(' ', at), rule.size());
        argv.push_back(rule.substr(at, end - at));
    }
    return test::RunCommand(argv, nullptr, 10000) == 0;
}

// On loopback 127.0.0.1 answers; echo requests to 127.0.0.3 are dropped (an absent host),
// those to 127.0.0.4 answered with host-unreachable, and sending to 127.0.0.9 is refused.
class PingNetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ORVANE_REQUIRE_PRIVATE_NETWORK();
        if (test::SystemTool("iptables").empty()) {
            GTEST_SKIP() << "iptables not installed";
        }
        for (const char* rule : kRules) {
            ASSERT_TRUE(Iptables("-A", rule)) << rule;
            ++m_added;
        }
    }
    void TearDown() override {
        while (m_added > 0) {
            Iptables("-D", kRules[--m_added]);
        }
    }
    size_t m_added = 0;
    static constexpr const char* kRules[] = {
        "INPUT -p icmp --icmp-type echo-request -d 127.0.0.3 -j DROP",
        "INPUT -p icmp --icmp-type echo-request -d 127.0.0.4 -j REJECT --reject-with "
        "icmp-host-unreachable",
        "OUTPUT -p icmp -d 127.0.0.9 -j DROP"};
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
