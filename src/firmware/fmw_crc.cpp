#include "firmware/fmw_crc.h"

#include <isa-l/crc.h>
#include <zlib.h>

#include <algorithm>
#include <memory>

#include "firmware/fmw_trace.h"
#include "platform/file.h"

namespace orvane {

namespace {

// Big enough that reading and checksumming run at memory speed, small enough to stay in the
// cache between the read and the CRC.
constexpr size_t kReadChunk = 256 * 1024;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

bool FileSize(std::FILE* file, uint64_t* size) {
    if (std::fseek(file, 0, SEEK_END) != 0) {
        return false;
    }
    long end = std::ftell(file);
    if (end < 0) {
        return false;
    }
    *size = static_cast<uint64_t>(end);
    return true;
}

}  // namespace

uint32_t fmw_crc32(const void* data, size_t length) {
    return fmw_crc32_update(0, data, length);
}

// The same register as zlib's crc32 (reflected, preset and final XOR all ones), computed with
// carry-less multiplication where the processor has it: zlib's table walk runs at half the
// speed of a page-cache read and made a catalogue rebuild several times slower than reading
// the files. zlib still combines the CRCs of segments.
uint32_t fmw_crc32_update(uint32_t crc32Value, const void* data, size_t length) {
    if (data == nullptr || length == 0) {
        return crc32Value;
    }
    return crc32_gzip_refl(crc32Value, static_cast<const unsigned char*>(data), length);
}

bool ComputeRangeCrcs(std::FILE* file, std::vector<FmwCrcRange>* ranges) {
    uint64_t size = 0;
    if (!FileSize(file, &size)) {
        return false;
    }
    // Cut every range to the file, then split the file at every range edge: each segment
    // between two edges is checksummed once and the ranges are assembled from segments.
    std::vector<uint64_t> begins;
    std::vector<uint64_t> ends;
    std::vector<uint64_t> cuts;
    for (const FmwCrcRange& r : *ranges) {
        uint64_t begin = std::min(r.offset, size);
        uint64_t left = size - begin;
        uint64_t len = (r.length == kFmwRestOfFile || r.length > left) ? left : r.length;
        begins.push_back(begin);
        ends.push_back(begin + len);
        cuts.push_back(begin);
        cuts.push_back(begin + len);
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());

    std::vector<uint32_t> segCrc(cuts.size(), 0);
    std::vector<uint64_t> segLen(cuts.size(), 0);
    if (cuts.size() >= 2) {
        if (std::fseek(file, static_cast<long>(cuts.front()), SEEK_SET) != 0) {
            return false;
        }
        std::vector<unsigned char> buf(kReadChunk);
        uint64_t pos = cuts.front();
        size_t seg = 0;
        while (pos < cuts.back()) {
            size_t want = static_cast<size_t>(std::min<uint64_t>(kReadChunk, cuts.back() - pos));
            size_t got = std::fread(buf.data(), 1, want, file);
            if (got == 0) {
                break;  // the file shrank meanwhile: the CRCs cover what was there
            }
            for (size_t at = 0; at < got;) {
                size_t take =
                    static_cast<size_t>(std::min<uint64_t>(got - at, cuts[seg + 1] - pos));
                segCrc[seg] = fmw_crc32_update(segCrc[seg], buf.data() + at, take);
                segLen[seg] += take;
                at += take;
                pos += take;
                if (pos == cuts[seg + 1]) {
                    ++seg;
                }
            }
        }
    }
    for (size_t i = 0; i < ranges->size(); ++i) {
        FmwCrcRange& r = (*ranges)[i];
        r.crc = 0;
        r.bytesRead = 0;
        size_t k = static_cast<size_t>(std::lower_bound(cuts.begin(), cuts.end(), begins[i]) -
                                       cuts.begin());
        for (; k + 1 < cuts.size() && cuts[k + 1] <= ends[i]; ++k) {
            r.crc = static_cast<uint32_t>(
                crc32_combine(r.crc, segCrc[k], static_cast<z_off_t>(segLen[k])));
            r.bytesRead += segLen[k];
        }
    }
    return true;
}

bool compute_file_crc(const char* path, uint32_t offset, uint32_t length, uint32_t* crc) {
    FmwTrace("open file (%s), offset[%u]\n", path, offset);
    std::unique_ptr<std::FILE, FileCloser> file(platform::OpenRegularFileForRead(path));
    if (!file) {
        FmwTrace("failed open file (%s)\n", path);
        return false;
    }
    std::vector<FmwCrcRange> ranges{FmwCrcRange{offset, length, 0, 0}};
    if (!ComputeRangeCrcs(file.get(), &ranges)) {
        return false;
    }
    *crc = ranges[0].crc;
    return true;
}

}  // namespace orvane
