#pragma once

#include <string>

#include "common/temp_dir.h"
#include "common/wait_until.h"

namespace orvane::test {

// How often `what` occurs in `text`.
inline size_t CountOf(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) {
        ++n;
    }
    return n;
}

// Waits (timeoutMs at most) until the file holds `what` `count` times: for outcomes only the
// log shows (a dropped datagram, a transfer's end).
inline bool WaitLogCount(const std::string& path, const std::string& what, size_t count = 1,
                         int timeoutMs = 10000) {
    return WaitUntil([&] { return CountOf(ReadWholeFile(path), what) >= count; }, timeoutMs);
}

}  // namespace orvane::test
