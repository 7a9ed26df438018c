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

// Catches integer values read the wrong way: signs, blanks, trailing text, overflow, and the
// difference between a missing or empty value (default) and a non-numeric one (0).
TEST(ProfileFileTest, IntegerRules) {
    struct Case {
        const char* line;  // nullptr: no such key
        int defaultValue;
        int expected;
    } cases[] = {
        {nullptr, 1, 1},                        // missing key: default
        {"Key=", 1, 1},                         // empty value: default
        {"Key=   ", 7, 7},                      // blanks only count as empty
        {"Key=0", 1, 0},                        //
        {"Key=2", 0, 2},                        //
        {"Key=12abc", 0, 12},                   // leading digits only
        {"Key=abc", 1, 0},                      // non-numeric: 0, not the default
        {"Key=-1", 1, 0},                       // negative: 0
        {"Key=+5", 1, 0},                       // a sign is not a digit
        {"Key = 3 ", 1, 3},                     // blanks around the value
        {"Key=99999999999999999", 0, INT_MAX},  // saturates instead of wrapping
        {"KEY=4", 1, 4},                        // key name without regard to case
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        std::string text = "[CNFINFO]\n";
        if (c.line) {
            text += std::string(c.line) + "\n";
        }
        dir.Write("Config.ini", text);
        EXPECT_EQ(ReadProfileInt(dir.File("Config.ini"), "CNFINFO", "Key", c.defaultValue),
                  c.expected)
            << (c.line ? c.line : "(missing)");
    }
}

// Catches a section looked up with letter case, a missing file or section read as a value, and
// a settings "file" that is none stopping the program: a pipe nobody writes (start-up hangs),
// a link to /dev/zero or a huge file (memory runs out). Each reads as no file.
TEST(ProfileFileTest, SectionAndFileLookup) {
    test::TempDir dir;
    dir.Write("a.ini", "[other]\nPath=x\n[cnfinfo]\npath=/fw\n");
    EXPECT_EQ(ReadProfileString(dir.File("a.ini"), "CNFINFO", "Path", 100).value_or("?"), "/fw");
    EXPECT_FALSE(ReadProfileString(dir.File("a.ini"), "MISSING", "Path", 100).has_value());
    EXPECT_FALSE(ReadProfileString(dir.File("none.ini"), "CNFINFO", "Path", 100).has_value());
    ASSERT_EQ(::mkfifo(dir.File("pipe.ini").c_str(), 0644), 0);
    ASSERT_EQ(::symlink("/dev/zero", dir.File("zero.ini").c_str()), 0);
    dir.Write("huge.ini", "[CNFINFO]\nPath=/fw\n" + std::string(kMaxProfileBytes, ';'));
    for (const char* name : {"pipe.ini", "zero.ini", "huge.ini"}) {
        EXPECT_FALSE(ReadProfileText(dir.File(name)).has_value()) << name;
    }
}

// Catches a buffer limit that is ignored or that leaves half a UTF-8 character at the end.
TEST(ProfileFileTest, LongValueIsCutAtLimitOnCharacterBoundary) {
    test::TempDir dir;
    dir.Write("a.ini", "[CNFINFO]\nA=abcdef\nB=ab\xE5\x9B\xBA\n");
    EXPECT_EQ(*ReadProfileString(dir.File("a.ini"), "CNFINFO", "A", 4), "abcd");
    EXPECT_EQ(*ReadProfileString(dir.File("a.ini"), "CNFINFO", "B", 4), "ab");
    EXPECT_EQ(*ReadProfileString(dir.File("a.ini"), "CNFINFO", "B", 5), "ab\xE5\x9B\xBA");
}

// Catches a write that loses or reorders lines it was not asked to change: comments, blank
// lines, other sections, unknown keys, line endings, a byte-order mark, a missing last
// line feed.
TEST(ProfileFileTest, WritingAKeyKeepsEveryOtherLine) {
    struct Case {
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
    for (const Case& c : cases) {
        test::TempDir dir;
        dir.Write("Config.ini", c.before);
        ASSERT_TRUE(WriteProfileValues(dir.File("Config.ini"), "CNFINFO", {{"Path", "/new"}}))
            << c.name;
        EXPECT_EQ(test::ReadWholeFile(dir.File("Config.ini")), c.after) << c.name;
        EXPECT_EQ(ReadProfileString(dir.File("Config.ini"), "CNFINFO", "Path", 100).value_or(""),
                  "/new")
            << c.name;
    }
}

// Catches a value with a line break writing extra lines (a folder name could add sections).
TEST(ProfileFileTest, LineBreakInValueCannotInjectLines) {
    std::string out = SetProfileValues("[CNFINFO]\n", "CNFINFO",
                                       {{"Path", "/fw\n[Evil]\nTestMode=1"}, {"IPCheck", "1"}});
    EXPECT_EQ(out, "[CNFINFO]\nPath=/fw\nIPCheck=1\n");
}

// Catches a failed write that is reported as saved, or one that destroys the old file.
TEST(ProfileFileTest, UnwritableFolderFailsAndCreatesNothing) {
    test::TempDir dir;
    EXPECT_FALSE(
        WriteProfileValues(dir.File("no-such-folder/Config.ini"), "CNFINFO", {{"Path", "/x"}}));
}

}  // namespace
}  // namespace orvane
