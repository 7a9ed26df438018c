#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "common/child_process.h"
#include "common/netns.h"
#include "common/temp_dir.h"

namespace orvane {
namespace {

constexpr int kWaitMs = 10000;

// Catches a headless mode that never says it listens, or that does not stop cleanly on a
// signal: scripts wait for the ready line and rely on exit status 0.
TEST(HeadlessTest, PrintsReadyLineAndStopsOnSignal) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    for (int sig : {SIGTERM, SIGINT}) {
        test::TempDir dir;
        test::ChildProcess orvane;
        ASSERT_TRUE(orvane.Start({test::InstallProgram("orvane", dir.Path()), "--headless", "--ip",
                                  "127.0.0.1", "--folder", dir.File("Firmware")},
                                 dir.Path()));
        std::string line;
        ASSERT_TRUE(orvane.ReadLine(&line, kWaitMs));
        EXPECT_EQ(line, "ready\t127.0.0.1");
        orvane.Signal(sig);
        EXPECT_EQ(orvane.Wait(kWaitMs), 0) << "signal " << sig;
    }
}

// Catches the bind failure being swallowed: the operator must see text 165 and no ready line.
TEST(HeadlessTest, AddressNotOnThisHostIsReported) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    test::TempDir dir;
    test::ChildProcess orvane;
    ASSERT_TRUE(orvane.Start({test::InstallProgram("orvane", dir.Path()), "--headless", "--ip",
                              "192.0.2.1", "--folder", dir.File("Firmware")},
                             dir.Path(), dir.File("stderr.txt")));
    std::string line;
    EXPECT_FALSE(orvane.ReadLine(&line, 6000));
    orvane.Signal(SIGTERM);
    EXPECT_EQ(orvane.Wait(kWaitMs), 0);
    EXPECT_NE(test::ReadWholeFile(dir.File("stderr.txt")).find("The network port binding failed!"),
              std::string::npos);
}

}  // namespace
}  // namespace orvane
