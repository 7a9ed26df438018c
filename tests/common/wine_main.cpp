#include <gtest/gtest.h>

#include <cstdlib>

#include "common/netns.h"

// The Windows build's main: scripts/wine-run.sh has already put the whole program into a
// private network namespace (and says so in ORVANE_WINE_PRIVATE_NET), as Wine cannot.
namespace orvane::test {

bool EnterPrivateNetwork() {
    return InPrivateNetwork();
}

bool InPrivateNetwork() {
    const char* inside = std::getenv("ORVANE_WINE_PRIVATE_NET");
    return inside != nullptr && inside[0] == '1';
}

}  // namespace orvane::test

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
