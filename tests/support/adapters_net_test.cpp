#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "common/netns.h"
#include "common/peer_namespace.h"
#include "support/adapters.h"

namespace orvane {
namespace {

// Catches "up" read from the administrative flag alone: an interface that is set up but has
// no carrier (its veth peer down) must not give the serving MAC; once it runs, it must.
TEST(AdaptersNetTest, MacOnlyFromRunningInterface) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    test::PeerNamespace peer("10.215.0.1/24", "10.215.0.2/24");
    ASSERT_TRUE(peer.Ok());
    ASSERT_EQ(peer.Exec({test::SystemTool("ip"), "link", "set", peer.PeerInterface(), "down"}), 0);
    ASSERT_TRUE(peer.WaitLocalRunning(false));
    char mac[kMacTextSize] = {};
    EXPECT_EQ(GetMacAddress2("10.215.0.1", mac), 0);
    EXPECT_STREQ(mac, "");

    ASSERT_EQ(peer.Exec({test::SystemTool("ip"), "link", "set", peer.PeerInterface(), "up"}), 0);
    ASSERT_TRUE(peer.WaitLocalRunning());
    std::string expected = peer.LocalMac();
    std::replace(expected.begin(), expected.end(), ':', '-');
    ASSERT_EQ(expected.size(), 17u);
    EXPECT_EQ(GetMacAddress2("10.215.0.1", mac), 0);
    EXPECT_EQ(std::string(mac), expected);
}

}  // namespace
}  // namespace orvane
