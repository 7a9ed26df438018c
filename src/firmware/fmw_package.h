#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvane {

constexpr uint32_t kFmwFixedAreaSize = 248;
constexpr uint32_t kFmwVaMarkSize = 12;
constexpr int kFmwImageSlots = 8;
constexpr uint32_t FMW_VA_TAG_FS_VER = 4;  // file-system version text
constexpr char kFmwMagic[] = "QVRFMW22";
constexpr char kFmwAlgMagic[] = "QVRALG22";

// Result codes of create_fmw_header / _deserialized_packet.
enum FmwResult {
    kFmwOk = 0,
    kFmwNoMemory = 1,
    kFmwTooShort = 2,
    kFmwOpenFailed = 3,
    kFmwNoPath = 6,
    kFmwFixedAreaUnreadable = 8,
    kFmwBadMagic = 9,
    kFmwFaCrcMismatch = 10,
    kFmwNoMarkMemory = 11,
    kFmwMarksUnreadable = 12,
    kFmwVaMarkCrcMismatch = 13,
    kFmwHeaderCrcMismatch = 14,
    kFmwFileCrcMismatch = 15,
    kFmwImageCrcMismatch = 16,
    kFmwAbsentPath = 18,
    kFmwEmptyPath = 19,
};

struct FmwImage {
    uint32_t start = 0;
    uint32_t size = 0;  // 0: empty slot
    uint32_t crc = 0;
};

struct FmwVaMark {
    uint32_t tag = 0;
    int32_t start = 0;
    uint32_t size = 0;  // terminator included; 0: no text
};

// A validated package header. The fields are decoded from `fixedArea`, which keeps the 248
// bytes exactly as read (the CRCs cover them).
struct FmwHandle {
    std::array<uint8_t, kFmwFixedAreaSize> fixedArea{};
    char magic[8] = {};
    uint32_t file_crc = 0;
    uint32_t header_crc = 0;
    uint32_t header_fa_crc = 0;
    uint32_t header_vamark_crc = 0;
    uint32_t header_size = 0;
    int32_t fmw_type = 0;
    uint32_t va_nums = 0;
    FmwImage img[kFmwImageSlots];

    std::vector<uint8_t> vaMarkBytes;  // the mark table as read
    std::vector<FmwVaMark> pastVaMark;
    // Text i belongs to mark i: exactly `size` bytes, empty for size 0 or an unreadable text.
    std::vector<std::string> pastVaText;
    int iUnreadTexts = 0;  // marks whose text could not be read
};

using FmwHandlePtr = std::unique_ptr<FmwHandle>;

// Opens and validates the package at `path` (magic, four header CRCs, file CRC, image CRCs).
// `error` (may be null) receives the result code, 0 on success. Any failure returns null; no
// partly built handle ever reaches the caller. Trace lines go to FmwTrace.
FmwHandlePtr create_fmw_header(const char* path, int* error);

// The text of the first mark (in table order) with `tag`, owned by the handle; null for a null
// handle, no such mark (traced) or a mark without text.
const char* get_fmw_va_inform(const FmwHandle* handle, int tag);

// Releases the handle: 0, or -1 when there was none.
int destroy_fmw_header(FmwHandlePtr handle);

// The validation sequence behind create_fmw_header; fills `handle`, returns the result code.
int _deserialized_packet(const char* path, FmwHandle* handle);

uint32_t compute_header_fa_crc(const FmwHandle* handle);
uint32_t compute_header_vamark_crc(const FmwHandle* handle);
// CRC of fixed-area bytes 24..247, the mark table and the texts; never covers more than
// header_size - 24 bytes.
uint32_t compute_header_crc(const FmwHandle* handle);
// Checks every non-empty image slot against the file: 0 all match, -1 at the first mismatch
// (or when the file cannot be read).
int check_img_crc(const FmwHandle* handle, const char* path);

}  // namespace orvane
