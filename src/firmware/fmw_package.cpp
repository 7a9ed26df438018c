#include "firmware/fmw_package.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "firmware/fmw_crc.h"
#include "firmware/fmw_trace.h"
#include "platform/file.h"

namespace orvane {

namespace {

constexpr uint32_t kFaCrcFrom = 24;  // the fixed-area CRC skips magic and the four CRCs
constexpr uint32_t kFaCrcBytes = kFmwFixedAreaSize - kFaCrcFrom;
constexpr uint32_t kFileCrcFrom = 12;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

uint32_t ReadU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void DecodeFixedArea(FmwHandle* h) {
    const uint8_t* a = h->fixedArea.data();
    std::memcpy(h->magic, a, sizeof h->magic);
    h->file_crc = ReadU32(a + 8);
    h->header_crc = ReadU32(a + 12);
    h->header_fa_crc = ReadU32(a + 16);
    h->header_vamark_crc = ReadU32(a + 20);
    h->header_size = ReadU32(a + 24);
    h->fmw_type = static_cast<int32_t>(ReadU32(a + 32));
    h->va_nums = ReadU32(a + 48);
    for (int i = 0; i < kFmwImageSlots; ++i) {
        const uint8_t* slot = a + 64 + 24 * i;
        h->img[i] = FmwImage{ReadU32(slot), ReadU32(slot + 4), ReadU32(slot + 8)};
    }
}

// Opening, size and fixed area: codes 3, 2, 8, 9, 10.
int ReadFixedArea(const char* path, std::FILE* f, uint64_t* fileSize, FmwHandle* h) {
    long end = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) {
        end = std::ftell(f);
    }
    if (end < 0) {
        return kFmwOpenFailed;  // not a regular, seekable file
    }
    *fileSize = static_cast<uint64_t>(end);
    if (*fileSize < kFmwFixedAreaSize) {
        FmwTrace("Sorry, fmw[%s] size[%lu] is less than header fixed area size[%lu], so quit...\n",
                 path, static_cast<unsigned long>(*fileSize),
                 static_cast<unsigned long>(kFmwFixedAreaSize));
        return kFmwTooShort;
    }
    std::rewind(f);
    if (std::fread(h->fixedArea.data(), 1, kFmwFixedAreaSize, f) != kFmwFixedAreaSize) {
        FmwTrace("Sorry, read fixed area in header failed, so quit...\n");
        return kFmwFixedAreaUnreadable;
    }
    DecodeFixedArea(h);
    const char* expected = h->fmw_type <= 7 ? kFmwMagic : kFmwAlgMagic;
    if (std::memcmp(h->magic, expected, 8) != 0) {
        FmwTrace("Warning, magic number is not right\n");
        return kFmwBadMagic;
    }
    FmwTrace("compute header_fa crc for bytes[%lu]\n", static_cast<unsigned long>(kFaCrcBytes));
    uint32_t crc = compute_header_fa_crc(h);
    if (crc != h->header_fa_crc) {
        FmwTrace("Sorry, crc[%u] is not equal to header_fa_crc[%u], so quit...\n", crc,
                 h->header_fa_crc);
        return kFmwFaCrcMismatch;
    }
    return kFmwOk;
}

// The mark table: codes 11, 12, 13. The table must lie inside the file, so a hostile count
// never obtains more memory than the file backs.
int ReadMarkTable(std::FILE* f, uint64_t fileSize, FmwHandle* h) {
    FmwTrace("_deserialized_packet va_nums[%u]...\n", h->va_nums);
    const uint64_t bytes = uint64_t{kFmwVaMarkSize} * h->va_nums;
    if (bytes > 0xFFFFFFFFu) {
        FmwTrace("Sorry, malloc pastVaMark faliled, so quit...\n");
        return kFmwNoMarkMemory;
    }
    if (bytes == 0 || bytes > fileSize - kFmwFixedAreaSize) {
        FmwTrace("Sorry, read va mark area in header failed, so quit...\n");
        return kFmwMarksUnreadable;
    }
    try {
        h->vaMarkBytes.assign(bytes, 0);
        h->pastVaMark.resize(h->va_nums);
    } catch (const std::bad_alloc&) {
        FmwTrace("Sorry, malloc pastVaMark faliled, so quit...\n");
        return kFmwNoMarkMemory;
    }
    try {
        h->pastVaText.resize(h->va_nums);
    } catch (const std::bad_alloc&) {
        FmwTrace("Sorry, malloc pastVaText faliled, so quit...\n");
        return kFmwMarksUnreadable;
    }
    if (std::fseek(f, kFmwFixedAreaSize, SEEK_SET) != 0 ||
        std::fread(h->vaMarkBytes.data(), 1, bytes, f) != bytes) {
        FmwTrace("Sorry, read va mark area in header failed, so quit...\n");
        return kFmwMarksUnreadable;
    }
    for (uint32_t i = 0; i < h->va_nums; ++i) {
        const uint8_t* m = h->vaMarkBytes.data() + kFmwVaMarkSize * i;
        h->pastVaMark[i] =
            FmwVaMark{ReadU32(m), static_cast<int32_t>(ReadU32(m + 4)), ReadU32(m + 8)};
    }
    uint32_t crc = compute_header_vamark_crc(h);
    if (crc != h->header_vamark_crc) {
        FmwTrace("Sorry, crc[%u] is not equal to header_vamark_crc[%u], so quit...\n", crc,
                 h->header_vamark_crc);
        return kFmwVaMarkCrcMismatch;
    }
    return kFmwOk;
}

// The header stream (fixed area from 24, marks, texts) is bounded by header_size - 24, and
// the texts together by the file: a header claiming more is refused before any text is
// read, so nothing is ever allocated or checksummed beyond it.
int CheckHeaderRoom(uint64_t fileSize, const FmwHandle* h) {
    uint64_t texts = 0;
    for (const FmwVaMark& m : h->pastVaMark) {
        texts += m.size;
    }
    const uint64_t need = kFaCrcBytes + h->vaMarkBytes.size() + texts;
    if (h->header_size < kFmwFixedAreaSize || need > h->header_size - kFaCrcFrom ||
        texts > fileSize) {
        FmwTrace(
            "Sorry, va marks need header bytes[%llu], more than header_size[%u] holds, "
            "so quit...\n",
            static_cast<unsigned long long>(need + kFaCrcFrom), h->header_size);
        return kFmwHeaderCrcMismatch;
    }
    return kFmwOk;
}

void ReadTexts(std::FILE* f, uint64_t fileSize, FmwHandle* h) {
    for (uint32_t i = 0; i < h->va_nums; ++i) {
        const FmwVaMark& m = h->pastVaMark[i];
        if (m.size == 0) {
            continue;
        }
        std::string& text = h->pastVaText[i];
        size_t got = 0;
        // A text outside the file cannot be read whole: it is not read at all.
        if (m.start >= 0 && uint64_t(m.start) + m.size <= fileSize &&
            std::fseek(f, m.start, SEEK_SET) == 0) {
            text.assign(m.size, '\0');
            got = std::fread(text.data(), 1, m.size, f);
        }
        if (got != m.size) {
            text.clear();
            ++h->iUnreadTexts;
            FmwTrace("Sorry, read variable area[%d] in header failed\n", static_cast<int>(i));
            continue;
        }
        FmwTrace("content[%d]  :%s, size[%u], start[%u], read[%lu]\n", static_cast<int>(i),
                 text.c_str(), m.size, static_cast<uint32_t>(m.start),
                 static_cast<unsigned long>(got));
    }
}

// Header texts and header CRC: codes 14.
int CheckHeader(std::FILE* f, uint64_t fileSize, FmwHandle* h) {
    int rc = CheckHeaderRoom(fileSize, h);
    if (rc != kFmwOk) {
        return rc;
    }
    ReadTexts(f, fileSize, h);
    uint32_t crc = compute_header_crc(h);
    if (crc != h->header_crc || h->iUnreadTexts > 0) {
        FmwTrace("Sorry, crc[%u] is not equal to header_crc[%u], so quit...\n", crc, h->header_crc);
        return kFmwHeaderCrcMismatch;
    }
    return kFmwOk;
}

int CheckImages(const FmwHandle* h, const char* path, const uint32_t computed[kFmwImageSlots]) {
    uint32_t checked = 0;
    for (int i = 0; i < kFmwImageSlots; ++i) {
        const FmwImage& img = h->img[i];
        if (img.size == 0) {
            continue;
        }
        FmwTrace("open file (%s), offset[%u]\n", path, img.start);
        FmwTrace("img[%u] crc[%u], compute crc[%u], size[%u]\n", static_cast<uint32_t>(i), img.crc,
                 computed[i], img.size);
        if (computed[i] != img.crc) {
            FmwTrace("compute header crc[%u] for img[%d].crc[%u]\n", computed[i], i, img.crc);
            return -1;
        }
        ++checked;
    }
    FmwTrace("All of [%u] imgs crc checked OK...\n", checked);
    return 0;
}

// File and image CRCs from one read of the file: ranges[0] is the file from offset 12,
// ranges[1 + i] image slot i. False when the file cannot be reopened.
bool ScanFileCrcs(const char* path, const FmwHandle* h, bool withFile,
                  std::vector<FmwCrcRange>* ranges) {
    ranges->assign(1 + kFmwImageSlots, FmwCrcRange{});
    (*ranges)[0] = FmwCrcRange{kFileCrcFrom, withFile ? kFmwRestOfFile : 0, 0, 0};
    for (int i = 0; i < kFmwImageSlots; ++i) {
        (*ranges)[1 + i] = FmwCrcRange{h->img[i].start, h->img[i].size, 0, 0};
    }
    FilePtr f(platform::OpenRegularFileForRead(path));
    return f && ComputeRangeCrcs(f.get(), ranges);
}

// File and image CRCs: codes 15, 16.
int CheckFileAndImages(const char* path, const FmwHandle* h) {
    std::vector<FmwCrcRange> ranges;
    FmwTrace("open file (%s), offset[%u]\n", path, kFileCrcFrom);
    uint32_t crc = 0;
    bool read = ScanFileCrcs(path, h, true, &ranges);
    if (!read) {
        FmwTrace("failed open file (%s)\n", path);
    } else {
        crc = ranges[0].crc;
    }
    if (!read || crc != h->file_crc) {
        FmwTrace("Sorry, crc[%u] is not equal to file_crc[%u], so quit...\n", crc, h->file_crc);
        return kFmwFileCrcMismatch;
    }
    FmwTrace("fmw file[%s] crc[%u] checked ok, then check each img file crc...\n", path, crc);
    uint32_t computed[kFmwImageSlots];
    for (int i = 0; i < kFmwImageSlots; ++i) {
        computed[i] = ranges[1 + i].crc;
    }
    if (CheckImages(h, path, computed) != 0) {
        FmwTrace("Sorry, img file crc check is failed, so quit...\n");
        return kFmwImageCrcMismatch;
    }
    return kFmwOk;
}

}  // namespace

int _deserialized_packet(const char* path, FmwHandle* handle) {
    if (path == nullptr) {
        return kFmwNoPath;
    }
    int rc = kFmwOk;
    {
        FilePtr f(platform::OpenRegularFileForRead(path));
        if (!f) {
            return kFmwOpenFailed;
        }
        uint64_t fileSize = 0;
        rc = ReadFixedArea(path, f.get(), &fileSize, handle);
        if (rc == kFmwOk) {
            rc = ReadMarkTable(f.get(), fileSize, handle);
        }
        if (rc == kFmwOk) {
            rc = CheckHeader(f.get(), fileSize, handle);
        }
    }  // closed here: the CRC pass reopens the file by its path
    if (rc == kFmwOk) {
        rc = CheckFileAndImages(path, handle);
    }
    if (rc == kFmwOk) {
        FmwTrace("OK, fmw file[%s] is a right fmw, return a handle now...\n", path);
    }
    return rc;
}

FmwHandlePtr create_fmw_header(const char* path, int* error) {
    auto report = [error](int code) {
        if (error != nullptr) {
            *error = code;
        }
    };
    if (path == nullptr) {
        report(kFmwAbsentPath);
        return nullptr;
    }
    if (path[0] == '\0') {
        FmwTrace("Sorry, it's a empty firmware file name\n");
        report(kFmwEmptyPath);
        return nullptr;
    }
    FmwHandlePtr handle(new (std::nothrow) FmwHandle());
    if (!handle) {
        report(kFmwNoMemory);
        return nullptr;
    }
    int rc = _deserialized_packet(path, handle.get());
    FmwTrace("_deserialized_packet error[%d]...\n", rc);
    report(rc);
    if (rc != kFmwOk) {
        return nullptr;  // the partly built handle is released here
    }
    return handle;
}

const char* get_fmw_va_inform(const FmwHandle* handle, int tag) {
    if (handle == nullptr) {
        return nullptr;
    }
    for (size_t i = 0; i < handle->pastVaMark.size(); ++i) {
        if (handle->pastVaMark[i].tag != static_cast<uint32_t>(tag)) {
            continue;
        }
        if (handle->pastVaMark[i].size == 0 || handle->pastVaText[i].empty()) {
            return nullptr;
        }
        return handle->pastVaText[i].c_str();
    }
    FmwTrace("Sorry, can not found tag[%d], va nums is %d...\n", tag,
             static_cast<int>(handle->va_nums));
    return nullptr;
}

int destroy_fmw_header(FmwHandlePtr handle) {
    return handle ? 0 : -1;
}

uint32_t compute_header_fa_crc(const FmwHandle* handle) {
    return fmw_crc32(handle->fixedArea.data() + kFaCrcFrom, kFaCrcBytes);
}

uint32_t compute_header_vamark_crc(const FmwHandle* handle) {
    FmwTrace("compute compute_header_vamark_crc for bytes[%u]\n",
             static_cast<uint32_t>(handle->vaMarkBytes.size()));
    return fmw_crc32(handle->vaMarkBytes.data(), handle->vaMarkBytes.size());
}

uint32_t compute_header_crc(const FmwHandle* handle) {
    const uint32_t room = handle->header_size >= kFaCrcFrom ? handle->header_size - kFaCrcFrom : 0;
    FmwTrace("compute header crc for bytes[%u],  all header size[%u]\n", room, handle->header_size);
    // The stream is checksummed piece by piece, as if concatenated in a buffer of `room`
    // bytes: a piece that would not fit is cut at the end of that buffer.
    uint32_t crc = 0;
    uint32_t length = 0;
    auto feed = [&](const void* data, size_t size) {
        size_t take = std::min<size_t>(size, room - length);
        crc = fmw_crc32_update(crc, data, take);
        length += static_cast<uint32_t>(take);
    };
    feed(handle->fixedArea.data() + kFaCrcFrom, kFaCrcBytes);
    feed(handle->vaMarkBytes.data(), handle->vaMarkBytes.size());
    for (size_t i = 0; i < handle->pastVaMark.size(); ++i) {
        if (handle->pastVaMark[i].size != 0) {
            feed(handle->pastVaText[i].data(), handle->pastVaText[i].size());
        }
    }
    FmwTrace("compute header crc for bytes[%u], size[%u]\n", length, room);
    return crc;
}

int check_img_crc(const FmwHandle* handle, const char* path) {
    std::vector<FmwCrcRange> ranges;
    if (handle == nullptr || path == nullptr || !ScanFileCrcs(path, handle, false, &ranges)) {
        return -1;
    }
    uint32_t computed[kFmwImageSlots];
    for (int i = 0; i < kFmwImageSlots; ++i) {
        computed[i] = ranges[1 + i].crc;
    }
    return CheckImages(handle, path, computed);
}

}  // namespace orvane
