#include <gtest/gtest.h>

#include <cstdlib>

#include "common/netns.h"
#include "common/temp_dir.h"

int main(int argc, char** argv) {
    orvane::test::EnterPrivateNetwork();
    // Programs started by these tests must never ask the real update service or a proxy, and
    // each test program gets its own single-instance lock folder so parallel tests do not
    // refuse each other's instances.
    setenv("ORVANE_UPDATE_HOST", "127.0.0.1", 1);
    setenv("no_proxy", "*", 1);
    orvane::test::TempDir runtime;
    setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
