#include <gtest/gtest.h>

#include <string>

#include "common/child_process.h"
#include "common/netns.h"
#include "common/peer_namespace.h"
#include "support/adapters.h"

namespace orvane {
namespace {

// Catches "up" read from the administrative flag alone, not the carrier (veth peer down).
TEST(AdaptersNetTest, MacOnlyFromRunningInterface) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    test::PeerNamespace peer("10.215.0.1/24", "10.215.0.2/24");
    const std::string ip = test::SystemTool("ip");
    ASSERT_TRUE(peer.Ok());
    ASSERT_EQ(test::RunCommand(
                  {ip, "link", "set", peer.LocalInterface(), "address", "02:15:00:0a:0b:0c"}),
              0);
    for (const bool running : {false, true}) {
        ASSERT_EQ(peer.Exec({ip, "link", "set", peer.PeerInterface(), running ? "up" : "down"}), 0);
        ASSERT_TRUE(peer.WaitLocalRunning(running));
        char mac[kMacTextSize] = {};
        EXPECT_EQ(GetMacAddress2("10.215.0.1", mac), 0);
        EXPECT_STREQ(mac, running ? "02-15-00-0A-0B-0C" : "");
    }
}

}  // namespace
}  // namespace orvane
