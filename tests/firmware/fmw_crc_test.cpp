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

// Catches the fast CRC-32 disagreeing with zlib's at some length, buffer alignment or split
// point (its vector path, its tail handling and its start on an unaligned byte differ), or a
// null pointer read.
TEST(FmwCrcTest, EqualsZlibOnRandomLengthsAlignmentsAndSplits) {
    EXPECT_EQ(fmw_crc32(nullptr, 10), 0u);
    EXPECT_EQ(fmw_crc32_update(0x1234u, nullptr, 5), 0x1234u);
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

// Catches the one-pass scan reading past the end, counting bytes twice, dropping the first or
// last chunk, mixing up overlapping, nested or touching ranges, or joining the two halves of a
// long file wrongly (a range across the middle, one ending on it); and a missing file reported
// as a CRC or without its trace lines.
TEST(FmwCrcTest, RangesMatchSeparateReadsOfTheBytesThatExist) {
    test::TempDir dir;
    test::TraceCapture trace;
    const std::string content = Pattern(3 * 1024 * 1024 + 7);
    dir.Write("f.bin", content);
    const uint32_t n = static_cast<uint32_t>(content.size());
    constexpr uint32_t kMiddle = 6 * 256 * 1024;  // where the second half begins
    // Overlapping, nested, touching, across and ending on the middle, longer than what is
    // left, at and beyond the end, empty.
    const uint32_t rest = kFmwRestOfFile;
    std::vector<FmwCrcRange> ranges = {
        {12, rest, 0, 0},       {0, 100, 0, 0},      {50, 100, 0, 0},          {50, 100, 0, 0},
        {1000, 270000, 0, 0},   {2000, 10, 0, 0},    {270000, 90000, 0, 0},    {0, kMiddle, 0, 0},
        {kMiddle - 3, 7, 0, 0}, {kMiddle, 5, 0, 0},  {100, 0xFFFFFFF0u, 0, 0}, {n - 3, rest, 0, 0},
        {n, 10, 0, 0},          {n + 100, 10, 0, 0}, {150, 0, 0, 0},
    };
    std::FILE* f = std::fopen(dir.File("f.bin").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(ComputeRangeCrcs(f, &ranges));
    std::fclose(f);
    for (const FmwCrcRange& r : ranges) {
        size_t from = std::min<size_t>(r.offset, content.size());
        size_t len = std::min<size_t>(r.length, content.size() - from);
        EXPECT_EQ(r.crc, ZlibCrc(content, from, len)) << r.offset << "+" << r.length;
        EXPECT_EQ(r.bytesRead, len);
    }
    uint32_t crc = 1;
    ASSERT_TRUE(compute_file_crc(dir.File("f.bin").c_str(), 12, kFmwRestOfFile, &crc));
    EXPECT_EQ(crc, ZlibCrc(content, 12, n));
    trace.Take();
    EXPECT_FALSE(compute_file_crc("/nonexistent/x.bin", 12, kFmwRestOfFile, &crc));
    EXPECT_EQ(trace.Take(),
              "open file (/nonexistent/x.bin), offset[12]\n"
              "failed open file (/nonexistent/x.bin)\n");
}

}  // namespace
}  // namespace orvane
