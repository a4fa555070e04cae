#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "zub/zubtime.h"

namespace {

// The nine standard fields lead struct tm (checked in tests/abi/time_abi.c).
constexpr size_t kNineFields = offsetof(struct tm, tm_isdst) + sizeof(int);

// Fields in reading order; years since 1900 as given, so any value fits.
struct tm record(int year, int mon, int mday, int hour, int min, int sec)
{
    struct tm tm;
    std::memset(&tm, 0xA5, sizeof tm);
    std::tie(tm.tm_year, tm.tm_mon, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec) =
        std::tie(year, mon, mday, hour, min, sec);
    return tm;
}

// The nine standard fields of `tm` match gmtime_r's for `time`, the fields
// past them are as they were.
bool matchesGmtime(const struct tm &tm, time_t time)
{
    struct tm theirs;
    const auto *bytes = reinterpret_cast<const unsigned char *>(&tm);
    return gmtime_r(&time, &theirs) && !std::memcmp(&tm, &theirs, kNineFields) &&
           std::all_of(bytes + kNineFields, bytes + sizeof tm, [](auto b) { return b == 0xA5; });
}

} // namespace

// Every day of the 32-bit range at a few times of day, and at one that moves
// through the day from one day to the next, against gmtime_r; non-negative
// times also convert back.
TEST(Time, MatchesGmtimeConvertsBackAndRepairsEachFieldAlone)
{
    for (int64_t day = INT32_MIN / 86400 - 1; day <= INT32_MAX / 86400; ++day) {
        for (int64_t second : std::array<int64_t, 5>{0, 1, 43199, 86399, day * 7919 % 86400}) {
            const auto time = static_cast<int32_t>(
                std::clamp(day * 86400 + second, int64_t{INT32_MIN}, int64_t{INT32_MAX}));
            struct tm ours = record(0, 0, 0, 0, 0, 0);
            ASSERT_TRUE(
                zubTimeConvertCalendarTimeToBrokenDownTime(time, &ours) == &ours &&
                matchesGmtime(ours, time) &&
                (time < 0 || (zubTimeConvertBrokenDownTimeToCalendarTime(&ours) == uint32_t(time) &&
                              matchesGmtime(ours, time))))
                << time;
        }
    }
    // An out-of-range field is repaired alone, never carried into the next:
    // the repaired record is the one of the returned time. Month 12 is
    // January of the same year (no leap day yet), second 60 is second 0 of
    // the same minute; -1 fields are repaired to 0 (1 for the day), and a year
    // outside 1970-2106 is taken as 1970, its leap day going by the month field.
    for (auto [given, time] : {std::pair{record(100, 12, 6, 7, 8, 60), 947142480u},
                               {record(101, -1, -1, -1, -1, -1), 978307200u},
                               {record(INT32_MIN, 2, 1, 0, 0, 0), 59u * 86400}}) {
        EXPECT_TRUE(zubTimeConvertBrokenDownTimeToCalendarTime(&given) == time &&
                    matchesGmtime(given, time));
    }
}
