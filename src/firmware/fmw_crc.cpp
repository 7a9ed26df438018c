#include "firmware/fmw_crc.h"

#include <isa-l/crc.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
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

// Ranges shorter than this are read by the caller itself: a helper thread would cost more
// than it saves.
constexpr uint64_t kReadAheadFrom = 4 * kReadChunk;

// `length` bytes of a file from its current position, handed out chunk by chunk. A helper
// thread reads a few chunks ahead of the caller, so the copy from the page cache (or the wait
// for the disk) and the checksum of the chunk before run side by side: one after the other,
// a rebuild took the time of a read plus the time of the CRC. When no thread can be had, or
// the range is short, the caller reads each chunk itself. The file is not touched by anyone
// else while this lives.
class ChunkReader {
  public:
    ChunkReader(std::FILE* file, uint64_t length) : m_pFile(file), m_uLeft(length) {
        for (Slot& s : m_slots) {
            s.buf.resize(kReadChunk);
        }
        if (length >= kReadAheadFrom) {
            try {
                m_reader = std::thread([this] { ReadAhead(); });
            } catch (const std::exception&) {
                // No thread: read inline.
            }
        }
    }
    ~ChunkReader() {
        {
            std::lock_guard<std::mutex> lock(m_cs);
            m_bStop = true;
        }
        m_cv.notify_all();
        if (m_reader.joinable()) {
            m_reader.join();
        }
    }
    ChunkReader(const ChunkReader&) = delete;
    ChunkReader& operator=(const ChunkReader&) = delete;

    // The next chunk: its size, 0 at the end of the range or of the file. It stays valid until
    // Done.
    size_t Take(const unsigned char** data) {
        Slot& s = m_slots[m_uTake];
        *data = s.buf.data();
        if (!m_reader.joinable()) {
            s.size = ReadChunk(s.buf.data());
            return s.size;
        }
        std::unique_lock<std::mutex> lock(m_cs);
        m_cv.wait(lock, [&s] { return s.bFull; });
        return s.size;
    }
    void Done() {
        if (m_reader.joinable()) {
            std::lock_guard<std::mutex> lock(m_cs);
            m_slots[m_uTake].bFull = false;
        }
        m_uTake = (m_uTake + 1) % m_slots.size();
        m_cv.notify_all();
    }

  private:
    struct Slot {
        std::vector<unsigned char> buf;
        size_t size = 0;
        bool bFull = false;  // read, not yet Done
    };

    size_t ReadChunk(unsigned char* buf) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(kReadChunk, m_uLeft));
        size_t got = want > 0 ? std::fread(buf, 1, want, m_pFile) : 0;
        m_uLeft -= got;
        return got;
    }

    void ReadAhead() {
        for (size_t i = 0;; i = (i + 1) % m_slots.size()) {
            Slot& s = m_slots[i];
            {
                std::unique_lock<std::mutex> lock(m_cs);
                m_cv.wait(lock, [&] { return !s.bFull || m_bStop; });
                if (m_bStop) {
                    return;
                }
            }
            size_t got = ReadChunk(s.buf.data());
            {
                std::lock_guard<std::mutex> lock(m_cs);
                s.size = got;
                s.bFull = true;
            }
            m_cv.notify_all();
            if (got == 0) {
                return;  // the end: the caller takes this empty chunk last
            }
        }
    }

    std::FILE* m_pFile;
    uint64_t m_uLeft;  // the reader's alone once it runs
    std::array<Slot, 4> m_slots;
    size_t m_uTake = 0;  // the caller's
    std::mutex m_cs;
    std::condition_variable m_cv;
    bool m_bStop = false;
    std::thread m_reader;  // depends-on: everything above, started last
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
        ChunkReader reader(file, cuts.back() - cuts.front());
        uint64_t pos = cuts.front();
        size_t seg = 0;
        const unsigned char* buf = nullptr;
        // A chunk of 0 bytes: the end, or the file shrank meanwhile (the CRCs cover what was
        // there).
        for (size_t got; (got = reader.Take(&buf)) > 0; reader.Done()) {
            for (size_t at = 0; at < got;) {
                size_t take =
                    static_cast<size_t>(std::min<uint64_t>(got - at, cuts[seg + 1] - pos));
                segCrc[seg] = fmw_crc32_update(segCrc[seg], buf + at, take);
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
