#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace orvane::test {

// Asks `done` every 10 ms until it holds or timeoutMs has passed; whether it held. Only for
// outcomes nothing announces (a file, another process's end): else wait for the event.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace orvane::test
