#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/child_process.h"
#include "common/netns.h"
#include "common/notify_receiver.h"
#include "common/temp_dir.h"

namespace orvane {
namespace {

constexpr int kWaitMs = 15000;
constexpr const char* kLoopbackReady = "ready\t127.0.0.1\t00:00:00:00:00:00";

// Runs `args` (environment settings first, as env takes them, then the program and its
// options) in `cwd` until its ready line, then stops it with SIGTERM; the ready line ("" when
// none came) and the exit status.
int RunUntilReady(std::vector<std::string> args, const std::string& cwd, std::string* ready) {
    args.insert(args.begin(), "/usr/bin/env");
    test::ChildProcess orvane;
    if (!orvane.Start(args, cwd, cwd + "/stderr.txt")) {
        return -1;
    }
    if (!orvane.ReadLine(ready, kWaitMs)) {
        ready->clear();
    }
    orvane.Signal(SIGTERM);
    return orvane.Wait(kWaitMs);
}

// Catches a second instance that runs beside the first (two services on one port) or that
// ends silently or with status 0, and a first instance that the refusal disturbs.
TEST(HeadlessSettingsTest, SecondInstanceIsRefusedWhileTheFirstRuns) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    test::TempDir dir;
    const std::vector<std::string> argv = {
        "/usr/bin/env", "LC_ALL=C", test::InstallProgram("orvane", dir.Path()),
        "--headless",   "--ip",     "127.0.0.1",
        "--folder",     "fw"};
    test::ChildProcess first;
    ASSERT_TRUE(first.Start(argv, dir.Path(), dir.File("first.err")));
    std::string line;
    ASSERT_TRUE(first.ReadLine(&line, kWaitMs));
    ASSERT_EQ(line, kLoopbackReady);

    test::ChildProcess second;
    ASSERT_TRUE(second.Start(argv, dir.Path(), dir.File("second.err")));
    EXPECT_EQ(second.Wait(kWaitMs), 1);
    EXPECT_EQ(test::ReadWholeFile(dir.File("second.err")), "The program has started!\n");

    EXPECT_EQ(first.Wait(0), -1) << "the first instance ended";
    first.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(kWaitMs), 0);
}

// Catches the headless mode not reading Config.ini as the window does, --folder not acting as
// a Browse, the box options not overriding, the settings not saved at Start (or other lines
// lost), and the unreachable-service note missing or in the wrong language.
TEST(HeadlessSettingsTest, ConfigIsReadOptionsApplyAndSettingsAreSaved) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    test::TempDir dir;
    const std::string program = test::InstallProgram("orvane", dir.Path());
    const std::string rest = "AppLanguage=0\nLogSwitch=1\nCustom=keep\n[Other]\nx=1\n";
    dir.Write("Config.ini",
              "; site settings\n[CNFINFO]\nPath=" + dir.File("a") + "|" + dir.File("b") +
                  "\nCurSelPath=1\nForcedUpgradeVerison=1\nIPCheck=1\nShowAllDev=0\n" + rest);
    std::string line;
    ASSERT_EQ(RunUntilReady({"LC_ALL=zh_CN.UTF-8", program, "--headless", "--ip", "127.0.0.1",
                             "--folder", "a", "--no-force", "--show-all"},
                            dir.Path(), &line),
              0);
    EXPECT_EQ(line, kLoopbackReady);
    EXPECT_EQ(test::ReadWholeFile(dir.File("Config.ini")),
              "; site settings\n[CNFINFO]\nPath=" + dir.File("a") + "|" + dir.File("b") +
                  "\nCurSelPath=0\nForcedUpgradeVerison=0\nIPCheck=1\nShowAllDev=1\n" + rest);
    EXPECT_EQ(test::ReadWholeFile(dir.File("stderr.txt")),
              "网络连接失败，将无法使用云端固件升级功能\n");
    // LogSwitch=1 opens the levels above "Major": the failed check's warning is in the log.
    EXPECT_NE(test::ReadWholeFile(dir.File("Upgrade.log")).find("[General]"), std::string::npos);
}

// Catches a Config.ini that is not a settings file stopping the program: a pipe that nobody
// writes hung start-up, a link to /dev/zero ran it out of memory. Each is taken as no file,
// and Start's save leaves it as it was.
TEST(HeadlessSettingsTest, ConfigThatIsNoRegularFileIsIgnored) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    struct Case {
        const char* what;
        bool (*make)(const test::TempDir& dir);
    } cases[] = {
        {"pipe",
         [](const test::TempDir& d) { return ::mkfifo(d.File("Config.ini").c_str(), 0644) == 0; }},
        {"link to /dev/zero",
         [](const test::TempDir& d) {
             return ::symlink("/dev/zero", d.File("Config.ini").c_str()) == 0;
         }},
        {"file over 1 MiB",
         [](const test::TempDir& d) {
             d.Write("Config.ini", "[CNFINFO]\nLogSwitch=1\n" + std::string(1 << 20, ';'));
             return true;
         }},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        const std::string program = test::InstallProgram("orvane", dir.Path());
        ASSERT_TRUE(c.make(dir)) << c.what;
        struct stat before {};
        ASSERT_EQ(::lstat(dir.File("Config.ini").c_str(), &before), 0);
        std::string line;
        EXPECT_EQ(RunUntilReady({program, "--headless", "--ip", "127.0.0.1", "--folder", "fw"},
                                dir.Path(), &line),
                  0)
            << c.what;
        EXPECT_EQ(line, kLoopbackReady) << c.what;
        struct stat after {};
        ASSERT_EQ(::lstat(dir.File("Config.ini").c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino) << c.what << " was replaced";
        EXPECT_EQ(after.st_size, before.st_size) << c.what;
    }
}

// Catches --config being ignored (the file beside the program read or written instead), its
// settings not applied, Start's save losing the file's other lines there, a program's folder
// served when no history names one, and a service manager never told that the service listens
// (a start that hangs until its time-out) or that it is stopping.
TEST(HeadlessSettingsTest, ConfigOptionNamesTheSettingsFile) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    test::TempDir dir;
    std::filesystem::create_directories(dir.File("bin"));
    std::filesystem::create_directories(dir.File("etc"));
    const std::string program = test::InstallProgram("orvane", dir.File("bin"));
    dir.Write("etc/Config.ini",
              "[CNFINFO]\nPath=" + dir.File("fw") + "\nIPCheck=1\nLogSwitch=1\n[Site]\nkeep=1\n");
    test::NotifyReceiver manager(dir.File("notify"));
    ASSERT_TRUE(manager.Bound());
    std::string line;
    ASSERT_EQ(RunUntilReady({"NOTIFY_SOCKET=" + dir.File("notify"), program, "--headless", "--ip",
                             "127.0.0.1", "--config", "etc/Config.ini", "--no-show-all"},
                            dir.Path(), &line),
              0);
    EXPECT_EQ(line, kLoopbackReady);
    EXPECT_EQ(manager.Receive(kWaitMs), "READY=1");
    EXPECT_EQ(manager.Receive(kWaitMs), "STOPPING=1");
    EXPECT_EQ(test::ReadWholeFile(dir.File("etc/Config.ini")),
              "[CNFINFO]\nPath=" + dir.File("fw") +
                  "\nIPCheck=1\nLogSwitch=1\nCurSelPath=0\nForcedUpgradeVerison=1\n"
                  "ShowAllDev=0\n[Site]\nkeep=1\n");
    EXPECT_FALSE(std::filesystem::exists(dir.File("bin/Config.ini")));
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("fw")));
    // LogSwitch=1 came from the named file: the failed check's warning is in the log.
    EXPECT_NE(test::ReadWholeFile(dir.File("Upgrade.log")).find("[General]"), std::string::npos);

    // Without a history the Firmware folder beside the settings is served (made at Start),
    // never the program's folder nor the settings' own, which holds Config.ini.
    std::filesystem::create_directories(dir.File("new"));
    ASSERT_EQ(
        RunUntilReady({program, "--headless", "--ip", "127.0.0.1", "--config", "new/Config.ini"},
                      dir.Path(), &line),
        0);
    EXPECT_NE(test::ReadWholeFile(dir.File("new/Config.ini"))
                  .find("Path=" + dir.File("new/Firmware") + "\n"),
              std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("new/Firmware")));
}

}  // namespace
}  // namespace orvane
