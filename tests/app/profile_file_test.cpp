#include "app/profile_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "common/temp_dir.h"

namespace orvane {
namespace {

// Catches integers misread: signs, blanks, trailing text, overflow, empty vs non-numeric.
TEST(ProfileFileTest, IntegerRules) {
    const struct {
        const char* line;  // nullptr: no such key
        int defaultValue;
        int expected;
    } cases[] = {
        {nullptr, 1, 1},                        // missing key: default
        {"Key=", 1, 1},                         // empty value: default
        {"Key=0", 1, 0},                        //
        {"Key=12abc", 0, 12},                   // leading digits only
        {"Key=abc", 1, 0},                      // non-numeric: 0, not the default
        {"Key=-1", 1, 0},                       // negative: 0
        {"Key=+5", 1, 0},                       // a sign is not a digit
        {"Key = 3 ", 1, 3},                     // blanks around the value
        {"Key=99999999999999999", 0, INT_MAX},  // saturates instead of wrapping
        {"KEY=4", 1, 4},                        // key name without regard to case
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        dir.Write("Config.ini", std::string("[CNFINFO]\n") + (c.line ? c.line : "") + "\n");
        EXPECT_EQ(ReadProfileInt(dir.File("Config.ini"), "CNFINFO", "Key", c.defaultValue),
                  c.expected)
            << (c.line ? c.line : "(missing)");
    }
}

// Catches a section's case heeded, a missing one read, a limit ignored or cutting a UTF-8
// character, a "file" that is none (a pipe hangs, /dev/zero or a huge one eats memory) read or
// replaced, and a failed write taken as saved.
TEST(ProfileFileTest, SectionAndFileLookup) {
    test::TempDir dir;
    dir.Write("a.ini", "[other]\nPath=x\n[cnfinfo]\npath=/fw\nA=abcdef\nB=ab\xE5\x9B\xBA\n");
    EXPECT_EQ(*ReadProfileString(dir.File("a.ini"), "CNFINFO", "A", 4), "abcd");  // cut at 4
    EXPECT_EQ(*ReadProfileString(dir.File("a.ini"), "CNFINFO", "B", 4), "ab");    // and whole
    EXPECT_EQ(*ReadProfileString(dir.File("a.ini"), "CNFINFO", "B", 5), "ab\xE5\x9B\xBA");
    EXPECT_EQ(ReadProfileString(dir.File("a.ini"), "CNFINFO", "Path", 100).value_or("?"), "/fw");
    EXPECT_FALSE(ReadProfileString(dir.File("a.ini"), "MISSING", "Path", 100).has_value());
    EXPECT_FALSE(ReadProfileString(dir.File("none.ini"), "CNFINFO", "Path", 100).has_value());
    // Windows editors begin a UTF-8 file with its byte-order mark.
    dir.Write("bom.ini", "\xEF\xBB\xBF[CNFINFO]\r\nPath=D:\\\xE5\x9B\xBA\r\n");
    EXPECT_EQ(ReadProfileString(dir.File("bom.ini"), "CNFINFO", "Path", 100).value_or("?"),
              "D:\\\xE5\x9B\xBA");
    ASSERT_EQ(::mkfifo(dir.File("pipe.ini").c_str(), 0644), 0);
    ASSERT_EQ(::symlink("/dev/zero", dir.File("zero.ini").c_str()), 0);
    dir.Write("huge.ini", "[CNFINFO]\nPath=/fw\n" + std::string(kMaxProfileBytes, ';'));
    for (const char* name : {"pipe.ini", "zero.ini", "huge.ini"}) {
        EXPECT_FALSE(ReadProfileText(dir.File(name)).has_value()) << name;
    }
    for (const char* name : {"pipe.ini", "no-such-folder/Config.ini"}) {
        EXPECT_FALSE(WriteProfileValues(dir.File(name), "CNFINFO", {{"Path", "/x"}})) << name;
    }
}

// Catches a write losing or reordering any line it was not asked to change, or a line break in
// a value writing extra lines (a folder name could add sections).
TEST(ProfileFileTest, WritingAKeyKeepsEveryOtherLine) {
    const struct {
        const char* name;
        std::string before;
        std::string after;
    } cases[] = {
        {"replace in place",
         "; operator notes\n[CNFINFO]\nPath=/old\n  # keep me\nUnknown=1\n\n[Other]\nPath=/x\n",
         "; operator notes\n[CNFINFO]\nPath=/new\n  # keep me\nUnknown=1\n\n[Other]\nPath=/x\n"},
        {"own spelling and spacing kept", "[cnfinfo]\r\n  PATH = /old\r\n",
         "[cnfinfo]\r\n  PATH = /new\r\n"},
        {"missing key added after the last entry, before the next section's comment",
         "[CNFINFO]\nIPCheck=1\n\n; next\n[Other]\nk=v\n",
         "[CNFINFO]\nIPCheck=1\nPath=/new\n\n; next\n[Other]\nk=v\n"},
        {"added after a line of the section that is no entry", "[CNFINFO]\nIPCheck=1\njunk\n",
         "[CNFINFO]\nIPCheck=1\njunk\nPath=/new\n"},
        {"missing section appended, CR LF kept", "[Other]\r\nk=v",
         "[Other]\r\nk=v\r\n[CNFINFO]\r\nPath=/new\r\n"},
        {"byte-order mark on the section line", "\xEF\xBB\xBF[CNFINFO]\nPath=/old\n",
         "\xEF\xBB\xBF[CNFINFO]\nPath=/new\n"},
        {"every copy of a repeated key", "[CNFINFO]\nPath=/a\n[CNFINFO]\nPath=/b\n",
         "[CNFINFO]\nPath=/new\n[CNFINFO]\nPath=/new\n"},
        {"empty file", "", "[CNFINFO]\nPath=/new\n"},
        {"a key before any section is no key of the section", "Path=/top\n",
         "Path=/top\n[CNFINFO]\nPath=/new\n"},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        dir.Write("Config.ini", c.before);
        ASSERT_TRUE(WriteProfileValues(dir.File("Config.ini"), "CNFINFO", {{"Path", "/new"}}))
            << c.name;
        EXPECT_EQ(test::ReadWholeFile(dir.File("Config.ini")), c.after) << c.name;
        EXPECT_EQ(ReadProfileString(dir.File("Config.ini"), "CNFINFO", "Path", 100).value_or(""),
                  "/new")
            << c.name;
    }
    EXPECT_EQ(SetProfileValues("[CNFINFO]\n", "CNFINFO",
                               {{"Path", "/fw\n[Evil]\nTestMode=1"}, {"IPCheck", "1"}}),
              "[CNFINFO]\nPath=/fw\nIPCheck=1\n");
}

}  // namespace
}  // namespace orvane
