#include "platform/process_limits.h"

namespace orvane::platform {

// Windows sets no per-process limit on sockets and files opened through the system's own
// calls (only the C library's descriptor table has one, which these seams do not fill).
size_t RaiseOpenFileLimit(size_t wanted) {
    return wanted;
}

}  // namespace orvane::platform
