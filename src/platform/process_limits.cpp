#include "platform/process_limits.h"

#include <sys/resource.h>

#include <algorithm>

namespace orvane::platform {

size_t RaiseOpenFileLimit(size_t wanted) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return 0;
    }
    const rlim_t target =
        limit.rlim_max == RLIM_INFINITY ? wanted : std::min<rlim_t>(wanted, limit.rlim_max);
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < target) {
        rlimit raised = limit;
        raised.rlim_cur = target;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            limit = raised;
        }
    }
    return limit.rlim_cur == RLIM_INFINITY ? wanted : static_cast<size_t>(limit.rlim_cur);
}

}  // namespace orvane::platform
