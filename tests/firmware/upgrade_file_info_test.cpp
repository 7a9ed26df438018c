#include "firmware/upgrade_file_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace orvane {
namespace {

UpgradeFileInfo Record(const char* model, const char* verNum, const char* file) {
    UpgradeFileInfo r;
    std::strncpy(r.szModel, model, sizeof r.szModel - 1);
    std::strncpy(r.szVerNum, verNum, sizeof r.szVerNum - 1);
    std::strncpy(r.szFileName, file, sizeof r.szFileName - 1);
    std::snprintf(r.szVersion, sizeof r.szVersion, "%s-%s", model, verNum);
    r.iHighestVersion = 1;
    return r;
}

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
    UpgradeFileInfo untouched = Record("keep", "1", "f");
    ParseFirmwareVersion("X_M100_V1.2.3.4", 2, &untouched);
    EXPECT_STREQ(untouched.szModel, "keep");
    EXPECT_STREQ(untouched.szVerNum, "1");
}

// Catches outranked files left in the catalogue, the newest removed, equal versions or
// version-less files dropped, models matched loosely, or the order of survivors changed.
TEST(EraseLowerVersionFilesTest, OnlyTheNewestOfEachModelStays) {
    struct Entry {
        const char* model;
        const char* verNum;
    };
    struct Case {
        const char* name;
        std::vector<Entry> catalogue;
        std::vector<size_t> survivors;  // indexes into catalogue, in order
    } cases[] = {
        {"newer second", {{"M", "1.2.3.4"}, {"M", "1.2.10.0"}}, {1}},
        {"newer first", {{"M", "1.2.10.0"}, {"M", "1.2.3.4"}}, {0}},
        {"equal both stay", {{"M", "2.0"}, {"M", "2.0.0.0"}, {"M", "1.0"}}, {0, 1}},
        {"empty version stays", {{"M", ""}, {"M", "1.0"}, {"M", "0.5"}}, {0, 1}},
        {"models apart", {{"A", "1.0"}, {"B", "2.0"}, {"A", "3.0"}, {"b", "1.0"}}, {1, 2, 3}},
        {"single", {{"M", "1"}}, {0}},
        {"empty catalogue", {}, {}},
    };
    for (const Case& c : cases) {
        std::vector<UpgradeFileInfo> catalogue;
        for (size_t i = 0; i < c.catalogue.size(); ++i) {
            std::string file = std::to_string(i) + ".bin";
            catalogue.push_back(Record(c.catalogue[i].model, c.catalogue[i].verNum, file.c_str()));
        }
        EraseLowerVersionFiles(catalogue);
        std::vector<std::string> got;
        std::vector<std::string> want;
        for (const auto& r : catalogue) {
            got.push_back(r.szFileName);
            EXPECT_EQ(r.iHighestVersion, 1) << c.name;
        }
        for (size_t i : c.survivors) {
            want.push_back(std::to_string(i) + ".bin");
        }
        EXPECT_EQ(got, want) << c.name;
    }
}

}  // namespace
}  // namespace orvane
