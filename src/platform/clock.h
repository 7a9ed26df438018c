#pragma once

#include <cstdint>
#include <ctime>

namespace orvane::platform {

struct LocalTime {
    int year, month, day, hour, minute, second, millisecond;
};

LocalTime GetLocalTime();

// Milliseconds since an arbitrary start, wrapping at 2^32 like a 32-bit tick counter.
uint32_t GetTickCount();

// Wall-clock seconds since 1970.
int64_t WallClockSeconds();

// The local calendar time at wall-clock `seconds` (since 1970), and the local zone's offset
// east of UTC then, in seconds, when `utcOffset` is given. Any thread.
std::tm LocalCalendarTime(int64_t seconds, int32_t* utcOffset = nullptr);

// Monotonic milliseconds, for deadlines.
int64_t MonotonicMs();

}  // namespace orvane::platform
