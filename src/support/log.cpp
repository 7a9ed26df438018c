#include "support/log.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/thread.h"
#include "support/log_format.h"

namespace orvane {

namespace {

constexpr int kLevelCount = 9;
constexpr char kLevelNames[kLevelCount][32] = {"Major",  "General", "Suggestive", "Info",  "DEBUG0",
                                               "DEBUG1", "DEBUG2",  "MORELOG",    "ALLLOG"};

std::atomic<int> g_iLogThreshold{0};
// Written by InitLog before the worker threads exist; guarded anyway so a late InitLog
// (tests re-point the log) cannot tear the path under a writer.
std::mutex g_csLogFile;
char g_szLogPath[260] = {};

std::atomic<uint64_t> g_llLogMaxBytes{0};

}  // namespace

void InitLog(int level, const char* path) {
    if (level < kLevelCount) {
        g_iLogThreshold = level;
    }
    if (path) {
        std::lock_guard<std::mutex> lock(g_csLogFile);
        std::memset(g_szLogPath, 0, sizeof g_szLogPath);
        std::strncpy(g_szLogPath, path, sizeof g_szLogPath - 1);
    }
}

namespace {

bool IsLogged(int level) {
    return level <= g_iLogThreshold.load() && level < kLevelCount && level >= 0;
}

// Called with g_csLogFile held, before a line of `length` bytes is appended.
void RotateIfFull(const char* path, size_t length) {
    const uint64_t cap = g_llLogMaxBytes.load();
    if (cap == 0) {
        return;
    }
    const int64_t size = platform::PathSize(path);
    if (size > 0 && static_cast<uint64_t>(size) + length + 2 > cap) {
        const std::string kept = RotatedLogPath(path);
        std::rename(path, kept.c_str());  // a failure leaves the file growing, not lost lines
    }
}

void WriteLine(int level, const char* suffix, const char* format, va_list args) {
    platform::LocalTime t = platform::GetLocalTime();
    char line[kMaxLogLine + 2] = {};
    int prefix =
        std::snprintf(line, sizeof line, " [%s][%02d/%02d %02d:%02d:%02d.%03d]", kLevelNames[level],
                      t.day, t.month, t.hour, t.minute, t.second, t.millisecond);
    if (prefix < 0) {
        return;
    }
    // The line is cut at kMaxLogLine characters: the formatter stops there and terminates.
    size_t room = kMaxLogLine + 1 - static_cast<size_t>(prefix);
    FormatLogMessage(line + prefix, room, format, args);
    if (suffix) {
        const size_t used = std::strlen(line);
        std::snprintf(line + used, sizeof line - 1 - used, "%s", suffix);
    }

    std::lock_guard<std::mutex> lock(g_csLogFile);
    if (g_szLogPath[0] == '\0') {
        return;
    }
    const size_t length = std::strlen(line);
    RotateIfFull(g_szLogPath, length);
    AppendLogLine(g_szLogPath, line, length);
}

}  // namespace

void WriteLog(int level, const char* format, ...) {
    if (!IsLogged(level)) {
        return;
    }
    va_list args;
    va_start(args, format);
    WriteLine(level, nullptr, format, args);
    va_end(args);
}

void SetLogMaxBytes(uint64_t maxBytes) {
    g_llLogMaxBytes = maxBytes;
}

bool LogRateLimit::Allow(int64_t nowMs, int* leftOut) {
    std::lock_guard<std::mutex> lock(m_csLimit);
    if (m_bWritten && nowMs - m_iLastMs < 1000) {
        ++m_iLeftOut;
        return false;
    }
    *leftOut = m_iLeftOut;
    m_iLeftOut = 0;
    m_iLastMs = nowMs;
    m_bWritten = true;
    return true;
}

void WriteLogLimited(LogRateLimit& kind, int level, const char* format, ...) {
    int leftOut = 0;
    if (!IsLogged(level) || !kind.Allow(platform::MonotonicMs(), &leftOut)) {
        return;
    }
    char suffix[64] = {};
    if (leftOut > 0) {
        std::snprintf(suffix, sizeof suffix, " (%d more like it left out)", leftOut);
    }
    va_list args;
    va_start(args, format);
    WriteLine(level, suffix[0] ? suffix : nullptr, format, args);
    va_end(args);
}

namespace {

// Errors of a path that names something other than a regular file of its own (a symbolic
// link, a folder, a pipe without a reader, a device).
bool IsRefusedLogFile(int error) {
    return error == ELOOP || error == EISDIR || error == EINVAL || error == ENXIO;
}

}  // namespace

void AppendLogLine(const char* path, const char* text, size_t length) {
    platform::AppendFile file;
    bool opened = false;
    for (int attempt = 0; attempt < 3 && !opened; ++attempt) {
        opened = file.OpenAlways(path);
        if (!opened && IsRefusedLogFile(file.LastError())) {
            break;  // a link, a pipe, a folder: waiting does not make it the log's own file
        }
        if (!opened) {
            platform::SleepMs(50);
        }
    }
    if (!opened) {
        static std::atomic<bool> told{false};
        if (IsRefusedLogFile(file.LastError()) && !told.exchange(true)) {
            std::fprintf(stderr, "%s is not a regular file of its own (%s): nothing is logged\n",
                         path, platform::SystemErrorText(file.LastError()).c_str());
        }
        return;
    }
    if (file.SeekEnd() && file.Write(text, length) && file.Write("\r\n", 2)) {
        file.Flush();
    }
}

std::string RotatedLogPath(const std::string& path) {
    return path + ".1";
}

}  // namespace orvane
