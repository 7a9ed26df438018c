#include "app/app_config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "common/temp_dir.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

// Every '@' of `text` replaced by `dir`: the tests' folders live in their temporary folder.
std::string At(const std::string& text, const std::string& dir) {
    return std::regex_replace(text, std::regex("@"), dir);
}

// What window initialisation took, in one line; a folder marked '*' exists afterwards.
std::string Summary(const WindowSettings& s) {
    std::string folders;
    for (const std::string& f : s.folders.Entries()) {
        folders += (folders.empty() ? "" : "|") + f + (fs::is_directory(f) ? "*" : "");
    }
    return "found=" + std::to_string(s.bConfigFound) + " folders=" + folders +
           " sel=" + std::to_string(s.folders.SelectedIndex()) +
           " forced=" + std::to_string(s.bForcedUpgrade) + " ip=" + std::to_string(s.bIpCheck) +
           " all=" + std::to_string(s.bShowAllDevices) +
           " lang=" + std::to_string(s.iLanguageSelection) +
           " test=" + std::to_string(s.bTestMode) + " log=" + std::to_string(s.iLogSwitch) +
           " logmax=" + std::to_string(s.iLogMaxMiB) + " tftp=" + std::to_string(s.bTftpWrite) +
           " max=" + std::to_string(s.iTftpMaxTransfers) +
           " win=" + std::to_string(s.iTftpMaxWindow);
}

// Catches window initialisation departing from Config.ini's rules (one row per rule).
TEST(AppConfigTest, InitialisationRules) {
    const struct {
        const char* content;  // null: no Config.ini
        const char* expected;
        bool configGiven = false;
    } cases[] = {
        {nullptr,
         "found=0 folders=@* sel=0 forced=0 ip=0 all=0 lang=-1 test=0 log=0 logmax=64 "
         "tftp=0 max=1000 win=64"},
        {"[CNFINFO]\n",
         "found=1 folders=@/Firmware* sel=0 forced=1 ip=0 all=1 lang=0 test=0 "
         "log=0 logmax=64 tftp=0 max=1000 win=64"},
        {"[CNFINFO]\nPath=|@/a||@/b|@/c|\nCurSelPath=2\nForcedUpgradeVerison=0\nIPCheck=1\n"
         "ShowAllDev=0\nAppLanguage=2\nTftpMaxTransfers=250\nLogMaxMiB=0\nTftpMaxWindow=16\n",
         "found=1 folders=@/a|@/b|@/c* sel=2 forced=0 ip=1 all=0 lang=2 test=0 log=0 logmax=64 "
         "tftp=0 max=250 win=16"},
        {"[CNFINFO]\nPath=@/a|@/b|@/c\nCurSelPath=5\nTftpMaxTransfers=99999\nLogMaxMiB=9999999\n"
         "TftpMaxWindow=99999\n",
         "found=1 folders=@/a|@/b|@/c sel=-1 forced=1 ip=0 all=1 lang=0 test=0 log=0 "
         "logmax=1048576 tftp=0 max=4096 win=65535"},
        {"[CNFINFO]\nPath=@/a\nAppLanguage=7\nTestMode=1\nLogSwitch=1\nTftpWrite=0\n"
         "TftpMaxTransfers=-5\nLogMaxMiB=2\nTftpMaxWindow=x\n",
         "found=1 folders=@/a* sel=0 forced=1 ip=0 all=1 lang=-1 test=1 log=1 logmax=2 tftp=0 "
         "max=1000 win=64"},
        {"[CNFINFO]\nPath=@/a|@/x/y\nTftpWrite=1\nCurSelPath=1\n",  // made one level deep only
         "found=1 folders=@/a|@/x/y sel=1 forced=1 ip=0 all=1 lang=0 test=0 log=0 logmax=64 "
         "tftp=1 max=1000 win=64"},
        {nullptr,
         "found=0 folders=@/Firmware* sel=0 forced=0 ip=0 all=0 lang=-1 test=0 log=0 logmax=64 "
         "tftp=0 max=1000 win=64",
         true},
        {"[CNFINFO]\nPath=@/a|@/b\nCurSelPath=-1\n",  // a saved -1 reads as the first entry
         "found=1 folders=@/a*|@/b sel=0 forced=1 ip=0 all=1 lang=0 test=0 log=0 logmax=64 "
         "tftp=0 max=1000 win=64"},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        if (c.content != nullptr) {
            dir.Write("Config.ini", At(c.content, dir.Path()));
        }
        WindowSettings s = LoadWindowSettings(dir.File("Config.ini"), dir.Path(), c.configGiven);
        EXPECT_EQ(Summary(s), At(c.expected, dir.Path()));
        EXPECT_EQ(fs::exists(dir.File("Config.ini")), c.content != nullptr);
    }
}

// Catches a Path longer than its buffer overrunning or used whole: only 2,559 bytes count.
TEST(AppConfigTest, OverlongPathIsCutAt2559Bytes) {
    test::TempDir dir;
    std::string value;
    for (int i = 0; i < 12; ++i) {
        value += (i ? "|" : "") + dir.File(std::string(200, static_cast<char>('a' + i)));
    }
    dir.Write("Config.ini", "[CNFINFO]\nPath=" + value + "\n");
    const WindowSettings s = LoadWindowSettings(dir.File("Config.ini"), dir.Path());
    std::string used;
    for (const std::string& f : s.folders.Entries()) {
        used += (used.empty() ? "" : "|") + f;
    }
    EXPECT_EQ(used, value.substr(0, 2559));
}

// Catches the Start save losing the history rules, writing the boxes wrongly, or other keys.
TEST(AppConfigTest, StartSaveWritesHistoryBoxesAndKeepsTheRest) {
    test::TempDir dir;
    std::string path;
    for (int i = 0; i < 11; ++i) {
        path += (i ? "|@/f" : "@/f") + std::to_string(i);
    }
    dir.Write("Config.ini", At("[CNFINFO]\nPath=" + path +
                                   "\nCurSelPath=3\nAppLanguage=2\nTestMode=1\n; mine\nExtra=z\n",
                               dir.Path()));
    WindowSettings s = LoadWindowSettings(dir.File("Config.ini"), dir.Path());
    s.folders.SetText("/typed");
    ASSERT_TRUE(SaveStartSettings(dir.File("Config.ini"), &s.folders, true, false, true));
    EXPECT_EQ(test::ReadWholeFile(dir.File("Config.ini")),
              At("[CNFINFO]\nPath=@/f1|@/f2|@/f3|@/f4|@/f5|@/f6|@/f7|@/f8|@/f9|@/f10\n"
                 "CurSelPath=-1\nAppLanguage=2\nTestMode=1\n; mine\nExtra=z\n"
                 "ForcedUpgradeVerison=1\nIPCheck=0\nShowAllDev=1\n",
                 dir.Path()));
}

}  // namespace
}  // namespace orvane
