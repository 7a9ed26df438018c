#include "firmware/fmw_package.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <random>
#include <string>

#include "common/temp_dir.h"
#include "firmware/fmw_crc.h"
#include "firmware/trace_capture.h"
#include "tools/fmw_builder.h"

namespace orvane {
namespace {

using fwbuild::Damage;

constexpr size_t kAtVaNums = 48;  // the mark count in the fixed area

class FmwPackageTest : public ::testing::Test {
  protected:
    // Writes `bytes` as a package file and opens it; the reader's code.
    int Open(const std::string& bytes, FmwHandlePtr* handle = nullptr) {
        m_dir.Write("p.bin", bytes);
        int code = -1;
        FmwHandlePtr h = create_fmw_header(m_dir.File("p.bin").c_str(), &code);
        EXPECT_EQ(h != nullptr, code == 0);
        if (handle != nullptr) {
            *handle = std::move(h);
        }
        m_szTrace = m_trace.Take();
        return code;
    }
    static std::string Valid() {
        return fwbuild::BuildPackage(fwbuild::MakePackageSpec("X_M100_V1.2.3.4", {3000, 10}));
    }
    static std::string WithMark(int32_t start, uint32_t size, std::optional<uint32_t> header) {
        auto plan = fwbuild::MakePackageSpec("X_M_V1", {64});
        plan.vecMarks.push_back(fwbuild::MarkSpec{5, "abc", false, start, size});
        plan.headerSize = header;
        return fwbuild::BuildPackage(plan);
    }

    test::TempDir m_dir;
    test::TraceCapture m_trace;
    std::string m_szTrace;
};

// Catches a damaged or hostile package accepted (or refused with the wrong code), the magic
// not following the signed package type, image slots checked beyond the bytes that exist or
// empty ones counted, a handle handed out anyway, the fixed-area CRC checked
// after the marks it guards, and a header that makes the reader allocate or checksum beyond its
// buffer or the file (ASan flags an overrun).
TEST_F(FmwPackageTest, EachFaultHasItsCode) {
    auto damaged = [](Damage d) {
        auto plan = fwbuild::MakePackageSpec("X_M_V1", {100, 200});
        plan.damage = d;
        plan.iDamageSlot = 1;
        return fwbuild::BuildPackage(plan);
    };
    auto patched = [](size_t at, uint32_t value) {
        std::string b = Valid();
        fwbuild::PutU32(&b, at, value);
        fwbuild::SignPackage(&b);
        return b;
    };
    std::string fixedArea = Valid();
    fixedArea[100] = static_cast<char>(fixedArea[100] ^ 0x40);
    // A byte behind every image is covered by nothing but the file CRC.
    std::string trailing = Valid() + std::string(16, '\0');
    fwbuild::SignPackage(&trailing);
    trailing.back() = 1;
    auto manyMarks = fwbuild::MakePackageSpec("X_M_V1", {20000});
    for (int i = 0; i < 64; ++i) {  // each naming one large text: more than the file holds
        manyMarks.vecMarks.push_back(fwbuild::MarkSpec{5, "", true, 300, 19000});
    }
    manyMarks.headerSize = 0xFFFFFFFFu;
    auto typed = [](const char* magic, int32_t type) {  // the type is signed: 7/8 is the cut
        auto plan = fwbuild::MakePackageSpec("X_M_V1", {64});
        plan.szMagic = magic;
        plan.iFmwType = type;
        return fwbuild::BuildPackage(plan);
    };
    auto slots = fwbuild::MakePackageSpec("X_M_V1", {100, 0, 50});
    slots.vecImages[0].storedSize = 100000;  // runs past the end
    slots.vecImages[2].start = 0x7FFFFFF0u;  // starts beyond the end: CRC 0
    struct Case {
        const char* name;
        std::string bytes;
        int code;
        const char* traced = "";
    } cases[] = {
        {"valid", Valid(), 0},
        {"247 bytes", std::string(247, 'Q'), 2},
        {"magic", damaged(Damage::kMagic), 9},
        {"FMW type 7", typed("QVRFMW22", 7), 0},
        {"FMW type 8", typed("QVRFMW22", 8), 9},
        {"FMW type -1", typed("QVRFMW22", -1), 0},
        {"ALG type 8", typed("QVRALG22", 8), 0},
        {"ALG type 7", typed("QVRALG22", 7), 9},
        {"ALG type -1", typed("QVRALG22", -1), 9},
        {"ALG type 1000", typed("QVRALG22", 1000), 0},
        {"fa crc", damaged(Damage::kFaCrc), 10},
        {"fixed area changed", fixedArea, 10},
        {"mark count overflows", patched(kAtVaNums, 0xFFFFFFFFu), 11},
        {"no marks", patched(kAtVaNums, 0), 12},
        {"marks past the end", patched(kAtVaNums, 0x10000000u), 12},
        {"vamark crc", damaged(Damage::kVaMarkCrc), 13},
        {"header crc", damaged(Damage::kHeaderCrc), 14},
        {"header size below 248", WithMark(260, 3, 200u), 14},
        {"marks need more than the header", WithMark(260, 3, 270u), 14},
        {"text size huge", WithMark(260, 0xFFFFFFF0u, 0xFFFFFFFFu), 14},
        {"text past the end", WithMark(0x7FFFFF00, 4, {}), 14},
        {"negative text start", WithMark(-8, 4, {}), 14},
        {"marks together larger than the file", fwbuild::BuildPackage(manyMarks), 14},
        {"file crc", damaged(Damage::kFileCrc), 15},
        {"byte behind the images", trailing, 15},
        {"image crc", damaged(Damage::kImageCrc), 16},
        {"no images", fwbuild::BuildPackage(fwbuild::MakePackageSpec("X_M_V1", {})), 0},
        {"images over the bytes that exist, an empty slot", fwbuild::BuildPackage(slots), 0,
         "All of [2] imgs crc checked OK"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Open(c.bytes), c.code) << c.name << ":\n" << m_szTrace;
        EXPECT_NE(m_szTrace.find(c.traced), std::string::npos) << c.name;
        if (c.code == 10) {  // the fixed area is checked before a single mark is read
            EXPECT_EQ(m_szTrace.find("va_nums["), std::string::npos) << c.name;
        }
    }
}

// Catches the wrong mark chosen for a tag, a size-0 mark handing out text, or a text without
// terminator read beyond its size.
TEST_F(FmwPackageTest, MarkLookup) {
    auto plan = fwbuild::MakePackageSpec("X_FIRST_V1", {8});
    plan.vecMarks.push_back(fwbuild::MarkSpec{4, "X_SECOND_V2", false, {}, {}});
    plan.vecMarks.push_back(fwbuild::MarkSpec{9, "RAW", true, {}, {}});
    plan.vecMarks.push_back(fwbuild::MarkSpec{7, "", true, {}, {}});
    FmwHandlePtr h;
    ASSERT_EQ(Open(fwbuild::BuildPackage(plan), &h), 0) << m_szTrace;
    EXPECT_STREQ(get_fmw_va_inform(h.get(), 4), "X_FIRST_V1");
    EXPECT_STREQ(get_fmw_va_inform(h.get(), 9), "RAW");
    EXPECT_EQ(get_fmw_va_inform(h.get(), 7), nullptr);
    EXPECT_EQ(get_fmw_va_inform(h.get(), 5), nullptr);
    EXPECT_EQ(get_fmw_va_inform(nullptr, 4), nullptr);
    EXPECT_EQ(destroy_fmw_header(std::move(h)), 0);
}

uint32_t ZlibCrc(const std::string& s, size_t from, size_t len) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(s.data() + from), static_cast<uInt>(len)));
}

std::string Pattern(size_t size) {
    std::mt19937 rng(12345);
    std::string s(size, '\0');
    for (char& c : s) {
        c = static_cast<char>(rng());
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
    EXPECT_EQ(crc, ZlibCrc(content, 12, n - 12));
    trace.Take();
    EXPECT_FALSE(compute_file_crc("/nonexistent/x.bin", 12, kFmwRestOfFile, &crc));
    EXPECT_EQ(trace.Take(),
              "open file (/nonexistent/x.bin), offset[12]\n"
              "failed open file (/nonexistent/x.bin)\n");
}

}  // namespace
}  // namespace orvane
