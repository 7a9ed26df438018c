#include "firmware/fmw_crc.h"

#include <isa-l/crc.h>

namespace orvane {

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

}  // namespace orvane
