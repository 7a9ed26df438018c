#include "app/app_startup.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/app_config.h"
#include "common/temp_dir.h"
#include "support/language.h"

namespace orvane {
namespace {

// Catches a wrong start-up language: the AppLanguage value must win when it is 1 or 2, and
// anything else (0, 7, negative, missing) must follow LC_ALL, LC_MESSAGES, LANG in that order.
TEST(AppStartupTest, LanguageFromConfigAndEnvironment) {
    struct Case {
        const char* configLine;  // nullptr: no Config.ini at all
        std::map<std::string, std::string> env;
        int expected;
    } cases[] = {
        {"AppLanguage=1", {{"LANG", "en_US.UTF-8"}}, kLanguageChinese},
        {"AppLanguage=2", {{"LANG", "zh_CN.UTF-8"}}, kLanguageEnglish},
        {"AppLanguage=0", {{"LANG", "zh_TW.UTF-8"}}, kLanguageChinese},
        {"AppLanguage=0", {{"LANG", "de_DE.UTF-8"}}, kLanguageEnglish},
        {"AppLanguage=7", {{"LANG", "zh_HK.UTF-8"}}, kLanguageChinese},
        {"AppLanguage=7", {{"LANG", "fr_FR"}}, kLanguageEnglish},
        {"AppLanguage=-3", {{"LANG", "zh_SG"}}, kLanguageChinese},
        {nullptr, {{"LANG", "zh_CN"}}, kLanguageChinese},
        {nullptr, {}, kLanguageEnglish},
        {"AppLanguage=0", {{"LC_ALL", "C"}, {"LANG", "zh_CN"}}, kLanguageEnglish},
        {"AppLanguage=0",
         {{"LC_ALL", ""}, {"LC_MESSAGES", "zh_CN"}, {"LANG", "C"}},
         kLanguageChinese},
        {"AppLanguage=0", {{"LC_MESSAGES", "en_GB"}, {"LANG", "zh_CN"}}, kLanguageEnglish},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        if (c.configLine) {
            dir.Write("Config.ini", std::string("[CNFINFO]\n") + c.configLine + "\n");
        }
        auto env = [&c](const char* name) -> const char* {
            auto it = c.env.find(name);
            return it == c.env.end() ? nullptr : it->second.c_str();
        };
        int language =
            ChooseLanguage(GetAppLanguage(dir.File("Config.ini")), SystemLanguageIsChinese(env));
        EXPECT_EQ(language, c.expected) << (c.configLine ? c.configLine : "(no file)");
    }
}

// Catches texts loaded in the process language instead of the thread's, or an id outside
// 101..175 giving anything but "unknown" (a gap inside is refused at compile time).
TEST(AppStartupTest, TextsFollowTheThreadLanguage) {
    SetThreadUiLanguage(kLanguageChinese);
    EXPECT_STREQ(LoadText(102), "该程序已经启动!");
    EXPECT_STREQ(NetworkFailureNote(), "网络连接失败，将无法使用云端固件升级功能");
    SetThreadUiLanguage(kLanguageEnglish);
    EXPECT_STREQ(LoadText(102), "The program has started!");
    EXPECT_STREQ(LoadText(100), "unknown");
    EXPECT_STREQ(LoadText(176), "unknown");
}

}  // namespace
}  // namespace orvane
