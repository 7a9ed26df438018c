#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "common/child_process.h"
#include "common/netns.h"
#include "common/temp_dir.h"
#include "tools/fmw_builder.h"

namespace orvane {
namespace {

constexpr int kWaitMs = 10000;

// Another process's log is the only witness here: poll it, bounded in count and time.
bool WaitForLog(const std::string& path, const std::string& what) {
    for (int i = 0; i < 150; ++i) {
        if (test::ReadWholeFile(path).find(what) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

// Catches a headless run that does not build the catalogue at Start, does not follow a file
// added while it runs, or lets the package reader's trace into its own standard output.
TEST(HeadlessCatalogueTest, BuildsAndFollowsTheFolderWithTraces) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    test::TempDir dir;
    // Config.ini is read beside the program: run a copy that has one with LogSwitch=1.
    test::InstallProgram("orvane", dir.Path());
    dir.Write("Config.ini", "[CNFINFO]\r\nLogSwitch=1\r\n");
    std::filesystem::create_directory(dir.File("fw"));
    dir.Write("fw/m100.bin",
              fwbuild::BuildPackage(fwbuild::MakePackageSpec("X_M100_V1.2.3.4", {4096})));
    dir.Write("fw/n200.bin", fwbuild::BuildNvrHeaderFile("N200_V2.0.0.7", 0, false));

    test::ChildProcess orvane;
    ASSERT_TRUE(orvane.Start(
        {dir.File("orvane"), "--headless", "--ip", "127.0.0.1", "--folder", dir.File("fw")},
        dir.Path(), dir.File("stderr.txt")));
    std::string line;
    ASSERT_TRUE(orvane.ReadLine(&line, kWaitMs));
    EXPECT_EQ(line, "ready\t127.0.0.1\t00:00:00:00:00:00");
    const std::string log = test::ReadWholeFile(dir.File("Upgrade.log"));
    EXPECT_NE(log.find("fileInfo.szVersion=M100-1.2.3.4"), std::string::npos) << log;
    EXPECT_NE(log.find("fileInfo.szVersion=N200-2.0.0.7"), std::string::npos) << log;
    EXPECT_NE(test::ReadWholeFile(dir.File("stderr.txt")).find("checked ok"), std::string::npos);

    dir.Write("fw/c300.bin", fwbuild::BuildIpcHeaderFile("Y_C300_V3.0.0.0", 0, false));
    EXPECT_TRUE(WaitForLog(dir.File("Upgrade.log"), "fileInfo.szFileName=c300.bin"));

    orvane.Signal(SIGTERM);
    EXPECT_EQ(orvane.Wait(kWaitMs), 0);
}

}  // namespace
}  // namespace orvane
