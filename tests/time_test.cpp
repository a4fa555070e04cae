#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "zub/zubtime.h"

namespace {

// The nine standard fields lead struct tm (checked in tests/abi/time_abi.c).
constexpr size_t kNineFields = offsetof(struct tm, tm_isdst) + sizeof(int);

std::string show(const struct tm &tm)
{
    char text[160];
    std::snprintf(text, sizeof text, "%lld-%02lld-%02d %02d:%02d:%02d w%d d%d s%d",
                  tm.tm_year + 1900LL, tm.tm_mon + 1LL, tm.tm_mday, tm.tm_hour, tm.tm_min,
                  tm.tm_sec, tm.tm_wday, tm.tm_yday, tm.tm_isdst);
    return text;
}

// Fields in reading order; years since 1900 as given, so any value fits.
struct tm record(int year, int mon, int mday, int hour, int min, int sec)
{
    struct tm tm;
    std::memset(&tm, 0xA5, sizeof tm);
    std::tie(tm.tm_year, tm.tm_mon, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec) =
        std::tie(year, mon, mday, hour, min, sec);
    return tm;
}

bool extraFieldsUntouched(const struct tm &tm)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(&tm);
    return std::all_of(bytes + kNineFields, bytes + sizeof tm, [](auto b) { return b == 0xA5; });
}

} // namespace

// Every day of the 32-bit range at a few times of day, and at one that moves
// through the day from one day to the next, against gmtime_r; fields past the
// nine standard ones stay as they are; non-negative times also convert back.
TEST(TimeToBrokenDown, MatchesGmtimeAndConvertsBack)
{
    for (int64_t day = INT32_MIN / 86400 - 1; day <= INT32_MAX / 86400; ++day) {
        for (int64_t second : std::array<int64_t, 5>{0, 1, 43199, 86399, day * 7919 % 86400}) {
            const auto time = static_cast<int32_t>(
                std::clamp(day * 86400 + second, int64_t{INT32_MIN}, int64_t{INT32_MAX}));
            const time_t value = time;
            struct tm ours = record(0, 0, 0, 0, 0, 0), theirs;
            ASSERT_TRUE(zubTimeConvertCalendarTimeToBrokenDownTime(time, &ours) == &ours &&
                        gmtime_r(&value, &theirs) && !std::memcmp(&ours, &theirs, kNineFields) &&
                        extraFieldsUntouched(ours))
                << "time " << time << ": " << show(ours) << " / " << show(theirs);
            ASSERT_TRUE(time < 0 ||
                        (zubTimeConvertBrokenDownTimeToCalendarTime(&ours) == uint32_t(time) &&
                         !std::memcmp(&ours, &theirs, kNineFields)))
                << time;
        }
    }
}

// An out-of-range field is repaired alone, never carried into the next;
// times run to 2106.
TEST(TimeToCalendar, RepairsEachFieldAlone)
{
    const std::tuple<struct tm, uint32_t, const char *> cases[] = {
        {record(101, 4, 6, 7, 8, 60), 989132880, "2001-05-06 07:08:00 w0 d125 s0"},
        // Month 12 is January: no leap day yet.
        {record(100, 12, 6, 7, 8, 0), 947142480, "2000-01-06 07:08:00 w4 d5 s0"},
        {record(101, -1, -1, -1, -1, -1), 978307200, "2001-01-01 00:00:00 w1 d0 s0"},
        // A year outside 1970-2106 is taken as 1970; the day is not checked
        // against its month, and the leap day goes by the month field.
        {record(INT32_MIN, 2, 1, 0, 0, 0), 59 * 86400, "1970-03-01 00:00:00 w0 d59 s0"},
        {record(200, 1, 30, 0, 0, 0), 4107628800u, "2100-02-30 00:00:00 w2 d60 s0"},
        // Past 2038 in 32 unsigned bits; 2100 has no leap day.
        {record(200, 2, 1, 0, 0, 0), 4107542400u, "2100-03-01 00:00:00 w1 d59 s0"},
    };
    for (auto [given, time, repaired] : cases) {
        EXPECT_EQ(zubTimeConvertBrokenDownTimeToCalendarTime(&given), time) << repaired;
        EXPECT_TRUE(show(given) == repaired && extraFieldsUntouched(given)) << show(given);
    }
    EXPECT_TRUE(!zubTimeConvertBrokenDownTimeToCalendarTime(nullptr) &&
                !zubTimeConvertCalendarTimeToBrokenDownTime(0, nullptr));
}
