#include "firmware/upgrade_file_info.h"

#include <gtest/gtest.h>

#include <string>

namespace orvane {
namespace {

// Catches versions compared as text, missing fields not read as 0, a number overflow
// wrapping, or an empty second version not flagged.
TEST(CompareVersionTest, DottedNumbersCompareAsFourIntegers) {
    struct Case {
        const char* a;
        const char* b;
        int expected;
    } cases[] = {
        {"1.2.10.0", "1.2.3.4", 1},
        {"1.2.3.4", "1.2.10.0", -1},
        {"1.2.3.4", "1.2.3.4", 0},
        {"1.2", "1.2.0.0", 0},
        {"V1.2", "0.0.0.0", 0},
        {"2", "1.9.9.9", 1},
        {"1.2.3.4.9", "1.2.3.4", 0},  // a fifth number is not read
        {"1.2x.7", "1.2.0.0", 0},     // reading stops at the first misfit
        {"1..3", "1.0.0.0", 0},
        {"-1", "0", -1},
        {" 3", "2", 1},  // blanks before a number are skipped, as by %d
        {"99999999999", "2147483647", 0},
        {"-99999999999", "-2147483648", 0},
        {"", "0", 0},
        {"1.2.3.4", "", -2},
        {"", "", -2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CompareVersion(c.a, c.b), c.expected) << '"' << c.a << "\" vs \"" << c.b << '"';
    }
}

// Catches fields split differently from a tokenizer, the wrong field taken per kind, or the
// 63-character cuts missing.
TEST(ParseFirmwareVersionTest, FieldsByKind) {
    const std::string longModel(80, 'M');
    struct Case {
        std::string text;
        int kind;
        std::string model;
        std::string verNum;
    } cases[] = {
        {"X_M100_V1.2.3.4", kFirmwareIpc, "M100", "1.2.3.4"},
        {"N200_V2.0.0.7", kFirmwareNvr, "N200", "2.0.0.7"},
        {"X_M100_V1.2.3.4_extra_more", kFirmwareIpc, "M100", "1.2.3.4"},
        {"N200_V2.0_rc1", kFirmwareNvr, "N200", "2.0"},
        {"__X__M100___V1.2__", kFirmwareIpc, "M100", "1.2"},
        {"X_M100_V", kFirmwareIpc, "M100", ""},
        {"X_M100", kFirmwareIpc, "M100", ""},
        {"X", kFirmwareIpc, "", ""},
        {"", kFirmwareNvr, "", ""},
        {"X_" + longModel + "_V" + std::string(70, '9'), kFirmwareIpc, std::string(63, 'M'),
         std::string(63, '9')},
    };
    for (const Case& c : cases) {
        UpgradeFileInfo r;
        ParseFirmwareVersion(c.text.c_str(), c.kind, &r);
        EXPECT_EQ(std::string(r.szModel), c.model) << c.text;
        EXPECT_EQ(std::string(r.szVerNum), c.verNum) << c.text;
    }
}

}  // namespace
}  // namespace orvane
