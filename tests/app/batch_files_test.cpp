#include "app/batch_files.h"

#include <gtest/gtest.h>

#include <string>

#include "common/temp_dir.h"

namespace orvane {
namespace {

// Catches a scope file read too loosely (a typo taken for nothing, so every device) or too
// strictly (case, "-", comments, blank lines, CR LF refused).
TEST(BatchFilesTest, ScopeFileLines) {
    struct Case {
        const char* text;
        bool ok;
        size_t macs;
        size_t models;
    };
    const Case cases[] = {
        {"# site A\r\n02:00:00:00:00:0A\r\n02-00-00-00-00-0b  # door\r\n\r\nmodel:N200\r\n", true,
         2, 1},
        {"02:00:00:00:00:0a\n02:00:00:00:00:0A\n", true, 1, 0},  // one device twice
        {"02:00:00:00:00:0a\n02:00:00:00:00\n", false, 0, 0},    // a typo refuses all
        {"model:\n", false, 0, 0},
        {"# nothing\n\n", false, 0, 0},  // names no device: never "every device"
    };
    for (const Case& c : cases) {
        BatchScope scope;
        std::string error;
        EXPECT_EQ(ParseScopeText(c.text, &scope, &error), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(scope.setMacs.size(), c.macs) << c.text;
            EXPECT_EQ(scope.setModels.size(), c.models) << c.text;
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
}

// Catches a retry that takes devices whose last line is a success, misses incomplete ones,
// splits quoted fields wrongly, or starts with a record that cannot be read or a scope file
// that is missing (which must refuse Start, not upgrade everything).
TEST(BatchFilesTest, RetryTakesTheLastLineOfEachMac) {
    test::TempDir dir;
    dir.Write("upgrades.csv",
              "time,run_started,mac,model,ip,version_before,version_after,result,status,stage,"
              "seconds\r\n"
              "t,r,02:00:00:00:00:01,M100,ip,a,,failure,\"Download failed, twice\",download,1\r\n"
              "t,r,02:00:00:00:00:02,M100,ip,a,,incomplete,x,request,1\r\n"
              "t,r,02:00:00:00:00:03,N200,ip,a,b,failure,x,kernel,1\r\n"
              "t,r,02:00:00:00:00:01,M100,ip,a,b,success,Upgrade complete,filesystem,1\r\n"
              "t,r,'=1+1,M100,ip,a,,failure,x,download,1\r\n");
    dir.Write("only.txt", "model:M100\n");
    struct Case {
        const char* scope;
        const char* record;
        bool ok;
        size_t macs;
    };
    const Case cases[] = {
        {"", "upgrades.csv", true, 2},          // 02 and 03
        {"only.txt", "upgrades.csv", true, 1},  // 02 only: 03 is an N200
        {"missing.txt", "", false, 0},
        {"", "missing.csv", false, 0},
        {"", "only.txt", false, 0},  // not a record
    };
    for (const Case& c : cases) {
        BatchOptions options;
        options.szScopeFile = *c.scope ? dir.File(c.scope) : "";
        options.szRetryFile = *c.record ? dir.File(c.record) : "";
        BatchSettings settings;
        std::string error;
        EXPECT_EQ(LoadBatchSettings(options, &settings, &error), c.ok) << c.scope << c.record;
        if (c.ok) {
            EXPECT_EQ(settings.scope.setMacs.size(), c.macs) << c.scope << c.record;
            EXPECT_EQ(settings.scope.setMacs.count("02:00:00:00:00:01"), 0u);
        } else {
            EXPECT_NE(error.find("refused"), std::string::npos) << error;
        }
    }
}

// Catches a batch setting lost on its way through Config.ini, or a save that could not be
// written reported as done (the window would not say so).
TEST(BatchFilesTest, OptionsRoundTripAndAFailedSaveIsSaid) {
    test::TempDir dir;
    dir.Write("Config.ini", "[CNFINFO]\r\nAppLanguage=2\r\n");
    BatchOptions o;
    o.szScopeFile = "D:\\site\\only.txt";
    o.szRetryFile = "upgrades.csv";
    o.iMaxAtOnce = 10;
    o.iFirstGroup = 3;
    o.iHaltAfter = 2;
    o.iStallMinutes = 1;  // the shortest wait there is
    ASSERT_TRUE(SaveBatchOptions(dir.File("Config.ini"), o));
    const BatchOptions back = ReadBatchOptions(dir.File("Config.ini"));
    EXPECT_EQ(back.szScopeFile + "|" + back.szRetryFile, o.szScopeFile + "|" + o.szRetryFile);
    EXPECT_EQ(std::to_string(back.iMaxAtOnce) + " " + std::to_string(back.iFirstGroup) + " " +
                  std::to_string(back.iHaltAfter) + " " + std::to_string(back.iStallMinutes),
              "10 3 2 1");
    EXPECT_FALSE(SaveBatchOptions(dir.File("no-such-folder/Config.ini"), o));
}

}  // namespace
}  // namespace orvane
