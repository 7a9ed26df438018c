#include "platform/instance_lock.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <string>
#include <vector>

#include "common/temp_dir.h"

namespace orvane::platform {
namespace {

// Catches a lock that a second holder can also take, or one not given back when its holder
// ends (a crashed instance must not block the next start) or lets go (a restart hands it on);
// and a runtime folder named with a trailing separator, which doubles it in every path made
// from it.
TEST(InstanceLockTest, OneHolderAtATime) {
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
    third.Release();
    InstanceLock heir;
    EXPECT_TRUE(heir.TryAcquire(path));
    const std::string runtime = RuntimeDir();
    ASSERT_FALSE(runtime.empty());
    EXPECT_NE(runtime.back(), '/') << runtime;
    EXPECT_NE(runtime.back(), '\\') << runtime;
}

#ifndef _WIN32
// Catches a lock file another local user planted in a shared folder being used (a link, whose
// opening would create or lock what it points to, or a file owned by someone else), or one
// that cannot be created taken as held.
TEST(InstanceLockTest, NoPlantedFile) {
    test::TempDir dir;
    dir.Write("target", "");
    ASSERT_EQ(::symlink(dir.File("target").c_str(), dir.File("link").c_str()), 0);
    ASSERT_EQ(::symlink(dir.File("absent").c_str(), dir.File("dangling").c_str()), 0);
    std::vector<std::string> refused = {"missing/OrvaneDlg", "link", "dangling"};
    if (::geteuid() == 0) {
        dir.Write("foreign", "");
        ASSERT_EQ(::chown(dir.File("foreign").c_str(), 65534, 65534), 0);
        refused.push_back("foreign");
    }
    for (const std::string& name : refused) {
        InstanceLock lock;
        EXPECT_FALSE(lock.TryAcquire(dir.File(name))) << name;
    }
    EXPECT_NE(::access(dir.File("absent").c_str(), F_OK), 0);  // nothing created behind it
}

// Catches root keeping its lock in a folder any user can write (where a planted file blocks
// or redirects it): only a private folder counts, else /run.
TEST(InstanceLockTest, RootTakesOnlyAPrivateRuntimeFolder) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root";
    }
    const char* oldXdg = std::getenv("XDG_RUNTIME_DIR");
    const char* oldTmp = std::getenv("TMPDIR");
    const std::string savedXdg = oldXdg ? oldXdg : "";
    const std::string savedTmp = oldTmp ? oldTmp : "";
    test::TempDir dir;  // created 0700 by this (root) process
    ASSERT_EQ(::mkdir(dir.File("shared").c_str(), 0777), 0);
    ASSERT_EQ(::chmod(dir.File("shared").c_str(), 01777), 0);
    struct Case {
        std::string xdg, tmp, want;
    } cases[] = {
        {dir.Path(), "", dir.Path()},
        {"/tmp", "", "/run"},
        {dir.File("shared"), dir.Path(), dir.Path()},
        {dir.File("missing"), "", "/run"},
    };
    for (const Case& c : cases) {
        ::setenv("XDG_RUNTIME_DIR", c.xdg.c_str(), 1);
        ::setenv("TMPDIR", c.tmp.c_str(), 1);
        EXPECT_EQ(RuntimeDir(), c.want) << c.xdg;
    }
    oldXdg ? ::setenv("XDG_RUNTIME_DIR", savedXdg.c_str(), 1) : ::unsetenv("XDG_RUNTIME_DIR");
    oldTmp ? ::setenv("TMPDIR", savedTmp.c_str(), 1) : ::unsetenv("TMPDIR");
}
#endif

}  // namespace
}  // namespace orvane::platform
