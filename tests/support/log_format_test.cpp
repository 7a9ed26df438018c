#include "support/log_format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace orvane {
namespace {

std::string Format(const char* format, ...) {
    char out[256];
    va_list args;
    va_start(args, format);
    size_t n = FormatLogMessage(out, sizeof out, format, args);
    va_end(args);
    EXPECT_EQ(n, std::strlen(out));
    return out;
}

// What the C library makes of the same format and arguments.
template <typename... Args>
std::string Printf(const char* format, Args... args) {
    char out[256];
    std::snprintf(out, sizeof out, format, args...);
    return out;
}
#define EXPECT_AS_PRINTF(...) EXPECT_EQ(Format(__VA_ARGS__), Printf(__VA_ARGS__))

// Catches an argument read with the wrong size (every later one shifts) or a flag, width,
// precision or '*' value dropped: numbers and pointers must read as printf's.
TEST(LogFormatTest, NonTextConversionsMatchPrintf) {
    int x = 0;
    const long long big = -1234567890123LL;
    EXPECT_AS_PRINTF("%d %i %5d|%-5d|%05d %+d", 1, -2, 3, 4, 5, 6);
    // Values past 32 bits (a long's too, where it has 64): one read as an int would still print
    // a small one right.
    EXPECT_AS_PRINTF("%u %x %X %#o %lu %ld %llu %zu %lld %hhd %hd %jd %td", 7u, 255u, 255u, 8u,
                     ULONG_MAX, LONG_MIN, 10ull, size_t{1} << 33, big, 300, 13,
                     -(intmax_t{1} << 36), -(ptrdiff_t{1} << 37));
    EXPECT_AS_PRINTF("%*d|%-*d|%*d|%.*f|%.*f", 4, 1, 4, 2, -4, 3, 2, 3.14159, -1, 2.5);
    EXPECT_AS_PRINTF("%ju %jx %zx %tu", UINTMAX_MAX, uintmax_t{1} << 40, size_t{1} << 35,
                     ptrdiff_t{1} << 34);
    EXPECT_AS_PRINTF("%.3f %e %g %10.4f %Lf %p %% %s", 1.5, 2.5, 0.1, 3.0, 4.0L, &x, "end");
}

// Catches a control byte of an argument logged raw (a CR LF forges a line), the format's own
// line feeds escaped, or a precision reading past its bound.
TEST(LogFormatTest, ControlBytesOfTextArgumentsAreEscaped) {
    const char unterminated[4] = {'a', '\n', 'b', 'c'};
    const struct {
        std::string got;
        std::string want;
    } cases[] = {
        {Format("<%s>", "a\r\n [Major][01/01 00:00:00.000]x"),
         "<a\\r\\n [Major][01/01 00:00:00.000]x>"},
        {Format("%s", "\t\x01\x1f\x7f"), "\\x09\\x01\\x1F\\x7F"},
        {Format("%s", "caf\xC3\xA9 \\dir\\f.bin"), "caf\xC3\xA9 \\dir\\f.bin"},  // kept
        {Format("%.3s|", unterminated), "a\\nb|"},  // precision counts bytes read
        {Format("%5s|%-5s|", "\n", "\r"), "   \\n|\\r   |"},
        {Format("%c%c", '\r', 'z'), "\\rz"},
        {Format("%c", 0), "\\x00"},
        {Format("tftp %s\n", "x"), "tftp x\n"},  // the format's own line feed stays
        {Format("%s", static_cast<const char*>(nullptr)), "(null)"},
        {Format("<%ls|%.0ls|%.2ls>", L"w\n", L"gone", L"abc"), "<w\\n||ab>"},  // wide text
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.got, c.want);
    }
}

}  // namespace
}  // namespace orvane
