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

}  // namespace
}  // namespace orvane
