#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/child_process.h"
#include "common/netns.h"
#include "common/notify_receiver.h"
#include "common/temp_dir.h"

namespace orvane {
namespace {

constexpr int kWaitMs = 15000;

// Sets an environment variable for the programs a test starts, and puts it back afterwards.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        const char* old = std::getenv(name);
        m_bHad = old != nullptr;
        m_old = old ? old : "";
        setenv(name, value, 1);
    }
    ~ScopedEnv() {
        if (m_bHad) {
            setenv(m_name, m_old.c_str(), 1);
        } else {
            unsetenv(m_name);
        }
    }

  private:
    const char* m_name;
    bool m_bHad = false;
    std::string m_old;
};

// Catches a second instance that runs beside the first (two services on one port) or that
// ends silently or with status 0, and a first instance that the refusal disturbs.
TEST(HeadlessSettingsTest, SecondInstanceIsRefusedWhileTheFirstRuns) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    ScopedEnv english("LC_ALL", "C");
    test::TempDir dir;
    const std::string program = test::InstallProgram("orvane", dir.Path());
    test::ChildProcess first;
    ASSERT_TRUE(first.Start({program, "--headless", "--ip", "127.0.0.1", "--folder", "fw"},
                            dir.Path(), dir.File("first.err")));
    std::string line;
    ASSERT_TRUE(first.ReadLine(&line, kWaitMs));
    ASSERT_EQ(line, "ready\t127.0.0.1\t00:00:00:00:00:00");

    test::ChildProcess second;
    ASSERT_TRUE(second.Start({program, "--headless", "--ip", "127.0.0.1", "--folder", "fw"},
                             dir.Path(), dir.File("second.err")));
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
    ScopedEnv chinese("LC_ALL", "zh_CN.UTF-8");
    test::TempDir dir;
    const std::string program = test::InstallProgram("orvane", dir.Path());
    dir.Write("Config.ini", "; site settings\n[CNFINFO]\nPath=" + dir.File("a") + "|" +
                                dir.File("b") +
                                "\nCurSelPath=1\nForcedUpgradeVerison=1\nIPCheck=1\nShowAllDev=0\n"
                                "AppLanguage=0\nLogSwitch=1\nCustom=keep\n[Other]\nx=1\n");
    test::ChildProcess orvane;
    ASSERT_TRUE(orvane.Start(
        {program, "--headless", "--ip", "127.0.0.1", "--folder", "a", "--no-force", "--show-all"},
        dir.Path(), dir.File("stderr.txt")));
    std::string line;
    ASSERT_TRUE(orvane.ReadLine(&line, kWaitMs));
    ASSERT_EQ(line, "ready\t127.0.0.1\t00:00:00:00:00:00");
    orvane.Signal(SIGTERM);
    ASSERT_EQ(orvane.Wait(kWaitMs), 0);

    EXPECT_EQ(test::ReadWholeFile(dir.File("Config.ini")),
              "; site settings\n[CNFINFO]\nPath=" + dir.File("a") + "|" + dir.File("b") +
                  "\nCurSelPath=0\nForcedUpgradeVerison=0\nIPCheck=1\nShowAllDev=1\n"
                  "AppLanguage=0\nLogSwitch=1\nCustom=keep\n[Other]\nx=1\n");
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
        test::ChildProcess orvane;
        ASSERT_TRUE(orvane.Start({program, "--headless", "--ip", "127.0.0.1", "--folder", "fw"},
                                 dir.Path(), dir.File("stderr.txt")));
        std::string line;
        EXPECT_TRUE(orvane.ReadLine(&line, kWaitMs)) << c.what;
        orvane.Signal(SIGTERM);
        EXPECT_EQ(orvane.Wait(kWaitMs), 0) << c.what;
        struct stat after {};
        ASSERT_EQ(::lstat(dir.File("Config.ini").c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino) << c.what << " was replaced";
        EXPECT_EQ(after.st_size, before.st_size) << c.what;
    }
}

// Catches a service manager never told that the service listens (a start that hangs until its
// time-out) or that it is stopping, and a notice sent before the service listens.
TEST(HeadlessSettingsTest, ServiceManagerHearsReadyAndStopping) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    test::TempDir dir;
    const std::string program = test::InstallProgram("orvane", dir.Path());
    test::NotifyReceiver manager(dir.File("notify"));
    ASSERT_TRUE(manager.Bound());
    ScopedEnv notify("NOTIFY_SOCKET", dir.File("notify").c_str());
    test::ChildProcess orvane;
    ASSERT_TRUE(orvane.Start({program, "--headless", "--ip", "127.0.0.1", "--folder", "fw"},
                             dir.Path(), dir.File("stderr.txt")));
    std::string line;
    ASSERT_TRUE(orvane.ReadLine(&line, kWaitMs));
    ASSERT_EQ(line, "ready\t127.0.0.1\t00:00:00:00:00:00");
    EXPECT_EQ(manager.Receive(kWaitMs), "READY=1");
    orvane.Signal(SIGTERM);
    EXPECT_EQ(manager.Receive(kWaitMs), "STOPPING=1");
    EXPECT_EQ(orvane.Wait(kWaitMs), 0);
}

// Catches --config being ignored (the file beside the program read or written instead), its
// settings not applied, or Start's save losing the file's other lines there.
TEST(HeadlessSettingsTest, ConfigOptionNamesTheSettingsFile) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    ScopedEnv english("LC_ALL", "C");
    test::TempDir dir;
    std::filesystem::create_directories(dir.File("bin"));
    std::filesystem::create_directories(dir.File("etc"));
    const std::string program = test::InstallProgram("orvane", dir.File("bin"));
    dir.Write("etc/Config.ini",
              "[CNFINFO]\nPath=" + dir.File("fw") + "\nIPCheck=1\nLogSwitch=1\n[Site]\nkeep=1\n");
    test::ChildProcess orvane;
    ASSERT_TRUE(orvane.Start(
        {program, "--headless", "--ip", "127.0.0.1", "--config", "etc/Config.ini", "--no-show-all"},
        dir.Path(), dir.File("stderr.txt")));
    std::string line;
    ASSERT_TRUE(orvane.ReadLine(&line, kWaitMs));
    ASSERT_EQ(line, "ready\t127.0.0.1\t00:00:00:00:00:00");
    orvane.Signal(SIGTERM);
    ASSERT_EQ(orvane.Wait(kWaitMs), 0);

    EXPECT_EQ(test::ReadWholeFile(dir.File("etc/Config.ini")),
              "[CNFINFO]\nPath=" + dir.File("fw") +
                  "\nIPCheck=1\nLogSwitch=1\nCurSelPath=0\nForcedUpgradeVerison=1\n"
                  "ShowAllDev=0\n[Site]\nkeep=1\n");
    EXPECT_FALSE(std::filesystem::exists(dir.File("bin/Config.ini")));
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("fw")));
    // LogSwitch=1 came from the named file: the failed check's warning is in the log.
    EXPECT_NE(test::ReadWholeFile(dir.File("Upgrade.log")).find("[General]"), std::string::npos);

    // Without a history the settings' folder is served, never the program's.
    std::filesystem::create_directories(dir.File("new"));
    test::ChildProcess fresh;
    ASSERT_TRUE(
        fresh.Start({program, "--headless", "--ip", "127.0.0.1", "--config", "new/Config.ini"},
                    dir.Path(), dir.File("stderr.txt")));
    ASSERT_TRUE(fresh.ReadLine(&line, kWaitMs));
    fresh.Signal(SIGTERM);
    ASSERT_EQ(fresh.Wait(kWaitMs), 0);
    EXPECT_NE(
        test::ReadWholeFile(dir.File("new/Config.ini")).find("Path=" + dir.File("new") + "\n"),
        std::string::npos);
}

}  // namespace
}  // namespace orvane
