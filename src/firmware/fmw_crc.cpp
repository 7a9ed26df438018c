#include "firmware/fmw_crc.h"

#include <zlib.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <thread>

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

// Spans shorter than this are read by the caller alone: a helper thread would cost more than
// it saves.
constexpr uint64_t kSplitFrom = 4 * kReadChunk;

// CRC and length of each segment between two neighbouring cuts (segment k runs from cuts[k]
// to cuts[k + 1]), over the bytes one reader has seen.
struct SegmentCrcs {
    explicit SegmentCrcs(size_t count) : crc(count, 0), len(count, 0) {}
    std::vector<uint32_t> crc;
    std::vector<uint64_t> len;
};

// Checksums the bytes [from, to) of the file into the segments they belong to, through `buf`
// (kReadChunk bytes). Returns where it stopped: `to`, or earlier where the file ended (it
// shrank meanwhile). Allocates nothing and throws nothing, so it can be a thread's body.
uint64_t ScanSpan(std::FILE* file, const std::vector<uint64_t>& cuts, uint64_t from, uint64_t to,
                  unsigned char* buf, SegmentCrcs* out) noexcept {
    size_t seg =
        static_cast<size_t>(std::upper_bound(cuts.begin(), cuts.end(), from) - cuts.begin()) - 1;
    uint64_t pos = from;
    while (pos < to) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(kReadChunk, to - pos));
        long got = platform::ReadFileAt(file, pos, buf, want);
        if (got <= 0) {
            break;
        }
        for (size_t at = 0; at < static_cast<size_t>(got);) {
            size_t take = static_cast<size_t>(
                std::min<uint64_t>(static_cast<size_t>(got) - at, cuts[seg + 1] - pos));
            out->crc[seg] = fmw_crc32_update(out->crc[seg], buf + at, take);
            out->len[seg] += take;
            at += take;
            pos += take;
            if (pos == cuts[seg + 1]) {
                ++seg;
            }
        }
        if (static_cast<size_t>(got) < want) {
            break;
        }
    }
    return pos;
}

// Segment CRCs of the whole span between the first and the last cut. A long span is read in
// two halves at once, each by its own thread into its own buffer, and the CRCs of a segment
// cut by the middle are combined: one after the other, reading and checksumming took twice
// the time of a plain read. Where no second thread can be had, the caller reads it all.
SegmentCrcs ScanAllSegments(std::FILE* file, const std::vector<uint64_t>& cuts) {
    SegmentCrcs first(cuts.size());
    const uint64_t begin = cuts.front();
    const uint64_t end = cuts.back();
    std::vector<unsigned char> firstBuf(kReadChunk);
    if (end - begin < kSplitFrom) {
        ScanSpan(file, cuts, begin, end, firstBuf.data(), &first);
        return first;
    }
    SegmentCrcs second(cuts.size());
    std::vector<unsigned char> secondBuf(kReadChunk);
    uint64_t middle = begin + (end - begin) / 2 / kReadChunk * kReadChunk;
    std::thread helper;
    try {
        helper = std::thread([&] { ScanSpan(file, cuts, middle, end, secondBuf.data(), &second); });
    } catch (const std::exception&) {
        middle = end;  // no thread: all of it here
    }
    const uint64_t reached = ScanSpan(file, cuts, begin, middle, firstBuf.data(), &first);
    if (helper.joinable()) {
        helper.join();
    }
    // A first half cut short (the file shrank) leaves a gap: the second half is not added.
    if (middle < end && reached == middle) {
        for (size_t k = 0; k < cuts.size(); ++k) {
            if (second.len[k] > 0) {
                first.crc[k] = static_cast<uint32_t>(crc32_combine(
                    first.crc[k], second.crc[k], static_cast<z_off_t>(second.len[k])));
                first.len[k] += second.len[k];
            }
        }
    }
    return first;
}

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

    SegmentCrcs segments(cuts.size());
    if (cuts.size() >= 2) {
        segments = ScanAllSegments(file, cuts);
    }
    for (size_t i = 0; i < ranges->size(); ++i) {
        FmwCrcRange& r = (*ranges)[i];
        r.crc = 0;
        r.bytesRead = 0;
        size_t k = static_cast<size_t>(std::lower_bound(cuts.begin(), cuts.end(), begins[i]) -
                                       cuts.begin());
        for (; k + 1 < cuts.size() && cuts[k + 1] <= ends[i]; ++k) {
            r.crc = static_cast<uint32_t>(
                crc32_combine(r.crc, segments.crc[k], static_cast<z_off_t>(segments.len[k])));
            r.bytesRead += segments.len[k];
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
