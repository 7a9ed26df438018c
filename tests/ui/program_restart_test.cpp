#include <gtest/gtest.h>

#include <string>

#include "common/child_process.h"
#include "common/temp_dir.h"

namespace orvane {
namespace {

// Catches a restart after a language change that drops the settings file --config named, so
// the new instance reads (and saves) the one beside the program instead.
TEST(ProgramRestartTest, RestartKeepsTheSettingsFile) {
    test::TempDir dir;
    test::ChildProcess child;
    ASSERT_TRUE(child.Start({test::BinDir() + "/restart_child", "etc/Config.ini"}, dir.Path()));
    std::string line;
    ASSERT_TRUE(child.ReadLine(&line, 15000));
    EXPECT_EQ(line, "--config " + dir.File("etc/Config.ini"));
    EXPECT_EQ(child.Wait(15000), 0);
}

}  // namespace
}  // namespace orvane
