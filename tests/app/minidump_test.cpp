// Windows only: a crash leaves a minidump a debugger opens.
#include <gtest/gtest.h>
#include <process.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "platform/file.h"

namespace orvane {
namespace {

// Catches a crash or an abort that leaves no minidump, one that is not a minidump (its
// signature), or one outside CrashDir\YYYY-MM-DD\YYYYMMDD_HHMMSS.dmp beside Config.ini.
TEST(MinidumpTest, FaultAndAbortEachLeaveAMinidumpInCrashDir) {
    namespace fs = std::filesystem;
    const std::string child = platform::ExecutableDir() + "\\crash_child.exe";
    for (const char* how : {"fault", "abort"}) {
        SCOPED_TRACE(how);
        test::TempDir dir;
        dir.Write("Config.ini", "[CNFINFO]\r\n");
        const std::string ini = dir.File("Config.ini");
        const intptr_t status = _spawnl(_P_WAIT, child.c_str(), "crash_child", how,
                                        ("\"" + ini + "\"").c_str(), nullptr);
        EXPECT_NE(status, 0);
        std::vector<fs::path> dumps;
        std::error_code ec;
        for (const auto& e : fs::recursive_directory_iterator(dir.File("CrashDir"), ec)) {
            if (e.is_regular_file()) {
                dumps.push_back(e.path());
            }
        }
        ASSERT_EQ(dumps.size(), 1u);
        const std::string name = platform::FsString(dumps[0].filename());
        const std::string day = platform::FsString(dumps[0].parent_path().filename());
        ASSERT_EQ(name.size(), 19u) << name;  // YYYYMMDD_HHMMSS.dmp
        EXPECT_EQ(name.substr(8, 1) + name.substr(15), "_.dmp") << name;
        EXPECT_EQ(day, name.substr(0, 4) + "-" + name.substr(4, 2) + "-" + name.substr(6, 2));
        std::ifstream in(dumps[0], std::ios::binary);
        char signature[4] = {};
        in.read(signature, 4);
        EXPECT_EQ(std::string(signature, 4), "MDMP");
    }
}

}  // namespace
}  // namespace orvane
