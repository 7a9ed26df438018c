#include "platform/clock.h"

#include <windows.h>

#include <ctime>

namespace orvane::platform {

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
