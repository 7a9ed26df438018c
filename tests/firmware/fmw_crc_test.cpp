#include "firmware/fmw_crc.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <random>
#include <string>

#include "common/temp_dir.h"
#include "firmware/trace_capture.h"

namespace orvane {
namespace {

uint32_t ZlibCrc(const std::string& s, size_t from, size_t len) {
    from = std::min(from, s.size());
    len = std::min(len, s.size() - from);
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(s.data() + from), static_cast<uInt>(len)));
}

std::string Pattern(size_t size) {
    std::string s(size, '\0');
    uint32_t x = 12345;
    for (char& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return s;
}

// Catches a CRC that is not the package CRC-32 (wrong preset, final XOR or table), or an
// update that does not continue the same register.
TEST(FmwCrcTest, KnownValuesAndContinuation) {
    EXPECT_EQ(fmw_crc32("abc", 3), 0x352441C2u);
    EXPECT_EQ(fmw_crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(fmw_crc32("", 0), 0u);
    EXPECT_EQ(fmw_crc32(nullptr, 10), 0u);
    EXPECT_EQ(fmw_crc32_update(fmw_crc32("ab", 2), "c", 1), 0x352441C2u);
    EXPECT_EQ(fmw_crc32_update(0x1234u, nullptr, 5), 0x1234u);
}

// Catches the fast CRC-32 disagreeing with zlib's at some length, buffer alignment or split
// point (its vector path, its tail handling and its start on an unaligned byte differ).
TEST(FmwCrcTest, EqualsZlibOnRandomLengthsAlignmentsAndSplits) {
    const std::string data = Pattern(1 << 20);
    std::mt19937 rng(20240611);
    for (int round = 0; round < 2000; ++round) {
        // Mostly short lengths, where the vector and byte paths meet; some long ones.
        const size_t len = round % 50 == 0 ? rng() % (data.size() - 64) : rng() % 1024;
        const size_t from = rng() % 64;
        const size_t split = len == 0 ? 0 : rng() % len;
        const uint32_t want = ZlibCrc(data, from, len);
        ASSERT_EQ(fmw_crc32(data.data() + from, len), want) << from << "+" << len;
        ASSERT_EQ(fmw_crc32_update(fmw_crc32(data.data() + from, split), data.data() + from + split,
                                   len - split),
                  want)
            << from << "+" << len << " split at " << split;
    }
}

// Catches range cutting that reads past the end, counts bytes twice or drops the first or
// last chunk of a file bigger than one read buffer, read inline or a few chunks ahead (long
// ranges).
TEST(FmwCrcTest, FileCrcCoversExactlyTheBytesThatExist) {
    test::TempDir dir;
    const std::string content = Pattern(3 * 1024 * 1024 + 7);
    dir.Write("f.bin", content);
    const std::string path = dir.File("f.bin");
    const size_t n = content.size();
    struct Case {
        uint32_t offset, length;
        size_t from, len;  // expected bytes
    } cases[] = {
        {0, kFmwRestOfFile, 0, n},
        {12, kFmwRestOfFile, 12, n},
        {100, 50, 100, 50},
        {1000, 1024, 1000, 1024},
        {5, 262144 * 2 + 3, 5, 262144 * 2 + 3},
        {100, 0xFFFFFFF0u, 100, n},                  // longer than what is left
        {static_cast<uint32_t>(n), 10, n, 0},        // at the end: no bytes
        {static_cast<uint32_t>(n + 100), 10, n, 0},  // beyond the end: CRC 0
        {static_cast<uint32_t>(n - 3), kFmwRestOfFile, n - 3, 3},
    };
    for (const Case& c : cases) {
        uint32_t crc = 1;
        ASSERT_TRUE(compute_file_crc(path.c_str(), c.offset, c.length, &crc));
        EXPECT_EQ(crc, ZlibCrc(content, c.from, c.len)) << c.offset << "+" << c.length;
    }
}

// Catches the one-pass scan mixing up overlapping, nested or touching ranges, or joining the
// two halves of a long file wrongly (a range across the middle, one ending on it).
TEST(FmwCrcTest, OverlappingRangesMatchSeparateReads) {
    test::TempDir dir;
    const std::string content = Pattern(3 * 1024 * 1024);
    dir.Write("f.bin", content);
    constexpr uint32_t kMiddle = 6 * 256 * 1024;  // where the second half begins
    std::vector<FmwCrcRange> ranges = {
        {12, kFmwRestOfFile, 0, 0}, {0, 100, 0, 0},     {50, 100, 0, 0},       {50, 100, 0, 0},
        {1000, 270000, 0, 0},       {2000, 10, 0, 0},   {270000, 90000, 0, 0}, {0, kMiddle, 0, 0},
        {kMiddle - 3, 7, 0, 0},     {kMiddle, 5, 0, 0}, {4000000, 5, 0, 0},    {150, 0, 0, 0},
    };
    std::FILE* f = std::fopen(dir.File("f.bin").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(ComputeRangeCrcs(f, &ranges));
    std::fclose(f);
    for (const FmwCrcRange& r : ranges) {
        size_t from = std::min<size_t>(r.offset, content.size());
        size_t len = r.length == kFmwRestOfFile ? content.size() : r.length;
        len = std::min(len, content.size() - from);
        EXPECT_EQ(r.crc, ZlibCrc(content, from, len)) << r.offset << "+" << r.length;
        EXPECT_EQ(r.bytesRead, len);
    }
}

// Catches a missing file reported as a CRC, or without its trace lines.
TEST(FmwCrcTest, MissingFileFailsWithTrace) {
    test::TraceCapture trace;
    uint32_t crc = 7;
    EXPECT_FALSE(compute_file_crc("/nonexistent/x.bin", 12, kFmwRestOfFile, &crc));
    EXPECT_EQ(trace.Take(),
              "open file (/nonexistent/x.bin), offset[12]\n"
              "failed open file (/nonexistent/x.bin)\n");
}

// Catches bytes 8..11 counted in the file CRC, or bytes from 12 on left out of it.
TEST(FmwCrcTest, FileCrcStartsAtOffsetTwelve) {
    test::TempDir dir;
    const std::string base = Pattern(4096);
    dir.Write("base.bin", base);
    uint32_t baseCrc = 0;
    ASSERT_TRUE(compute_file_crc(dir.File("base.bin").c_str(), 12, kFmwRestOfFile, &baseCrc));
    struct Case {
        size_t at;
        bool changes;
    } cases[] = {{0, false}, {8, false}, {11, false}, {12, true}, {15, true}, {4095, true}};
    for (const Case& c : cases) {
        std::string changed = base;
        changed[c.at] = static_cast<char>(changed[c.at] ^ 0x01);
        dir.Write("x.bin", changed);
        uint32_t crc = 0;
        ASSERT_TRUE(compute_file_crc(dir.File("x.bin").c_str(), 12, kFmwRestOfFile, &crc));
        EXPECT_EQ(crc != baseCrc, c.changes) << "byte " << c.at;
    }
}

}  // namespace
}  // namespace orvane
