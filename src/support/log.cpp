#include "support/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

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

void WriteLog(int level, const char* format, ...) {
    if (level > g_iLogThreshold.load() || level >= kLevelCount || level < 0) {
        return;
    }
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
    va_list args;
    va_start(args, format);
    FormatLogMessage(line + prefix, room, format, args);
    va_end(args);

    std::lock_guard<std::mutex> lock(g_csLogFile);
    if (g_szLogPath[0] == '\0') {
        return;
    }
    AppendLogLine(g_szLogPath, line, std::strlen(line));
}

void AppendLogLine(const char* path, const char* text, size_t length) {
    platform::AppendFile file;
    bool opened = false;
    for (int attempt = 0; attempt < 3 && !opened; ++attempt) {
        opened = file.OpenAlways(path);
        if (!opened) {
            platform::SleepMs(50);
        }
    }
    if (!opened) {
        return;
    }
    if (file.SeekEnd() && file.Write(text, length) && file.Write("\r\n", 2)) {
        file.Flush();
    }
}

}  // namespace orvane
