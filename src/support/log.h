#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include "platform/printf_format.h"

namespace orvane {

// Levels of the process-wide log; a line is written when its level is at most the threshold.
enum LogLevel {
    kLogMajor = 0,       // failures
    kLogGeneral = 1,     // warnings
    kLogSuggestive = 2,  // notices and handled errors
    kLogInfo = 3,        // normal progress and "#QMDebug" traces
    kLogDebug0 = 4,      // per-transfer detail
    kLogDebug1 = 5,
    kLogDebug2 = 6,
    kLogMoreLog = 7,
    kLogAllLog = 8,
};

// Longest line (prefix and message) that is written; longer lines are cut here.
constexpr size_t kMaxLogLine = 510;

// Sets the threshold (when level < 9) and the log file path (at most 259 characters; null
// keeps the old path). Call once before worker threads start.
void InitLog(int level, const char* path);

// Appends one line " [Level][dd/mm hh:mm:ss.mmm]message" + CR LF to the log file. Any thread,
// any time; before InitLog nothing is written. Failures lose the line silently. Control bytes
// inside %s and %c arguments are written escaped ("\r", "\n", "\xNN"), so text from the
// network cannot start a line of its own; the format's own line feeds are kept.
void WriteLog(int level, const char* format, ...) ORVANE_PRINTF_FORMAT(2, 3);

// Appends `length` bytes of text and CR LF: three open attempts 50 ms apart, then gives up.
void AppendLogLine(const char* path, const char* text, size_t length);

// Caps the log file: a line that would take it past `maxBytes` first renames it to the same
// name with ".1" (replacing the one before) and starts a new file. 0 leaves it uncapped.
void SetLogMaxBytes(uint64_t maxBytes);

// The name a full log file `path` is kept under.
std::string RotatedLogPath(const std::string& path);

// One kind of log line that anyone on the network can cause at will (a refused or malformed
// datagram): at most one such line a second is written, and the next one written says how
// many were left out meanwhile. When no later line of the kind comes, the last one left out is
// written with that count once the second is over, so a burst never ends unseen. Define one
// per kind, usually static at its call site.
class LogRateLimit {
  public:
    LogRateLimit() = default;
    ~LogRateLimit();
    LogRateLimit(const LogRateLimit&) = delete;
    LogRateLimit& operator=(const LogRateLimit&) = delete;

    // Whether a line may be written at `nowMs` (a monotonic clock); when it may, `leftOut`
    // receives the count of lines left out since the last one written, and the count starts
    // again.
    bool Allow(int64_t nowMs, int* leftOut);

    // Keeps the text of a line just left out; true when it is the first of its second (the
    // kind then needs a write when the second is over).
    bool KeepLeftOut(int level, const char* message);
    // At `nowMs`: the kept line and the count of the others left out with it, when a second
    // has passed since the last line written and lines were left out; false otherwise.
    bool TakeLeftOut(int64_t nowMs, int* level, std::string* message, int* others);
    int64_t LastWrittenMs();

  private:
    std::mutex m_csLimit;
    int64_t m_iLastMs = 0;
    bool m_bWritten = false;
    int m_iLeftOut = 0;
    int m_iKeptLevel = 0;
    std::string m_szKept;  // the last line left out, as it would have been written
};

// WriteLog for a line of a rate-limited kind. A line below the threshold is not counted.
void WriteLogLimited(LogRateLimit& kind, int level, const char* format, ...)
    ORVANE_PRINTF_FORMAT(3, 4);

}  // namespace orvane
