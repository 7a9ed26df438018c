#include "firmware/fmw_package.h"

#include <gtest/gtest.h>

#include <string>

#include "common/temp_dir.h"
#include "firmware/trace_capture.h"
#include "tools/fmw_builder.h"

namespace orvane {
namespace {

using fwbuild::Damage;
using fwbuild::PutU32;

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

// Catches a damaged or hostile package accepted (or refused with the wrong code), a handle
// handed out anyway, the fixed-area CRC checked after the marks it guards, and a header that
// makes the reader allocate or checksum beyond its buffer or the file (ASan flags an overrun).
TEST_F(FmwPackageTest, EachFaultHasItsCode) {
    auto damaged = [](Damage d) {
        auto plan = fwbuild::MakePackageSpec("X_M_V1", {100, 200});
        plan.damage = d;
        plan.iDamageSlot = 1;
        return fwbuild::BuildPackage(plan);
    };
    auto patched = [](size_t at, uint32_t value) {
        std::string b = Valid();
        PutU32(&b, at, value);
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
    struct Case {
        const char* name;
        std::string bytes;
        int code;
    } cases[] = {
        {"valid", Valid(), 0},
        {"247 bytes", std::string(247, 'Q'), 2},
        {"magic", damaged(Damage::kMagic), 9},
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
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Open(c.bytes), c.code) << c.name << ":\n" << m_szTrace;
        if (c.code == 10) {  // the fixed area is checked before a single mark is read
            EXPECT_EQ(m_szTrace.find("va_nums["), std::string::npos) << c.name;
        }
    }
}

// Catches null and empty paths reaching the file system, and a missing file given another
// code than 3.
TEST_F(FmwPackageTest, PathFailures) {
    int code = 0;
    EXPECT_EQ(create_fmw_header(nullptr, &code), nullptr);
    EXPECT_EQ(code, 18);
    EXPECT_EQ(create_fmw_header("", &code), nullptr);
    EXPECT_EQ(code, 19);
    EXPECT_EQ(create_fmw_header(m_dir.File("none.bin").c_str(), &code), nullptr);
    EXPECT_EQ(code, 3);
    EXPECT_EQ(destroy_fmw_header(nullptr), -1);
}

// Catches the magic chosen by an unsigned fmw_type, or the 7/8 threshold off by one.
TEST_F(FmwPackageTest, MagicFollowsSignedPackageType) {
    struct Case {
        const char* magic;
        int32_t type;
        int code;
    } cases[] = {{"QVRFMW22", 7, 0}, {"QVRFMW22", 8, 9},  {"QVRFMW22", -1, 0},  {"QVRALG22", 8, 0},
                 {"QVRALG22", 7, 9}, {"QVRALG22", -1, 9}, {"QVRALG22", 1000, 0}};
    for (const Case& c : cases) {
        auto plan = fwbuild::MakePackageSpec("X_M_V1", {64});
        plan.szMagic = c.magic;
        plan.iFmwType = c.type;
        EXPECT_EQ(Open(fwbuild::BuildPackage(plan)), c.code) << c.magic << " " << c.type;
    }
}

// Catches image slots read past the end of the file or refused although the bytes that exist
// match, and empty slots counted or checked.
TEST_F(FmwPackageTest, ImageSlotsAreCheckedOverTheBytesThatExist) {
    EXPECT_EQ(Open(fwbuild::BuildPackage(fwbuild::MakePackageSpec("X_M_V1", {}))), 0);
    auto plan = fwbuild::MakePackageSpec("X_M_V1", {100, 0, 50});
    plan.vecImages[0].storedSize = 100000;  // runs past the end
    plan.vecImages[2].start = 0x7FFFFFF0u;  // starts beyond the end: CRC 0
    EXPECT_EQ(Open(fwbuild::BuildPackage(plan)), 0) << m_szTrace;
    EXPECT_NE(m_szTrace.find("All of [2] imgs crc checked OK"), std::string::npos) << m_szTrace;
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

}  // namespace
}  // namespace orvane
