#include <gtest/gtest.h>
#include <signal.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "common/child_process.h"
#include "common/temp_dir.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

constexpr int kWaitMs = 20000;

// Where a crash at `t` is recorded by a child in time zone XST-8 (eight hours east of UTC).
std::string RecordPath(const std::string& folder, time_t t) {
    t += 8 * 3600;
    tm local{};
    gmtime_r(&t, &local);
    char name[64];
    std::strftime(name, sizeof name, "/CrashDir/%Y-%m-%d/%Y%m%d_%H%M%S.dmp", &local);
    return folder + name;
}

// Catches a crash without a record, one not named for its local time or not beside the settings
// file (or the program), without signal, thread, fault address or backtrace, or survived.
TEST(CrashRecordTest, CrashingChildWritesRecordAtItsTimeAndDies) {
    const struct {
        const char* kind;
        int sig;
        const char* name;
        const char* config;  // --config's file, relative to the child's folder; nullptr: none
    } cases[] = {
        {"fault", SIGSEGV, "SIGSEGV", nullptr},
        {"abort", SIGABRT, "SIGABRT", "etc/Config.ini"},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        fs::create_directories(dir.File("bin"));
        fs::create_directories(dir.File("etc"));
        fs::copy_file(test::BinDir() + "/crash_child", dir.File("bin/crash_child"));
        std::vector<std::string> argv = {"/usr/bin/env", "TZ=XST-8", dir.File("bin/crash_child"),
                                         c.kind};
        if (c.config) {
            argv.push_back(c.config);
        }
        const time_t before = std::time(nullptr);
        test::ChildProcess child;
        ASSERT_TRUE(child.Start(argv, dir.Path()));
        std::string armed;
        ASSERT_TRUE(child.ReadLine(&armed, kWaitMs)) << c.kind;
        EXPECT_EQ(child.Wait(kWaitMs), 128 + c.sig) << c.kind;

        std::vector<std::string> records;
        for (const auto& e : fs::recursive_directory_iterator(dir.Path())) {
            if (e.path().string().find("/CrashDir/") != std::string::npos && e.is_regular_file()) {
                records.push_back(e.path().string());
            }
        }
        ASSERT_EQ(records.size(), 1u) << c.kind;
        bool atItsTime = false;
        for (time_t t = before; t <= std::time(nullptr); ++t) {
            atItsTime =
                atItsTime || records[0] == RecordPath(dir.File(c.config ? "etc" : "bin"), t);
        }
        EXPECT_TRUE(atItsTime) << records[0];

        const std::string record = test::ReadWholeFile(records[0]);
        for (const std::string& part : {"signal: " + std::to_string(c.sig) + " (" + c.name + ")",
                                        std::string("thread: "), std::string("backtrace:\n")}) {
            EXPECT_NE(record.find(part), std::string::npos) << part << " in " << record;
        }
        EXPECT_GT(record.size(), record.find("backtrace:\n") + 12) << "no frames: " << record;
        if (armed.rfind("armed 0x", 0) == 0) {
            EXPECT_NE(record.find("fault address: " + armed.substr(6)), std::string::npos);
        }
    }
}

}  // namespace
}  // namespace orvane
