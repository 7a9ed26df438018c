#include "support/display_text.h"

#include <gtest/gtest.h>

#include <string>

namespace orvane {
namespace {

// Catches device text that breaks a line, steers a terminal or reads as another shown whole,
// or any other character (Chinese, a stray byte, four-byte sequences) not kept byte for byte.
TEST(SafeDisplayTextTest, HiddenFormattingShowsAsQuestionMarks) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"M100-1.0\r\n\t\x1b[2J\x7f", "M100-1.0????[2J?"},
        {"a\xc2\x9b"
         "b",
         "a?b"},  // C1 CSI
        {"fw\xe2\x80\xae"
         "nib.exe",
         "fw?nib.exe"},                                   // right-to-left override
        {"\xe2\x80\x8b\xe2\x80\x8d\xef\xbb\xbf", "???"},  // zero-width space, joiner, BOM
        {"\xe2\x81\xa6x\xe2\x81\xa9\xd8\x9c", "?x??"},    // isolate, pop isolate, ALM
        {"\xe2\x80\xa8\xe2\x80\x8e", "??"},               // line separator, LRM
        {"正在下载 50%", "正在下载 50%"},
        {"\xf0\x9f\x98\x80 \xff\xe2\x80", "\xf0\x9f\x98\x80 \xff\xe2\x80"},  // kept as sent
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SafeDisplayText(c.in), c.out) << c.in;
    }
}

}  // namespace
}  // namespace orvane
