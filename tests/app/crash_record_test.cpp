#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
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

std::string ExpectedRecord(const std::string& programDir, time_t when) {
    tm t{};
    localtime_r(&when, &t);
    char day[32];
    char file[32];
    std::strftime(day, sizeof day, "%Y-%m-%d", &t);
    std::strftime(file, sizeof file, "%Y%m%d_%H%M%S.dmp", &t);
    return programDir + "/CrashDir/" + day + "/" + file;
}

std::vector<std::string> RecordsUnder(const std::string& dir) {
    std::vector<std::string> found;
    std::error_code ec;
    if (!fs::exists(dir, ec)) {
        return found;
    }
    for (const auto& e : fs::recursive_directory_iterator(dir, ec)) {
        if (e.is_regular_file()) {
            found.push_back(e.path().string());
        }
    }
    return found;
}

// Catches a fatal signal that leaves no record, a record at a path that is not the crash's
// local time beside the settings file (beside the program unless named: an installed
// program's folder is not writable), a record without its signal, fault address or backtrace,
// and a process that survives its crash or ends with another signal.
TEST(CrashRecordTest, CrashingChildWritesRecordAtItsTimeAndDies) {
    struct Case {
        const char* kind;
        int sig;
        const char* name;
        const char* tz;      // the child's time zone; nullptr keeps the test's
        const char* config;  // --config's file, relative to the child's folder; nullptr: none
    } cases[] = {
        {"fault", SIGSEGV, "SIGSEGV", nullptr, nullptr},
        {"abort", SIGABRT, "SIGABRT", "XST-8", "etc/Config.ini"},
    };
    const char* oldTz = std::getenv("TZ");
    const std::string savedTz = oldTz ? oldTz : "";
    for (const Case& c : cases) {
        test::TempDir dir;
        fs::create_directories(dir.File("bin"));
        fs::create_directories(dir.File("etc"));
        const std::string program = dir.File("bin/crash_child");
        fs::copy_file(test::BinDir() + "/crash_child", program);
        c.tz ? setenv("TZ", c.tz, 1) : (oldTz ? setenv("TZ", savedTz.c_str(), 1) : unsetenv("TZ"));
        tzset();
        const time_t before = std::time(nullptr);
        test::ChildProcess child;
        std::vector<std::string> argv = {program, c.kind};
        if (c.config) {
            argv.push_back(c.config);
        }
        ASSERT_TRUE(child.Start(argv, dir.Path()));
        std::string line;
        ASSERT_TRUE(child.ReadLine(&line, kWaitMs)) << c.kind;
        EXPECT_EQ(child.Wait(kWaitMs), 128 + c.sig) << c.kind;
        const time_t after = std::time(nullptr);

        const std::string recordDir = dir.File(c.config ? "etc" : "bin");
        std::vector<std::string> records = RecordsUnder(dir.File("bin/CrashDir"));
        for (const std::string& r : RecordsUnder(dir.File("etc/CrashDir"))) {
            records.push_back(r);
        }
        ASSERT_EQ(records.size(), 1u) << c.kind;
        bool atItsTime = false;
        for (time_t t = before; t <= after; ++t) {
            atItsTime = atItsTime || records[0] == ExpectedRecord(recordDir, t);
        }
        EXPECT_TRUE(atItsTime) << records[0];

        const std::string record = test::ReadWholeFile(records[0]);
        EXPECT_NE(record.find("signal: " + std::to_string(c.sig) + " (" + c.name + ")"),
                  std::string::npos)
            << record;
        EXPECT_NE(record.find("thread: "), std::string::npos) << record;
        size_t trace = record.find("backtrace:\n");
        ASSERT_NE(trace, std::string::npos) << record;
        EXPECT_GT(record.size(), trace + 12) << "no frames: " << record;
        if (line.rfind("armed 0x", 0) == 0) {
            EXPECT_NE(record.find("fault address: " + line.substr(6)), std::string::npos) << record;
        }
    }
    oldTz ? setenv("TZ", savedTz.c_str(), 1) : unsetenv("TZ");
    tzset();
}

}  // namespace
}  // namespace orvane
