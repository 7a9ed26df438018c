#include "platform/clock.h"

#include <windows.h>

#include <ctime>

namespace orvane::platform {

std::tm LocalCalendarTime(int64_t seconds, int32_t* utcOffset) {
    const __time64_t t = static_cast<__time64_t>(seconds);
    std::tm local{};
    if (::_localtime64_s(&local, &t) != 0) {
        std::tm none{};
        return none;
    }
    if (utcOffset) {
        // The same calendar fields read as UTC, less the moment: the zone's offset then,
        // daylight saving included.
        std::tm asUtc = local;
        *utcOffset = static_cast<int32_t>(::_mkgmtime64(&asUtc) - t);
    }
    return local;
}

LocalTime GetLocalTime() {
    SYSTEMTIME t{};
    ::GetLocalTime(&t);
    return LocalTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

int64_t WallClockSeconds() {
    return static_cast<int64_t>(::time(nullptr));
}

int64_t MonotonicMs() {
    return static_cast<int64_t>(::GetTickCount64());
}

uint32_t GetTickCount() {
    return static_cast<uint32_t>(::GetTickCount64());
}

}  // namespace orvane::platform
