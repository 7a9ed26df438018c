#include "firmware/fmw_package.h"

#include <gtest/gtest.h>

#include <string>

#include "common/temp_dir.h"
#include "firmware/trace_capture.h"
#include "tools/fmw_builder.h"

namespace orvane {
namespace {

using fwbuild::Damage;
using fwbuild::GetU32;
using fwbuild::PutU32;
using test::Contains;

constexpr size_t kAtVaNums = 48;  // the mark count in the fixed area

class FmwPackageTest : public ::testing::Test {
  protected:
    // Writes `bytes` as a package file and opens it; the code and the trace of the attempt.
    int Open(const std::string& bytes, FmwHandlePtr* handle = nullptr) {
        m_dir.Write("p.bin", bytes);
        int code = -1;
        FmwHandlePtr h = create_fmw_header(Path().c_str(), &code);
        EXPECT_EQ(h != nullptr, code == 0);
        if (handle != nullptr) {
            *handle = std::move(h);
        }
        m_szTrace = m_trace.Take();
        return code;
    }
    std::string Path() const { return m_dir.File("p.bin"); }
    static std::string Valid() {
        return fwbuild::BuildPackage(fwbuild::MakePackageSpec("X_M100_V1.2.3.4", {3000, 10}));
    }

    test::TempDir m_dir;
    test::TraceCapture m_trace;
    std::string m_szTrace;
};

// Catches a missing, reordered or reworded trace line on the way through a valid package,
// or a wrong value in one of them.
TEST_F(FmwPackageTest, ValidPackageTracesEveryStep) {
    const std::string bytes = Valid();
    FmwHandlePtr h;
    ASSERT_EQ(Open(bytes, &h), 0);
    std::string want =
        "compute header_fa crc for bytes[224]\n"
        "_deserialized_packet va_nums[1]...\n"
        "compute compute_header_vamark_crc for bytes[12]\n"
        "content[0]  :X_M100_V1.2.3.4, size[16], start[260], read[16]\n"
        "compute header crc for bytes[252],  all header size[276]\n"
        "compute header crc for bytes[252], size[252]\n"
        "open file (<P>), offset[12]\n"
        "fmw file[<P>] crc[<F>] checked ok, then check each img file crc...\n"
        "open file (<P>), offset[276]\n"
        "img[0] crc[<C0>], compute crc[<C0>], size[3000]\n"
        "open file (<P>), offset[3276]\n"
        "img[1] crc[<C1>], compute crc[<C1>], size[10]\n"
        "All of [2] imgs crc checked OK...\n"
        "OK, fmw file[<P>] is a right fmw, return a handle now...\n"
        "_deserialized_packet error[0]...\n";
    for (const auto& [key, value] : {std::pair<std::string, std::string>{"<P>", Path()},
                                     {"<F>", std::to_string(GetU32(bytes, 8))},
                                     {"<C0>", std::to_string(GetU32(bytes, 72))},
                                     {"<C1>", std::to_string(GetU32(bytes, 96))}}) {
        for (size_t at; (at = want.find(key)) != std::string::npos;) {
            want.replace(at, key.size(), value);
        }
    }
    EXPECT_EQ(m_szTrace, want);
    EXPECT_STREQ(get_fmw_va_inform(h.get(), FMW_VA_TAG_FS_VER), "X_M100_V1.2.3.4");
    EXPECT_EQ(h->header_size, 276u);
    EXPECT_EQ(destroy_fmw_header(std::move(h)), 0);
    EXPECT_EQ(destroy_fmw_header(nullptr), -1);
}

// Catches a failure reported with the wrong code or text, a handle handed out anyway, or the
// fixed-area CRC checked after the marks it guards.
TEST_F(FmwPackageTest, EachFailureHasItsCodeAndText) {
    auto damaged = [](Damage d, int slot = 0) {
        auto plan = fwbuild::MakePackageSpec("X_M_V1", {100, 200});
        plan.damage = d;
        plan.iDamageSlot = slot;
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
    struct Case {
        const char* name;
        std::string bytes;
        int code;
        const char* text;
    } cases[] = {
        {"247 bytes", std::string(247, 'Q'), 2,
         "size[247] is less than header fixed area size[248], so quit...\n"},
        {"magic", damaged(Damage::kMagic), 9, "Warning, magic number is not right\n"},
        {"fa crc", damaged(Damage::kFaCrc), 10, "is not equal to header_fa_crc["},
        {"fixed area changed", fixedArea, 10, "is not equal to header_fa_crc["},
        {"no marks", patched(kAtVaNums, 0), 12,
         "Sorry, read va mark area in header failed, so quit...\n"},
        {"mark count overflows", patched(kAtVaNums, 0xFFFFFFFFu), 11,
         "Sorry, malloc pastVaMark faliled, so quit...\n"},
        {"marks past the end", patched(kAtVaNums, 0x10000000u), 12,
         "Sorry, read va mark area in header failed, so quit...\n"},
        {"vamark crc", damaged(Damage::kVaMarkCrc), 13, "is not equal to header_vamark_crc["},
        {"header crc", damaged(Damage::kHeaderCrc), 14, "is not equal to header_crc["},
        {"file crc", damaged(Damage::kFileCrc), 15, "is not equal to file_crc["},
        {"byte behind the images", trailing, 15, "is not equal to file_crc["},
        {"image crc", damaged(Damage::kImageCrc, 1), 16,
         "Sorry, img file crc check is failed, so quit...\n"},
    };
    for (const Case& c : cases) {
        FmwHandlePtr h;
        EXPECT_EQ(Open(c.bytes, &h), c.code) << c.name;
        EXPECT_EQ(h, nullptr) << c.name;
        EXPECT_TRUE(Contains(m_szTrace, c.text)) << c.name << ":\n" << m_szTrace;
        EXPECT_TRUE(
            Contains(m_szTrace, "_deserialized_packet error[" + std::to_string(c.code) + "]...\n"))
            << c.name;
        if (c.code == 10) {  // the fixed area is checked before a single mark is read
            EXPECT_FALSE(Contains(m_szTrace, "va_nums[")) << c.name;
        }
    }
}

// Catches path faults: null and empty paths must not reach the file system, a missing file
// is code 3 without a message of its own.
TEST_F(FmwPackageTest, PathFailures) {
    int code = 0;
    EXPECT_EQ(create_fmw_header(nullptr, &code), nullptr);
    EXPECT_EQ(code, 18);
    EXPECT_EQ(m_trace.Take(), "");
    EXPECT_EQ(create_fmw_header("", &code), nullptr);
    EXPECT_EQ(code, 19);
    EXPECT_EQ(m_trace.Take(), "Sorry, it's a empty firmware file name\n");
    EXPECT_EQ(create_fmw_header(m_dir.File("none.bin").c_str(), nullptr), nullptr);
    EXPECT_EQ(m_trace.Take(), "_deserialized_packet error[3]...\n");
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

// Catches image slots read past the end of the file or refused although the bytes that
// exist match, and empty slots counted or checked.
TEST_F(FmwPackageTest, ImageSlotsAreCheckedOverTheBytesThatExist) {
    auto plan = fwbuild::MakePackageSpec("X_M_V1", {});
    EXPECT_EQ(Open(fwbuild::BuildPackage(plan)), 0);
    EXPECT_TRUE(Contains(m_szTrace, "All of [0] imgs crc checked OK...\n"));
    EXPECT_FALSE(Contains(m_szTrace, "img["));

    plan = fwbuild::MakePackageSpec("X_M_V1", {100, 0, 50});
    plan.vecImages[0].storedSize = 100000;  // runs past the end
    plan.vecImages[2].start = 0x7FFFFFF0u;  // starts beyond the end: CRC 0
    std::string b = fwbuild::BuildPackage(plan);
    EXPECT_EQ(GetU32(b, 64 + 48 + 8), 0u);
    EXPECT_EQ(Open(b), 0) << m_szTrace;
    EXPECT_TRUE(Contains(m_szTrace, "img[2] crc[0], compute crc[0], size[50]\n"));
    EXPECT_TRUE(Contains(m_szTrace, "All of [2] imgs crc checked OK...\n"));
}

// Catches the wrong mark chosen for a tag, a size-0 mark handing out text, or a text
// without terminator read beyond its size.
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
    EXPECT_EQ(m_trace.Take(), "");
    EXPECT_EQ(get_fmw_va_inform(h.get(), 5), nullptr);
    EXPECT_EQ(m_trace.Take(), "Sorry, can not found tag[5], va nums is 4...\n");
    EXPECT_EQ(get_fmw_va_inform(nullptr, 4), nullptr);

    auto empty = fwbuild::MakePackageSpec("", {8});
    empty.vecMarks[0] = fwbuild::MarkSpec{4, "", true, {}, {}};
    ASSERT_EQ(Open(fwbuild::BuildPackage(empty), &h), 0) << m_szTrace;
    EXPECT_EQ(get_fmw_va_inform(h.get(), FMW_VA_TAG_FS_VER), nullptr);
}

// Catches a hostile header making the reader allocate or checksum beyond its buffer or the
// file: each must be refused with code 14 (ASan would flag an overrun).
TEST_F(FmwPackageTest, HostileHeadersAreRefused) {
    auto withMark = [](int32_t start, uint32_t size, std::optional<uint32_t> headerSize) {
        auto plan = fwbuild::MakePackageSpec("X_M_V1", {64});
        plan.vecMarks.push_back(fwbuild::MarkSpec{5, "abc", false, start, size});
        plan.headerSize = headerSize;
        return fwbuild::BuildPackage(plan);
    };
    struct Case {
        const char* name;
        std::string bytes;
        const char* text;
    } cases[] = {
        {"header size below 248", withMark(260, 3, 200u), "more than header_size[200] holds"},
        {"header size 0", withMark(260, 3, 0u), "more than header_size[0] holds"},
        {"marks need more than header", withMark(260, 3, 270u), "holds, so quit...\n"},
        {"text size huge", withMark(260, 0xFFFFFFF0u, 0xFFFFFFFFu), "holds, so quit...\n"},
        {"text past the end", withMark(0x7FFFFF00, 4, {}),
         "Sorry, read variable area[1] in header failed\n"},
        {"negative text start", withMark(-8, 4, {}),
         "Sorry, read variable area[1] in header failed\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Open(c.bytes), 14) << c.name << ":\n" << m_szTrace;
        EXPECT_TRUE(Contains(m_szTrace, c.text)) << c.name << ":\n" << m_szTrace;
    }
    // Many marks all naming the same large text: together more than the file holds.
    auto plan = fwbuild::MakePackageSpec("X_M_V1", {20000});
    for (int i = 0; i < 64; ++i) {
        plan.vecMarks.push_back(fwbuild::MarkSpec{5, "", true, 300, 19000});
    }
    plan.headerSize = 0xFFFFFFFFu;
    EXPECT_EQ(Open(fwbuild::BuildPackage(plan)), 14);
}

}  // namespace
}  // namespace orvane
