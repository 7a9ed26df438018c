#include "platform/clock.h"

#include <sys/time.h>
#include <ctime>

namespace orvane::platform {

std::tm LocalCalendarTime(int64_t seconds, int32_t* utcOffset) {
    const time_t t = static_cast<time_t>(seconds);
    std::tm local{};
    localtime_r(&t, &local);
    if (utcOffset) {
        *utcOffset = static_cast<int32_t>(local.tm_gmtoff);
    }
    return local;
}

LocalTime GetLocalTime() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm t{};
    localtime_r(&ts.tv_sec, &t);
    return LocalTime{t.tm_year + 1900,
                     t.tm_mon + 1,
                     t.tm_mday,
                     t.tm_hour,
                     t.tm_min,
                     t.tm_sec,
                     static_cast<int>(ts.tv_nsec / 1000000)};
}

int64_t WallClockSeconds() {
    return static_cast<int64_t>(::time(nullptr));
}

int64_t MonotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

uint32_t GetTickCount() {
    return static_cast<uint32_t>(MonotonicMs());
}

}  // namespace orvane::platform
