#pragma once

#include <chrono>
#include <string>
#include <thread>

#include "common/temp_dir.h"

namespace orvane::test {

// How often `what` occurs in `text`.
inline size_t CountOf(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) {
        ++n;
    }
    return n;
}

// Some outcomes (a dropped datagram, a transfer's end) show only in the log: polls the file
// until it holds `what` `count` times, bounded by timeoutMs.
inline bool WaitLogCount(const std::string& path, const std::string& what, size_t count = 1,
                         int timeoutMs = 10000) {
    for (int waited = 0;; waited += 20) {
        if (CountOf(ReadWholeFile(path), what) >= count) {
            return true;
        }
        if (waited >= timeoutMs) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace orvane::test
