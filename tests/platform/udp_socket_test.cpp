#include "platform/udp_socket.h"

#include <gtest/gtest.h>

namespace orvane::platform {
namespace {

// Catches a second server sharing a UDP port with the first (and silently taking its traffic)
// because both asked for address reuse: the second bind, to the same or the wildcard address,
// must fail with "address in use".
TEST(UdpSocketTest, SecondSocketAskingForReuseCannotBindAHeldPort) {
    UdpSocket first;
    ASSERT_TRUE(first.Open() && first.SetReuseAddress());
    ASSERT_TRUE(first.Bind(Endpoint{0x7F000001u, 0}));
    Endpoint held;
    ASSERT_TRUE(first.LocalEndpoint(&held));
    for (uint32_t addr : {held.addr, 0u}) {
        UdpSocket second;
        ASSERT_TRUE(second.Open() && second.SetReuseAddress());
        EXPECT_FALSE(second.Bind(Endpoint{addr, held.port})) << Endpoint{addr, 0}.Address();
        EXPECT_EQ(ClassifySocketError(second.LastError()), SocketErrorKind::kAddressInUse);
    }
}

}  // namespace
}  // namespace orvane::platform
