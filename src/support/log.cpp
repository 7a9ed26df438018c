#include "support/log.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>

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
        platform::RenameOver(path, kept);  // a failure leaves the file growing, not lost lines
    }
}

// Writes one line of a message already formatted; `suffix` goes before the message's own
// trailing line feeds, so a count joins the text it belongs to.
void WriteMessage(int level, const char* message, const char* suffix) {
    platform::LocalTime t = platform::GetLocalTime();
    char line[kMaxLogLine + 2] = {};
    int prefix =
        std::snprintf(line, sizeof line, " [%s][%02d/%02d %02d:%02d:%02d.%03d]", kLevelNames[level],
                      t.day, t.month, t.hour, t.minute, t.second, t.millisecond);
    if (prefix < 0) {
        return;
    }
    // The line is cut at kMaxLogLine characters.
    std::snprintf(line + prefix, kMaxLogLine + 1 - static_cast<size_t>(prefix), "%s", message);
    if (suffix) {
        size_t used = std::strlen(line);
        size_t end = used;
        while (end > static_cast<size_t>(prefix) &&
               (line[end - 1] == '\r' || line[end - 1] == '\n')) {
            --end;
        }
        const std::string feeds(line + end, used - end);
        std::snprintf(line + end, sizeof line - 1 - end, "%s%s", suffix, feeds.c_str());
    }

    std::lock_guard<std::mutex> lock(g_csLogFile);
    if (g_szLogPath[0] == '\0') {
        return;
    }
    const size_t length = std::strlen(line);
    RotateIfFull(g_szLogPath, length);
    AppendLogLine(g_szLogPath, line, length);
}

void FormatLine(char (&message)[kMaxLogLine + 1], const char* format, va_list args) {
    FormatLogMessage(message, sizeof message, format, args);
}

void WriteLine(int level, const char* suffix, const char* format, va_list args) {
    char message[kMaxLogLine + 1] = {};
    FormatLine(message, format, args);
    WriteMessage(level, message, suffix);
}

void LeftOutSuffix(int count, char (&suffix)[64]) {
    suffix[0] = '\0';
    if (count > 0) {
        std::snprintf(suffix, sizeof suffix, " (%d more like it left out)", count);
    }
}

// Writes the last line left out of each kind once its second is over. One thread for the
// process, started with the first line left out; it and its list are never destroyed, so a
// kind written during exit finds them still there.
class LeftOutWriter {
  public:
    static LeftOutWriter& Get() {
        static LeftOutWriter* writer = new LeftOutWriter;
        return *writer;
    }

    void Schedule(LogRateLimit* kind, int64_t dueMs) {
        std::lock_guard<std::mutex> lock(m_cs);
        m_mapDue.emplace(kind, dueMs);
        if (!m_bStarted) {
            m_bStarted = true;
            std::thread([this] {
                try {
                    Run();
                } catch (...) {
                    // out of memory: the counts left out are lost, the lines written stay
                }
            }).detach();
        }
        m_cv.notify_one();
    }

    // A kind that ends (a local one in a test) leaves the list before its memory does.
    void Forget(LogRateLimit* kind) {
        std::lock_guard<std::mutex> lock(m_cs);
        m_mapDue.erase(kind);
    }

  private:
    // The list stays locked while a kind is written, so Forget cannot free it meanwhile.
    void Run() {
        std::unique_lock<std::mutex> lock(m_cs);
        for (;;) {
            if (m_mapDue.empty()) {
                m_cv.wait(lock);
                continue;
            }
            const int64_t now = platform::MonotonicMs();
            int64_t next = INT64_MAX;
            for (auto it = m_mapDue.begin(); it != m_mapDue.end();) {
                if (it->second > now) {
                    next = std::min(next, it->second);
                    ++it;
                    continue;
                }
                int level = 0;
                int others = 0;
                std::string message;
                if (it->first->TakeLeftOut(now, &level, &message, &others)) {
                    char suffix[64];
                    LeftOutSuffix(others, suffix);
                    WriteMessage(level, message.c_str(), suffix[0] ? suffix : nullptr);
                }
                it = m_mapDue.erase(it);
            }
            if (next != INT64_MAX) {
                m_cv.wait_for(lock, std::chrono::milliseconds(next - now));
            }
        }
    }

    std::mutex m_cs;
    std::condition_variable m_cv;
    std::map<LogRateLimit*, int64_t> m_mapDue;  // kinds with a line left out, and when to write
    bool m_bStarted = false;
};

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

LogRateLimit::~LogRateLimit() {
    LeftOutWriter::Get().Forget(this);
}

bool LogRateLimit::KeepLeftOut(int level, const char* message) {
    std::lock_guard<std::mutex> lock(m_csLimit);
    m_iKeptLevel = level;
    m_szKept = message;
    return m_iLeftOut == 1;
}

bool LogRateLimit::TakeLeftOut(int64_t nowMs, int* level, std::string* message, int* others) {
    std::lock_guard<std::mutex> lock(m_csLimit);
    if (m_iLeftOut == 0 || nowMs - m_iLastMs < 1000) {
        return false;
    }
    *level = m_iKeptLevel;
    *message = std::move(m_szKept);
    *others = m_iLeftOut - 1;
    m_iLeftOut = 0;
    m_iLastMs = nowMs;
    return true;
}

int64_t LogRateLimit::LastWrittenMs() {
    std::lock_guard<std::mutex> lock(m_csLimit);
    return m_iLastMs;
}

void WriteLogLimited(LogRateLimit& kind, int level, const char* format, ...) {
    int leftOut = 0;
    if (!IsLogged(level)) {
        return;
    }
    char message[kMaxLogLine + 1] = {};
    va_list args;
    va_start(args, format);
    FormatLine(message, format, args);
    va_end(args);
    if (!kind.Allow(platform::MonotonicMs(), &leftOut)) {
        if (kind.KeepLeftOut(level, message)) {
            LeftOutWriter::Get().Schedule(&kind, kind.LastWrittenMs() + 1000);
        }
        return;
    }
    char suffix[64];
    LeftOutSuffix(leftOut, suffix);
    WriteMessage(level, message, suffix[0] ? suffix : nullptr);
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
