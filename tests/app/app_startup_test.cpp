#include "app/app_startup.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "support/language.h"

namespace orvane {
namespace {

// Catches a wrong language: AppLanguage 1 or 2 wins, else LC_ALL, LC_MESSAGES, LANG in order.
TEST(AppStartupTest, LanguageFromConfigAndEnvironment) {
    const struct {
        int appLanguage;  // Config.ini's value, 0 when it is missing
        std::map<std::string, std::string> env;
        int expected;
    } cases[] = {
        {1, {{"LANG", "en_US.UTF-8"}}, kLanguageChinese},
        {2, {{"LANG", "zh_CN.UTF-8"}}, kLanguageEnglish},
        {0, {{"LANG", "de_DE.UTF-8"}}, kLanguageEnglish},
        {7, {{"LANG", "zh_HK.UTF-8"}}, kLanguageChinese},
        {-3, {{"LANG", "zh_SG"}}, kLanguageChinese},
        {0, {}, kLanguageEnglish},
        {0, {{"LC_ALL", "C"}, {"LANG", "zh_CN"}}, kLanguageEnglish},
        {0, {{"LC_ALL", ""}, {"LC_MESSAGES", "zh_CN"}, {"LANG", "C"}}, kLanguageChinese},
        {0, {{"LC_MESSAGES", "en_GB"}, {"LANG", "zh_CN"}}, kLanguageEnglish},
    };
    for (const auto& c : cases) {
        auto env = [&c](const char* name) -> const char* {
            auto it = c.env.find(name);
            return it == c.env.end() ? nullptr : it->second.c_str();
        };
        EXPECT_EQ(ChooseLanguage(c.appLanguage, SystemLanguageIsChinese(env)), c.expected)
            << c.appLanguage << " " << c.env.size();
    }
}

// Catches texts in the process language, not the thread's, or ids outside 101..178 shown.
TEST(AppStartupTest, TextsFollowTheThreadLanguage) {
    SetThreadUiLanguage(kLanguageChinese);
    EXPECT_STREQ(LoadText(102), "该程序已经启动!");
    EXPECT_STREQ(NetworkFailureNote(), "网络连接失败，将无法使用云端固件升级功能");
    SetThreadUiLanguage(kLanguageEnglish);
    EXPECT_STREQ(LoadText(102), "The program has started!");
    EXPECT_STREQ(LoadText(100), "unknown");
    EXPECT_STREQ(LoadText(179), "unknown");
}

}  // namespace
}  // namespace orvane
