#include "platform/instance_lock.h"

#include <gtest/gtest.h>

#include "common/temp_dir.h"

namespace orvane::platform {
namespace {

// Catches a lock that a second holder can also take, or one that is not given back when its
// holder ends (a crashed instance must not block the next start).
TEST(InstanceLockTest, SecondHolderRefusedUntilFirstEnds) {
    test::TempDir dir;
    const std::string path = dir.File("OrvaneDlg");
    {
        InstanceLock first;
        ASSERT_TRUE(first.TryAcquire(path));
        InstanceLock second;
        EXPECT_FALSE(second.TryAcquire(path));
        EXPECT_FALSE(second.IsHeld());
    }
    InstanceLock third;
    EXPECT_TRUE(third.TryAcquire(path));
}

// Catches a lock file that cannot be created being taken as "another instance runs" silently
// succeeding instead.
TEST(InstanceLockTest, UncreatableLockFileIsRefused) {
    test::TempDir dir;
    InstanceLock lock;
    EXPECT_FALSE(lock.TryAcquire(dir.File("missing/OrvaneDlg")));
}

}  // namespace
}  // namespace orvane::platform
