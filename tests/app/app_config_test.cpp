#include "app/app_config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/profile_file.h"
#include "common/temp_dir.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

// Catches window initialisation applying the keys' defaults when Config.ini is missing (the
// boxes must stay unticked), creating the file, or not offering the program's folder.
TEST(AppConfigTest, MissingFileGivesProgramFolderAndUntickedBoxes) {
    test::TempDir dir;
    WindowSettings s = LoadWindowSettings(dir.File("Config.ini"), dir.Path());
    EXPECT_FALSE(s.bConfigFound);
    ASSERT_EQ(s.folders.Entries(), std::vector<std::string>{dir.Path()});
    EXPECT_EQ(s.folders.SelectedIndex(), 0);
    EXPECT_FALSE(s.bForcedUpgrade);
    EXPECT_FALSE(s.bIpCheck);
    EXPECT_FALSE(s.bShowAllDevices);
    EXPECT_EQ(s.iLanguageSelection, -1);
    EXPECT_FALSE(s.bTestMode);
    EXPECT_FALSE(fs::exists(dir.File("Config.ini")));
    EXPECT_FALSE(fs::exists(dir.File("Firmware")));
}

// Catches the rules of a present file: defaults of 1 for two boxes, the Firmware folder for an
// empty Path, empty pieces skipped, CurSelPath beyond the list, AppLanguage outside 0..2, and
// TestMode/LogSwitch honoured although never written.
TEST(AppConfigTest, PresentFileRules) {
    struct Case {
        const char* name;
        std::string content;
        std::vector<std::string> folders;  // "@" stands for the program folder
        int selected;
        bool forced, ipCheck, showAll;
        int language;
        bool testMode;
        int logSwitch;
    } cases[] = {
        {"empty Path and missing keys",
         "[CNFINFO]\n",
         {"@/Firmware"},
         0,
         true,
         false,
         true,
         0,
         false,
         0},
        {"three folders, third selected",
         "[CNFINFO]\nPath=|/a||/b|/c|\nCurSelPath=2\nForcedUpgradeVerison=0\nIPCheck=1\n"
         "ShowAllDev=0\nAppLanguage=2\n",
         {"/a", "/b", "/c"},
         2,
         false,
         true,
         false,
         2,
         false,
         0},
        {"selection beyond the list",
         "[CNFINFO]\nPath=/a|/b|/c\nCurSelPath=5\n",
         {"/a", "/b", "/c"},
         -1,
         true,
         false,
         true,
         0,
         false,
         0},
        {"language out of range, test mode, verbose log",
         "[CNFINFO]\nPath=/a\nAppLanguage=7\nTestMode=1\nLogSwitch=1\n",
         {"/a"},
         0,
         true,
         false,
         true,
         -1,
         true,
         1},
        {"saved -1 selection reads as the first entry",
         "[CNFINFO]\nPath=/a|/b\nCurSelPath=-1\n",
         {"/a", "/b"},
         0,
         true,
         false,
         true,
         0,
         false,
         0},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        dir.Write("Config.ini", c.content);
        WindowSettings s = LoadWindowSettings(dir.File("Config.ini"), dir.Path());
        std::vector<std::string> expected;
        for (const std::string& f : c.folders) {
            expected.push_back(f[0] == '@' ? dir.Path() + f.substr(1) : f);
        }
        EXPECT_TRUE(s.bConfigFound) << c.name;
        EXPECT_EQ(s.folders.Entries(), expected) << c.name;
        EXPECT_EQ(s.folders.SelectedIndex(), c.selected) << c.name;
        EXPECT_EQ(s.bForcedUpgrade, c.forced) << c.name;
        EXPECT_EQ(s.bIpCheck, c.ipCheck) << c.name;
        EXPECT_EQ(s.bShowAllDevices, c.showAll) << c.name;
        EXPECT_EQ(s.iLanguageSelection, c.language) << c.name;
        EXPECT_EQ(s.bTestMode, c.testMode) << c.name;
        EXPECT_EQ(s.iLogSwitch, c.logSwitch) << c.name;
    }
}

// Catches uploads refused although the operator never asked (TftpWrite is 1 without the key
// or the file) or taken although TftpWrite=0.
TEST(AppConfigTest, TftpWriteIsOnUnlessTurnedOff) {
    const std::vector<std::pair<const char*, bool>> cases = {
        {nullptr, true}, {"[CNFINFO]\n", true}, {"[CNFINFO]\nTftpWrite=0\n", false}};
    for (const auto& [content, expected] : cases) {
        test::TempDir dir;
        if (content != nullptr) {
            dir.Write("Config.ini", content);
        }
        EXPECT_EQ(LoadWindowSettings(dir.File("Config.ini"), dir.Path()).bTftpWrite, expected)
            << (content ? content : "no file");
    }
}

// Catches the Firmware folder not being created for an empty Path, or the selected folder not
// being created when missing.
TEST(AppConfigTest, SelectedFolderIsCreatedOneLevel) {
    test::TempDir dir;
    dir.Write("Config.ini", "[CNFINFO]\nPath=\n");
    LoadWindowSettings(dir.File("Config.ini"), dir.Path());
    EXPECT_TRUE(fs::is_directory(dir.File("Firmware")));

    dir.Write("Config.ini",
              "[CNFINFO]\nPath=" + dir.File("new") + "|" + dir.File("x/y") + "\nCurSelPath=1\n");
    WindowSettings s = LoadWindowSettings(dir.File("Config.ini"), dir.Path());
    EXPECT_EQ(s.folders.Text(), dir.File("x/y"));
    EXPECT_FALSE(fs::exists(dir.File("x")));  // one level only
    EXPECT_FALSE(fs::exists(dir.File("new")));
}

// Catches a Path longer than its buffer overrunning or being used whole: only 2,559 bytes
// count, so the last folder appears cut.
TEST(AppConfigTest, OverlongPathIsCutAt2559Bytes) {
    test::TempDir dir;
    std::string value;
    for (int i = 0; i < 12; ++i) {
        value += (i ? "|/" : "/") + std::string(250, static_cast<char>('a' + i));
    }
    dir.Write("Config.ini", "[CNFINFO]\nPath=" + value + "\n");
    WindowSettings s = LoadWindowSettings(dir.File("Config.ini"), dir.Path());
    const std::string used = value.substr(0, 2559);
    size_t joined = 0;
    for (const std::string& f : s.folders.Entries()) {
        joined += f.size() + 1;
    }
    EXPECT_EQ(joined - 1, used.size());
    EXPECT_EQ(s.folders.Entries().back(), used.substr(used.rfind('|') + 1));
    EXPECT_LT(s.folders.Entries().back().size(), 251u);
}

// Catches the Start save losing the history rules (eleven folders, a typed folder saved as
// -1), writing the check boxes wrongly, or disturbing the keys it does not own.
TEST(AppConfigTest, StartSaveWritesHistoryBoxesAndKeepsTheRest) {
    test::TempDir dir;
    std::string path;
    for (int i = 0; i < 11; ++i) {
        path += (i ? "|/f" : "/f") + std::to_string(i);
    }
    dir.Write("Config.ini", "[CNFINFO]\nPath=" + path +
                                "\nCurSelPath=3\nAppLanguage=2\nTestMode=1\n; mine\nExtra=z\n");
    WindowSettings s = LoadWindowSettings(dir.File("Config.ini"), dir.Path());
    s.folders.SetText("/typed");
    ASSERT_TRUE(SaveStartSettings(dir.File("Config.ini"), &s.folders, true, false, true));
    EXPECT_EQ(test::ReadWholeFile(dir.File("Config.ini")),
              "[CNFINFO]\nPath=/f1|/f2|/f3|/f4|/f5|/f6|/f7|/f8|/f9|/f10\nCurSelPath=-1\n"
              "AppLanguage=2\nTestMode=1\n; mine\nExtra=z\nForcedUpgradeVerison=1\nIPCheck=0\n"
              "ShowAllDev=1\n");
}

}  // namespace
}  // namespace orvane
