#include "platform/crash_record.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace orvane::platform {
namespace {

// Catches crash records named in UTC or in the wrong daylight-saving offset: the offsets taken
// in advance must match the time-zone functions second for second around each change.
TEST(CrashRecordTest, OffsetTableFollowsDaylightSaving) {
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    const int64_t from = 1767225600;  // 2026-01-01 00:00 UTC
    UtcOffsetTable table;
    table.Build(from, from + 366LL * 86400);
    EXPECT_EQ(table.Count(), 3);
    // Also a moment before the span and one after it: the nearest offset, both in winter.
    const int64_t probes[] = {from,       1774746000 - 1,     1774746000,   1792890000 - 1,
                              1792890000, from + 200 * 86400, from - 86400, from + 400 * 86400};
    for (int64_t p : probes) {
        time_t t = static_cast<time_t>(p);
        tm local{};
        localtime_r(&t, &local);
        EXPECT_EQ(table.OffsetAt(p), local.tm_gmtoff) << p;
    }
}

}  // namespace
}  // namespace orvane::platform
