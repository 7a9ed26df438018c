#include "platform/service_notify.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "common/notify_receiver.h"
#include "common/temp_dir.h"

namespace orvane::platform {
namespace {

// Catches a readiness note that never reaches the service manager (a path or an abstract
// address mishandled), a failure reported when no manager asked for notes, and a malformed
// NOTIFY_SOCKET reported as sent.
TEST(ServiceNotifyTest, DatagramReachesTheNamedSocket) {
    test::TempDir dir;
    const std::string abstractName = "@orvane-notify-test-" + std::to_string(::getpid());
    for (const std::string& name : {dir.File("notify"), abstractName}) {
        test::NotifyReceiver receiver(name);
        ASSERT_TRUE(receiver.Bound()) << name;
        setenv("NOTIFY_SOCKET", name.c_str(), 1);
        EXPECT_TRUE(NotifyServiceManager("READY=1")) << name;
        EXPECT_EQ(receiver.Receive(5000), "READY=1") << name;
    }
    setenv("NOTIFY_SOCKET", "relative/name", 1);
    EXPECT_FALSE(NotifyServiceManager("READY=1"));
    setenv("NOTIFY_SOCKET", dir.File("nobody-listens").c_str(), 1);
    EXPECT_FALSE(NotifyServiceManager("READY=1"));
    unsetenv("NOTIFY_SOCKET");
    EXPECT_TRUE(NotifyServiceManager("READY=1"));
}

}  // namespace
}  // namespace orvane::platform
