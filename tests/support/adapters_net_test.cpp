#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <string>
#include <thread>

#include "common/child_process.h"
#include "common/netns.h"
#include "common/peer_namespace.h"
#include "platform/net_interfaces.h"
#include "support/adapters.h"

namespace orvane {
namespace {

// A veth pair inside the test's private namespace, removed at the end.
class LocalVethPair {
  public:
    LocalVethPair() {
        const std::string id = std::to_string(getpid());
        m_szA = "ova" + id;
        m_szB = "ovb" + id;
        m_bOk = Ip({"link", "add", m_szA, "type", "veth", "peer", "name", m_szB}) == 0;
    }
    ~LocalVethPair() { Ip({"link", "delete", m_szA}); }
    static int Ip(std::vector<std::string> args) {
        args.insert(args.begin(), test::SystemTool("ip"));
        return test::RunCommand(args, nullptr, 10000);
    }
    bool m_bOk = false;
    std::string m_szA, m_szB;
};

bool FindInterface(const std::string& name, platform::NetInterface* out) {
    std::vector<platform::NetInterface> all;
    if (platform::ListNetInterfaces(&all) != 0) {
        return false;
    }
    auto it = std::find_if(all.begin(), all.end(), [&](const auto& i) { return i.szName == name; });
    if (it == all.end()) {
        return false;
    }
    *out = *it;
    return true;
}

// The carrier of a veth end follows its peer asynchronously: wait for the state, bounded.
bool WaitUpState(const std::string& name, bool up) {
    for (int i = 0; i < 300; ++i) {
        platform::NetInterface nif;
        if (FindInterface(name, &nif) && nif.bUp == up) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// The hardware address as `ip` shows it, in our text form ("AA-BB-...").
std::string MacTextOf(const std::string& name) {
    std::string out;
    test::RunCommand({test::SystemTool("ip"), "-o", "link", "show", "dev", name}, &out, 10000);
    size_t at = out.find("link/ether ");
    if (at == std::string::npos) {
        return "";
    }
    std::string mac = out.substr(at + 11, 17);
    std::transform(mac.begin(), mac.end(), mac.begin(), [](unsigned char c) {
        return c == ':' ? '-' : static_cast<char>(std::toupper(c));
    });
    return mac;
}

// Catches "up" read from the administrative flag alone: an interface that is set up but has
// no carrier (its veth peer down) must not give the serving MAC; once it runs, it must.
TEST(AdaptersNetTest, MacOnlyFromRunningInterface) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    LocalVethPair veth;
    ASSERT_TRUE(veth.m_bOk);
    ASSERT_EQ(LocalVethPair::Ip({"addr", "add", "10.215.0.1/24", "dev", veth.m_szA}), 0);
    ASSERT_EQ(LocalVethPair::Ip({"link", "set", veth.m_szA, "up"}), 0);
    ASSERT_TRUE(WaitUpState(veth.m_szA, false));

    char mac[kMacTextSize] = {};
    EXPECT_EQ(GetMacAddress2("10.215.0.1", mac), 0);
    EXPECT_STREQ(mac, "");

    ASSERT_EQ(LocalVethPair::Ip({"link", "set", veth.m_szB, "up"}), 0);
    ASSERT_TRUE(WaitUpState(veth.m_szA, true));
    const std::string expected = MacTextOf(veth.m_szA);
    ASSERT_EQ(expected.size(), 17u);
    EXPECT_EQ(GetMacAddress2("10.215.0.1", mac), 0);
    EXPECT_EQ(std::string(mac), expected);
}

}  // namespace
}  // namespace orvane
