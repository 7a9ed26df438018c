#include "support/string_table.h"

#include <gtest/gtest.h>

#include <string>

#include "support/language.h"

namespace orvane {
namespace {

// Catches a gap in either table (an id that would show "unknown") or ids outside 101..175
// answering.
TEST(StringTableTest, EveryIdInBothLanguages) {
    for (int id = 101; id <= 175; ++id) {
        const char* zh = LookupStringTable(kLanguageChinese, id);
        const char* en = LookupStringTable(kLanguageEnglish, id);
        ASSERT_NE(zh, nullptr) << id;
        ASSERT_NE(en, nullptr) << id;
        EXPECT_NE(std::string(zh), "") << id;
        EXPECT_NE(std::string(en), "") << id;
    }
    EXPECT_EQ(LookupStringTable(kLanguageEnglish, 100), nullptr);
    EXPECT_EQ(LookupStringTable(kLanguageEnglish, 176), nullptr);
}

// Catches texts swapped between ids or languages, or "corrected" wordings that operators and
// scripts would no longer recognise.
TEST(StringTableTest, TextsAreExact) {
    struct Case {
        int id;
        const char* zh;
        const char* en;
    } cases[] = {
        {101, "关于 Orvane(&A)...", "About Orvane(&A)..."},
        {102, "该程序已经启动!", "The program has started!"},
        {106, "状态", "status"},
        {114, "云端固件查询失败:", "Cloud firmware query failed:"},
        {118, "升级完成", "Upgrade complete"},
        {132, "正在烧录应用程序", "Is writting ths Application program"},
        {152, "Uboot版本号不一致，准备二次修复 ", "Uboot Version not inconsisten, second repair "},
        {158, "IP占用检测需要一定时间，若勾选该功能，\n建议同时升级设备不要超过10台!",
         "IP occupation detection takes a certain amount of time, if this function is checked, "
         "it is recommended that no more than 10 devices be upgraded at the same time!"},
        {165, "网络端口绑定失败！", "The network port binding failed!"},
        {167, "设备版本高于升级文件", "The target firmware version is lower"},
        {175, "下载出错！", "downlaod error"},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(LookupStringTable(kLanguageChinese, c.id), c.zh) << c.id;
        EXPECT_STREQ(LookupStringTable(kLanguageEnglish, c.id), c.en) << c.id;
    }
}

}  // namespace
}  // namespace orvane
