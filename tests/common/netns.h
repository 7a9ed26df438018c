#pragma once

#include <gtest/gtest.h>

namespace orvane::test {

// Moves the calling process into a new network namespace with loopback up; before any thread
// starts. False when it may not (not root).
bool EnterPrivateNetwork();
// Whether the test program's main managed to enter its private namespace.
bool InPrivateNetwork();

}  // namespace orvane::test

// Skips a test that needs fixed ports or raw sockets when no private namespace is there.
#define ORVANE_REQUIRE_PRIVATE_NETWORK()                                       \
    do {                                                                       \
        if (!::orvane::test::InPrivateNetwork()) {                             \
            GTEST_SKIP() << "needs a private network namespace (run as root)"; \
        }                                                                      \
    } while (0)
