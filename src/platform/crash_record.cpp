#include "platform/crash_record.h"

#include "platform/clock.h"

namespace orvane::platform {

namespace {

int64_t FloorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

int32_t LocalOffset(int64_t when) {
    int32_t offset = 0;
    LocalCalendarTime(when, &offset);
    return offset;
}

}  // namespace

CivilTime CivilFromSeconds(int64_t seconds) {
    int64_t days = FloorDiv(seconds, 86400);
    int64_t rest = seconds - days * 86400;
    // Days to year/month/day counted in 400-year eras starting on 1 March, so the leap day
    // is the last day of an era's year.
    days += 719468;
    int64_t era = FloorDiv(days, 146097);
    int64_t dayOfEra = days - era * 146097;
    int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    int day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    int month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    return CivilTime{static_cast<int>(year),
                     month,
                     day,
                     static_cast<int>(rest / 3600),
                     static_cast<int>(rest / 60 % 60),
                     static_cast<int>(rest % 60)};
}

SafeText::SafeText(char* buffer, size_t size)
    : m_pBuffer(buffer), m_uSize(size), m_bFits(size > 0) {
    if (size > 0) {
        buffer[0] = '\0';
    }
}

SafeText& SafeText::Add(const char* text) {
    for (; text && *text; ++text) {
        if (m_uLength + 1 >= m_uSize) {
            m_bFits = false;
            break;
        }
        m_pBuffer[m_uLength++] = *text;
    }
    if (m_uSize > 0) {
        m_pBuffer[m_uLength] = '\0';
    }
    return *this;
}

SafeText& SafeText::AddDec(int64_t value, int width) {
    char digits[24];
    int n = 0;
    bool negative = value < 0;
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
        digits[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude > 0 && n < 20);
    while (n < width && n < 20) {
        digits[n++] = '0';
    }
    char out[24];
    int k = 0;
    if (negative) {
        out[k++] = '-';
    }
    while (n > 0) {
        out[k++] = digits[--n];
    }
    out[k] = '\0';
    return Add(out);
}

SafeText& SafeText::AddHex(uint64_t value) {
    char out[20] = "0x";
    char digits[17];
    int n = 0;
    do {
        digits[n++] = "0123456789abcdef"[value & 0xf];
        value >>= 4;
    } while (value > 0);
    int k = 2;
    while (n > 0) {
        out[k++] = digits[--n];
    }
    out[k] = '\0';
    return Add(out);
}

bool FormatCrashDayDir(char* buffer, size_t size, const char* crashDir, const CivilTime& t) {
    SafeText text(buffer, size);
    text.Add(crashDir).Add("/").AddDec(t.year, 4).Add("-").AddDec(t.month, 2).Add("-");
    text.AddDec(t.day, 2);
    return text.Fits();
}

bool FormatCrashFilePath(char* buffer, size_t size, const char* dayDir, const CivilTime& t) {
    SafeText text(buffer, size);
    text.Add(dayDir).Add("/").AddDec(t.year, 4).AddDec(t.month, 2).AddDec(t.day, 2).Add("_");
    text.AddDec(t.hour, 2).AddDec(t.minute, 2).AddDec(t.second, 2).Add(".dmp");
    return text.Fits();
}

void UtcOffsetTable::Build(int64_t from, int64_t to) {
    // Zones change their offset a few times a year at most, never twice within hours.
    constexpr int64_t kStep = 6 * 3600;
    m_iCount = 0;
    m_aStart[0] = from;
    m_aOffset[0] = LocalOffset(from);
    m_iCount = 1;
    int64_t previous = from;
    for (int64_t t = from + kStep; t <= to && m_iCount < kMaxChanges; t += kStep) {
        int32_t offset = LocalOffset(t);
        if (offset == m_aOffset[m_iCount - 1]) {
            previous = t;
            continue;
        }
        // The change lies in (previous, t]: find its first second.
        int64_t lo = previous;
        int64_t hi = t;
        while (hi - lo > 1) {
            int64_t mid = lo + (hi - lo) / 2;
            if (LocalOffset(mid) == m_aOffset[m_iCount - 1]) {
                lo = mid;
            } else {
                hi = mid;
            }
        }
        m_aStart[m_iCount] = hi;
        m_aOffset[m_iCount] = offset;
        ++m_iCount;
        previous = t;
    }
}

int32_t UtcOffsetTable::OffsetAt(int64_t when) const {
    if (m_iCount == 0) {
        return 0;
    }
    int i = m_iCount - 1;
    while (i > 0 && when < m_aStart[i]) {
        --i;
    }
    return m_aOffset[i];
}

}  // namespace orvane::platform
