#pragma once

#include <cstddef>
#include <cstdint>

// Building blocks of the crash record that run inside a fatal-signal handler: no allocation,
// no locks, no library calls that may take either.
namespace orvane::platform {

struct CivilTime {
    int year, month, day, hour, minute, second;
};

// Seconds since 1970-01-01 00:00:00 (already shifted to local time) as a calendar date and
// time of the proleptic Gregorian calendar.
CivilTime CivilFromSeconds(int64_t seconds);

// Appends text to a caller's fixed buffer. Never writes past it and always keeps it
// terminated; Fits() turns false once anything had to be cut.
class SafeText {
  public:
    SafeText(char* buffer, size_t size);

    SafeText& Add(const char* text);
    // Decimal, left-padded with zeros to `width` digits.
    SafeText& AddDec(int64_t value, int width = 0);
    SafeText& AddHex(uint64_t value);

    bool Fits() const { return m_bFits; }
    const char* Text() const { return m_pBuffer; }
    size_t Length() const { return m_uLength; }

  private:
    char* m_pBuffer;
    size_t m_uSize;
    size_t m_uLength = 0;
    bool m_bFits;
};

// `crashDir`/YYYY-MM-DD. False when the buffer is too small (a cut path would name another
// folder, so the caller must not use it).
bool FormatCrashDayDir(char* buffer, size_t size, const char* crashDir, const CivilTime& t);
// `dayDir`/YYYYMMDD_HHMMSS.dmp; false when the buffer is too small.
bool FormatCrashFilePath(char* buffer, size_t size, const char* dayDir, const CivilTime& t);

// The local time zone's offset from UTC over a span of time, taken in advance because the
// time-zone functions are not safe inside a signal handler. Daylight-saving changes inside the
// span are found to the second.
class UtcOffsetTable {
  public:
    // Samples the local zone from `from` to `to` (seconds since 1970). Not signal-safe.
    void Build(int64_t from, int64_t to);
    // Offset in seconds east of UTC at `when`; outside the span the nearest known offset.
    int32_t OffsetAt(int64_t when) const;
    int Count() const { return m_iCount; }

  private:
    static constexpr int kMaxChanges = 64;
    int64_t m_aStart[kMaxChanges] = {};
    int32_t m_aOffset[kMaxChanges] = {};
    int m_iCount = 0;
};

}  // namespace orvane::platform
