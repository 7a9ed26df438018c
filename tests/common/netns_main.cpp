#include <gtest/gtest.h>

#include "common/netns.h"

int main(int argc, char** argv) {
    orvane::test::EnterPrivateNetwork();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
