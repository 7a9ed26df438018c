#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace orvane {

// Stands for "up to the end of the file" as a length.
constexpr uint32_t kFmwRestOfFile = 0xFFFFFFFFu;

// The package CRC-32 (IEEE 802.3, reflected, preset and final XOR all ones). Zero bytes or
// a null pointer give 0.
uint32_t fmw_crc32(const void* data, size_t length);

// Continues a CRC-32 over further bytes: fmw_crc32(ab) == fmw_crc32_update(fmw_crc32(a), b).
// Zero bytes or a null pointer leave `crc` as it is.
uint32_t fmw_crc32_update(uint32_t crc, const void* data, size_t length);

// One byte range of a file to checksum. A range is cut to the bytes the file has: an offset
// beyond the end gives no bytes (CRC 0); a length of kFmwRestOfFile, or longer than what is
// left, runs to the end of the file.
struct FmwCrcRange {
    uint64_t offset = 0;
    uint32_t length = 0;
    uint32_t crc = 0;        // out
    uint64_t bytesRead = 0;  // out: bytes the CRC covers
};

// Checksums every range of `ranges` in one pass over the open file, however the ranges
// overlap: each byte is read and checksummed once (a long file in two halves at once). False
// when the size of the file cannot be found. Memory stays bounded by two read buffers. The
// stream's position is left anywhere.
bool ComputeRangeCrcs(std::FILE* file, std::vector<FmwCrcRange>* ranges);

// CRC of `length` bytes of the file at `path` from `offset` (length rules as for
// FmwCrcRange), streaming. False when the file cannot be opened; prints the open trace.
bool compute_file_crc(const char* path, uint32_t offset, uint32_t length, uint32_t* crc);

}  // namespace orvane
