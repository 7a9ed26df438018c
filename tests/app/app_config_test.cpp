#include "app/app_config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/temp_dir.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

// Every '@' of `text` replaced by `dir`: the tests' folders live in their temporary folder.
std::string At(std::string text, const std::string& dir) {
    for (size_t at; (at = text.find('@')) != std::string::npos;) {
        text.replace(at, 1, dir);
    }
    return text;
}

std::string Folders(const WindowSettings& s) {
    std::string folders;
    for (const std::string& f : s.folders.Entries()) {
        folders += (folders.empty() ? "" : "|") + f;
    }
    return folders;
}

// What window initialisation took, in one line.
std::string Summary(const WindowSettings& s) {
    return "found=" + std::to_string(s.bConfigFound) + " folders=" + Folders(s) +
           " sel=" + std::to_string(s.folders.SelectedIndex()) +
           " forced=" + std::to_string(s.bForcedUpgrade) + " ip=" + std::to_string(s.bIpCheck) +
           " all=" + std::to_string(s.bShowAllDevices) +
           " lang=" + std::to_string(s.iLanguageSelection) +
           " test=" + std::to_string(s.bTestMode) + " log=" + std::to_string(s.iLogSwitch) +
           " tftp=" + std::to_string(s.bTftpWrite) + " max=" + std::to_string(s.iTftpMaxTransfers);
}

// Catches window initialisation that departs from the stored file's rules (one row per rule:
// missing file, defaults, folder list and selection, bounds of each value, --config's folder).
TEST(AppConfigTest, InitialisationRules) {
    struct Case {
        const char* content;  // null: no Config.ini
        const char* expected;
        bool configGiven = false;
    } cases[] = {
        {nullptr,
         "found=0 folders=@ sel=0 forced=0 ip=0 all=0 lang=-1 test=0 log=0 tftp=0 max=1000"},
        {"[CNFINFO]\n",
         "found=1 folders=@/Firmware sel=0 forced=1 ip=0 all=1 lang=0 test=0 log=0 tftp=0 "
         "max=1000"},
        {"[CNFINFO]\nPath=|@/a||@/b|@/c|\nCurSelPath=2\nForcedUpgradeVerison=0\nIPCheck=1\n"
         "ShowAllDev=0\nAppLanguage=2\nTftpMaxTransfers=250\n",
         "found=1 folders=@/a|@/b|@/c sel=2 forced=0 ip=1 all=0 lang=2 test=0 log=0 tftp=0 "
         "max=250"},
        {"[CNFINFO]\nPath=@/a|@/b|@/c\nCurSelPath=5\nTftpMaxTransfers=99999\n",
         "found=1 folders=@/a|@/b|@/c sel=-1 forced=1 ip=0 all=1 lang=0 test=0 log=0 tftp=0 "
         "max=4096"},
        {"[CNFINFO]\nPath=@/a\nAppLanguage=7\nTestMode=1\nLogSwitch=1\nTftpWrite=0\n"
         "TftpMaxTransfers=-5\n",
         "found=1 folders=@/a sel=0 forced=1 ip=0 all=1 lang=-1 test=1 log=1 tftp=0 max=1000"},
        {"[CNFINFO]\nPath=@/a\nTftpWrite=1\n",
         "found=1 folders=@/a sel=0 forced=1 ip=0 all=1 lang=0 test=0 log=0 tftp=1 max=1000"},
        {nullptr,
         "found=0 folders=@/Firmware sel=0 forced=0 ip=0 all=0 lang=-1 test=0 log=0 tftp=0 "
         "max=1000",
         true},
        {"[CNFINFO]\nPath=@/a|@/b\nCurSelPath=-1\n",  // a saved -1 reads as the first entry
         "found=1 folders=@/a|@/b sel=0 forced=1 ip=0 all=1 lang=0 test=0 log=0 tftp=0 max=1000"},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        if (c.content != nullptr) {
            dir.Write("Config.ini", At(c.content, dir.Path()));
        }
        WindowSettings s = LoadWindowSettings(dir.File("Config.ini"), dir.Path(), c.configGiven);
        EXPECT_EQ(Summary(s), At(c.expected, dir.Path()));
        EXPECT_EQ(fs::exists(dir.File("Config.ini")), c.content != nullptr);
        EXPECT_EQ(fs::exists(dir.File("Firmware")),
                  c.configGiven || (c.content && std::string(c.content) == "[CNFINFO]\n"));
    }
}

// Catches the selected folder not being created when missing, or created more than one level
// deep, or a folder that is not selected created.
TEST(AppConfigTest, SelectedFolderIsCreatedOneLevel) {
    test::TempDir dir;
    const std::string path = "[CNFINFO]\nPath=" + dir.File("new") + "|" + dir.File("x/y");
    dir.Write("Config.ini", path + "\nCurSelPath=1\n");
    LoadWindowSettings(dir.File("Config.ini"), dir.Path());
    EXPECT_FALSE(fs::exists(dir.File("x")));
    EXPECT_FALSE(fs::exists(dir.File("new")));
    dir.Write("Config.ini", path + "\nCurSelPath=0\n");
    LoadWindowSettings(dir.File("Config.ini"), dir.Path());
    EXPECT_TRUE(fs::is_directory(dir.File("new")));
}

// Catches a Path longer than its buffer overrunning or being used whole: only 2,559 bytes
// count, so the last folder appears cut.
TEST(AppConfigTest, OverlongPathIsCutAt2559Bytes) {
    test::TempDir dir;
    std::string value;
    for (int i = 0; i < 12; ++i) {
        value += (i ? "|" : "") + dir.File(std::string(200, static_cast<char>('a' + i)));
    }
    dir.Write("Config.ini", "[CNFINFO]\nPath=" + value + "\n");
    WindowSettings s = LoadWindowSettings(dir.File("Config.ini"), dir.Path());
    const std::string used = value.substr(0, 2559);
    EXPECT_EQ(Folders(s), used);
    EXPECT_EQ(s.folders.Entries().back(), used.substr(used.rfind('|') + 1));
}

// Catches the Start save losing the history rules (eleven folders, a typed folder saved as
// -1), writing the check boxes wrongly, or disturbing the keys it does not own.
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
