#pragma once

#include <cstdint>

namespace orvane::platform {

struct LocalTime {
    int year, month, day, hour, minute, second, millisecond;
};

LocalTime GetLocalTime();

// Milliseconds since an arbitrary start, wrapping at 2^32 like a 32-bit tick counter.
uint32_t GetTickCount();

// Wall-clock seconds since 1970.
int64_t WallClockSeconds();

// Monotonic milliseconds, for deadlines.
int64_t MonotonicMs();

}  // namespace orvane::platform
