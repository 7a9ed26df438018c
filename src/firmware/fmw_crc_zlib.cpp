#include "firmware/fmw_crc.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace orvane {

// Where ISA-L is not built (the Windows build), zlib's own crc32: the same register, at the
// speed of its table walk.
uint32_t fmw_crc32_update(uint32_t crc32Value, const void* data, size_t length) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (data != nullptr && length > 0) {
        const uInt take =
            static_cast<uInt>(std::min<size_t>(length, std::numeric_limits<uInt>::max()));
        crc32Value = static_cast<uint32_t>(crc32(crc32Value, p, take));
        p += take;
        length -= take;
    }
    return crc32Value;
}

}  // namespace orvane
