#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "zub/zubtime.h"

namespace {

constexpr int kRandomSeconds = 1000000;

constexpr int32_t kFirstDay = INT32_MIN / 86400 - 1; // 1901-12-13
constexpr int32_t kLastDay = INT32_MAX / 86400;      // 2038-01-19

struct Fields {
    int sec, min, hour, mday, mon, year, wday, yday, isdst;
    bool operator==(const Fields &) const = default;
};

Fields fieldsOf(const struct tm &tm)
{
    return {tm.tm_sec, tm.tm_min, tm.tm_hour, tm.tm_mday, tm.tm_mon,
            tm.tm_year, tm.tm_wday, tm.tm_yday, tm.tm_isdst};
}

std::string show(const Fields &f)
{
    char text[160];
    std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d wday %d yday %d isdst %d",
                  f.year + 1900, f.mon + 1, f.mday, f.hour, f.min, f.sec, f.wday, f.yday, f.isdst);
    return text;
}

struct tm makeTm(int year, int mon, int mday, int hour, int min, int sec)
{
    struct tm tm;
    std::memset(&tm, 0, sizeof tm);
    tm.tm_year = year - 1900;
    tm.tm_mon = mon - 1;
    tm.tm_mday = mday;
    tm.tm_hour = hour;
    tm.tm_min = min;
    tm.tm_sec = sec;
    tm.tm_wday = -7;
    tm.tm_yday = -7;
    tm.tm_isdst = 1;
    return tm;
}

Fields brokenDown(int32_t time)
{
    struct tm tm;
    std::memset(&tm, 0xA5, sizeof tm);
    EXPECT_EQ(zubTimeConvertCalendarTimeToBrokenDownTime(time, &tm), &tm);
    return fieldsOf(tm);
}

Fields libcBrokenDown(int32_t time)
{
    const time_t t = time;
    struct tm tm;
    EXPECT_NE(gmtime_r(&t, &tm), nullptr) << time;
    return fieldsOf(tm);
}

// The conversions done the slow way: a loop over years, a year search, a
// month table scan. The library's closed forms must agree with them.
constexpr int kDaysBefore[2][13] = {{0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
                                    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366}};

bool leap(int64_t year)
{
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int64_t floorDiv(int64_t a, int64_t b)
{
    return a / b - (a % b < 0 ? 1 : 0);
}

int64_t leapsThrough(int64_t y)
{
    return floorDiv(y, 4) - floorDiv(y, 100) + floorDiv(y, 400);
}

uint32_t slowToCalendar(struct tm *tm)
{
    uint32_t total = 0;
    if (static_cast<uint32_t>(tm->tm_sec) > 59) {
        tm->tm_sec = 0;
    }
    total = static_cast<uint32_t>(tm->tm_sec);
    if (static_cast<uint32_t>(tm->tm_min) <= 59) {
        total += 60u * static_cast<uint32_t>(tm->tm_min);
    } else {
        tm->tm_min = 0;
    }
    if (static_cast<uint32_t>(tm->tm_hour) <= 23) {
        total += 3600u * static_cast<uint32_t>(tm->tm_hour);
    } else {
        tm->tm_hour = 0;
    }
    uint32_t days = 0;
    if (static_cast<uint32_t>(tm->tm_mon) <= 11) {
        days = static_cast<uint32_t>(kDaysBefore[0][tm->tm_mon]);
    } else {
        tm->tm_mon = 0;
    }
    if (tm->tm_mday >= 1 && tm->tm_mday <= 31) {
        days += static_cast<uint32_t>(tm->tm_mday - 1);
    } else {
        tm->tm_mday = 1;
    }
    if (tm->tm_year < 70 || tm->tm_year > 200) {
        tm->tm_year = 70;
    } else if (tm->tm_mon > 1 && leap(tm->tm_year + 1900)) {
        ++days;
    }
    tm->tm_yday = static_cast<int>(days);
    for (int year = 1970; year < tm->tm_year + 1900; ++year) {
        days += leap(year) ? 366 : 365;
    }
    tm->tm_isdst = 0;
    tm->tm_wday = static_cast<int>((days + 4) % 7);
    return total + 86400u * days;
}

Fields slowBrokenDown(int32_t time)
{
    int32_t days = time / 86400;
    int32_t rem = time % 86400;
    if (rem < 0) {
        rem += 86400;
        --days;
    }
    Fields f{};
    f.hour = rem / 3600;
    f.min = rem % 3600 / 60;
    f.sec = rem % 60;
    f.wday = (days + 4) % 7;
    if (f.wday < 0) {
        f.wday += 7;
    }
    int64_t year = 1970;
    int64_t d = days;
    int rounds = 0;
    while (d < 0 || d >= (leap(year) ? 366 : 365)) {
        const int64_t guess = year + d / 365 - (d % 365 < 0 ? 1 : 0);
        d -= (guess - year) * 365 + leapsThrough(guess - 1) - leapsThrough(year - 1);
        year = guess;
        EXPECT_LT(++rounds, 5) << time;
    }
    f.year = static_cast<int>(year - 1900);
    f.yday = static_cast<int>(d);
    const int *table = kDaysBefore[leap(year) ? 1 : 0];
    int month = 11;
    while (table[month] > d) {
        --month;
    }
    f.mon = month;
    f.mday = static_cast<int>(d - table[month] + 1);
    f.isdst = 0;
    return f;
}

} // namespace

TEST(TimeToBrokenDown, KnownDates)
{
    EXPECT_EQ(show(brokenDown(0)), "1970-01-01 00:00:00 wday 4 yday 0 isdst 0");
    EXPECT_EQ(show(brokenDown(-1)), "1969-12-31 23:59:59 wday 3 yday 364 isdst 0");
    EXPECT_EQ(show(brokenDown(951782400)), "2000-02-29 00:00:00 wday 2 yday 59 isdst 0");
    EXPECT_EQ(show(brokenDown(951868800)), "2000-03-01 00:00:00 wday 3 yday 60 isdst 0");
    EXPECT_EQ(show(brokenDown(978220800)), "2000-12-31 00:00:00 wday 0 yday 365 isdst 0");
    EXPECT_EQ(show(brokenDown(INT32_MAX)), "2038-01-19 03:14:07 wday 2 yday 18 isdst 0");
    EXPECT_EQ(show(brokenDown(INT32_MIN)), "1901-12-13 20:45:52 wday 5 yday 346 isdst 0");
    EXPECT_EQ(show(brokenDown(-2145916801)), "1901-12-31 23:59:59 wday 2 yday 364 isdst 0");
    EXPECT_EQ(show(brokenDown(-2145916800)), "1902-01-01 00:00:00 wday 3 yday 0 isdst 0");
}

TEST(TimeToBrokenDown, NullRecordGivesNullAndWritesNothing)
{
    EXPECT_EQ(zubTimeConvertCalendarTimeToBrokenDownTime(12345, nullptr), nullptr);
}

TEST(TimeToBrokenDown, WritesOnlyTheNineStandardFields)
{
    struct tm tm;
    std::memset(&tm, 0xA5, sizeof tm);
    zubTimeConvertCalendarTimeToBrokenDownTime(-1, &tm);
    const auto *bytes = reinterpret_cast<const unsigned char *>(&tm);
    for (size_t i = offsetof(struct tm, tm_isdst) + sizeof tm.tm_isdst; i < sizeof tm; ++i) {
        EXPECT_EQ(bytes[i], 0xA5) << "byte " << i;
    }
}

// Every day of the signed 32-bit range at its first and last second and a
// few times between, against the C library and the slow model; each
// non-negative time also converts back to itself.
TEST(TimeToBrokenDown, EveryDayMatchesGmtimeAndTheSlowModel)
{
    const int32_t timesOfDay[] = {0, 1, 3599, 43200, 45296, 86399};
    for (int32_t day = kFirstDay; day <= kLastDay; ++day) {
        for (int32_t second : timesOfDay) {
            const int64_t wide = int64_t{day} * 86400 + second;
            if (wide < INT32_MIN || wide > INT32_MAX) {
                continue;
            }
            const auto time = static_cast<int32_t>(wide);
            const Fields ours = brokenDown(time);
            ASSERT_EQ(ours, libcBrokenDown(time)) << time << ": " << show(ours);
            ASSERT_EQ(ours, slowBrokenDown(time)) << time << ": " << show(ours);
            if (time >= 0) {
                struct tm tm;
                zubTimeConvertCalendarTimeToBrokenDownTime(time, &tm);
                ASSERT_EQ(zubTimeConvertBrokenDownTimeToCalendarTime(&tm), static_cast<uint32_t>(time));
                ASSERT_EQ(fieldsOf(tm), ours) << time;
            }
        }
    }
    for (int32_t time : {INT32_MIN, INT32_MIN + 1, INT32_MAX - 1, INT32_MAX}) {
        EXPECT_EQ(brokenDown(time), libcBrokenDown(time)) << time;
    }
}

TEST(TimeToBrokenDown, RandomSecondsMatchGmtime)
{
    const uint32_t seed = std::random_device{}();
    std::mt19937 random(seed);
    for (int i = 0; i < kRandomSeconds; ++i) {
        const auto time = static_cast<int32_t>(random());
        const Fields ours = brokenDown(time);
        ASSERT_EQ(ours, libcBrokenDown(time)) << "seed " << seed << " time " << time << ": " << show(ours);
    }
}

TEST(TimeToCalendar, KnownDates)
{
    struct tm epoch = makeTm(1970, 1, 1, 0, 0, 0);
    EXPECT_EQ(zubTimeConvertBrokenDownTimeToCalendarTime(&epoch), 0u);
    EXPECT_EQ(show(fieldsOf(epoch)), "1970-01-01 00:00:00 wday 4 yday 0 isdst 0");

    struct tm leapDay = makeTm(2000, 2, 29, 0, 0, 0);
    EXPECT_EQ(zubTimeConvertBrokenDownTimeToCalendarTime(&leapDay), 951782400u);
    EXPECT_EQ(show(fieldsOf(leapDay)), "2000-02-29 00:00:00 wday 2 yday 59 isdst 0");

    struct tm lastOf2000 = makeTm(2000, 12, 31, 0, 0, 0);
    EXPECT_EQ(zubTimeConvertBrokenDownTimeToCalendarTime(&lastOf2000), 978220800u);
    EXPECT_EQ(lastOf2000.tm_yday, 365);

    // Past the signed range: the unsigned result carries on.
    struct tm after2038 = makeTm(2038, 1, 19, 3, 14, 8);
    EXPECT_EQ(zubTimeConvertBrokenDownTimeToCalendarTime(&after2038), 2147483648u);

    // 2100 is accepted and is not a leap year: 1 March is day 59.
    struct tm march2100 = makeTm(2100, 3, 1, 0, 0, 0);
    EXPECT_EQ(zubTimeConvertBrokenDownTimeToCalendarTime(&march2100), 4107542400u);
    EXPECT_EQ(show(fieldsOf(march2100)), "2100-03-01 00:00:00 wday 1 yday 59 isdst 0");
    struct tm last = makeTm(2100, 12, 31, 23, 59, 59);
    EXPECT_EQ(zubTimeConvertBrokenDownTimeToCalendarTime(&last), 4133980799u);
    EXPECT_EQ(show(fieldsOf(last)), "2100-12-31 23:59:59 wday 5 yday 364 isdst 0");
}

TEST(TimeToCalendar, OutOfRangeFieldsAreRepairedNotCarried)
{
    struct tm tm = makeTm(2001, 5, 6, 7, 8, 60);
    const uint32_t base = 989132880u; // 2001-05-06 07:08:00
    EXPECT_EQ(zubTimeConvertBrokenDownTimeToCalendarTime(&tm), base);
    EXPECT_EQ(tm.tm_sec, 0);

    tm = makeTm(2001, 5, 6, 7, 60, 9);
    EXPECT_EQ(zubTimeConvertBrokenDownTimeToCalendarTime(&tm), base - 8 * 60 + 9);
    EXPECT_EQ(tm.tm_min, 0);

    tm = makeTm(2001, 5, 6, 24, 8, 0);
    EXPECT_EQ(zubTimeConvertBrokenDownTimeToCalendarTime(&tm), base - 7 * 3600);
    EXPECT_EQ(tm.tm_hour, 0);

    tm = makeTm(2001, 13, 6, 7, 8, 0); // month 12 is January
    EXPECT_EQ(zubTimeConvertBrokenDownTimeToCalendarTime(&tm), 978764880u);
    EXPECT_EQ(show(fieldsOf(tm)), "2001-01-06 07:08:00 wday 6 yday 5 isdst 0");

    tm = makeTm(2001, 5, 0, 7, 8, 0);
    EXPECT_EQ(zubTimeConvertBrokenDownTimeToCalendarTime(&tm), base - 5 * 86400);
    EXPECT_EQ(tm.tm_mday, 1);
    tm = makeTm(2001, 5, 32, 7, 8, 0);
    EXPECT_EQ(zubTimeConvertBrokenDownTimeToCalendarTime(&tm), base - 5 * 86400);
    EXPECT_EQ(tm.tm_mday, 1);

    // Years outside 1970 to 2100 become 1970, and no leap day is added.
    for (int year : {1969, 2101, 1900 + INT32_MIN / 2, 0}) {
        tm = makeTm(2000, 3, 1, 0, 0, 0);
        tm.tm_year = year - 1900;
        EXPECT_EQ(zubTimeConvertBrokenDownTimeToCalendarTime(&tm), 59u * 86400) << year;
        EXPECT_EQ(show(fieldsOf(tm)), "1970-03-01 00:00:00 wday 0 yday 59 isdst 0") << year;
    }

    // Negative fields are out of range too.
    tm = makeTm(2001, 5, 6, 7, 8, 0);
    tm.tm_sec = tm.tm_min = tm.tm_hour = tm.tm_mday = tm.tm_mon = -1;
    EXPECT_EQ(zubTimeConvertBrokenDownTimeToCalendarTime(&tm), 978307200u); // 2001-01-01
    EXPECT_EQ(show(fieldsOf(tm)), "2001-01-01 00:00:00 wday 1 yday 0 isdst 0");
}

TEST(TimeToCalendar, DayOfMonthIsNotCheckedAgainstItsMonth)
{
    struct tm feb31 = makeTm(2001, 2, 31, 0, 0, 0);
    struct tm mar3 = makeTm(2001, 3, 3, 0, 0, 0);
    EXPECT_EQ(zubTimeConvertBrokenDownTimeToCalendarTime(&feb31),
              zubTimeConvertBrokenDownTimeToCalendarTime(&mar3));
    EXPECT_EQ(show(fieldsOf(feb31)), "2001-02-31 00:00:00 wday 6 yday 61 isdst 0");

    // In a leap year the leap day goes by the month field: 31 February is
    // 2 March, and 30 February of 2100 is 2 March as well.
    struct tm leapFeb31 = makeTm(2004, 2, 31, 0, 0, 0);
    struct tm leapMar2 = makeTm(2004, 3, 2, 0, 0, 0);
    EXPECT_EQ(zubTimeConvertBrokenDownTimeToCalendarTime(&leapFeb31),
              zubTimeConvertBrokenDownTimeToCalendarTime(&leapMar2));
    struct tm feb30of2100 = makeTm(2100, 2, 30, 0, 0, 0);
    struct tm mar2of2100 = makeTm(2100, 3, 2, 0, 0, 0);
    EXPECT_EQ(zubTimeConvertBrokenDownTimeToCalendarTime(&feb30of2100),
              zubTimeConvertBrokenDownTimeToCalendarTime(&mar2of2100));
}

TEST(TimeToCalendar, NullRecordGivesZero)
{
    EXPECT_EQ(zubTimeConvertBrokenDownTimeToCalendarTime(nullptr), 0u);
}

TEST(TimeToCalendar, WritesOnlyTheNineStandardFields)
{
    struct tm tm;
    std::memset(&tm, 0xA5, sizeof tm);
    tm.tm_year = 100;
    zubTimeConvertBrokenDownTimeToCalendarTime(&tm);
    const auto *bytes = reinterpret_cast<const unsigned char *>(&tm);
    for (size_t i = offsetof(struct tm, tm_isdst) + sizeof tm.tm_isdst; i < sizeof tm; ++i) {
        EXPECT_EQ(bytes[i], 0xA5) << "byte " << i;
    }
}

// Every valid date of 1970 to 2100 against the C library's timegm (as far
// as its time_t reaches) and the slow model.
TEST(TimeToCalendar, EveryValidDateMatchesTimegmAndTheSlowModel)
{
    const uint32_t seed = std::random_device{}();
    std::mt19937 random(seed);
    int days = 0;
    for (int year = 1970; year <= 2100; ++year) {
        for (int mon = 1; mon <= 12; ++mon) {
            const int length = kDaysBefore[leap(year) ? 1 : 0][mon] - kDaysBefore[leap(year) ? 1 : 0][mon - 1];
            for (int mday = 1; mday <= length; ++mday, ++days) {
                const auto secondOfDay = static_cast<int>(random() % 86400);
                struct tm ours = makeTm(year, mon, mday, secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60);
                struct tm slow = ours;
                struct tm libc = ours;
                const uint32_t result = zubTimeConvertBrokenDownTimeToCalendarTime(&ours);
                ASSERT_EQ(result, slowToCalendar(&slow)) << "seed " << seed << ": " << show(fieldsOf(ours));
                ASSERT_EQ(fieldsOf(ours), fieldsOf(slow)) << "seed " << seed;
                ASSERT_EQ(result, static_cast<uint32_t>(days) * 86400u + static_cast<uint32_t>(secondOfDay));
                if (sizeof(time_t) == 4 && result > static_cast<uint32_t>(INT32_MAX)) {
                    continue;
                }
                const time_t expected = timegm(&libc);
                ASSERT_EQ(static_cast<int64_t>(result), static_cast<int64_t>(expected))
                    << "seed " << seed << ": " << show(fieldsOf(ours));
                ASSERT_EQ(fieldsOf(ours), fieldsOf(libc)) << "seed " << seed;
            }
        }
    }
    EXPECT_EQ(days, 47847);
}

// Fields drawn from the edges of every range and from all 32-bit values:
// the repaired record, its derived fields and the result match the slow model.
TEST(TimeToCalendar, RandomFieldsMatchTheSlowModel)
{
    const uint32_t seed = std::random_device{}();
    std::mt19937 random(seed);
    const int edges[] = {INT32_MIN, -1, 0, 1, 11, 12, 23, 24, 30, 31, 32, 59, 60, 69, 70, 71,
                         99, 100, 101, 199, 200, 201, INT32_MAX};
    auto field = [&](int lo, int hi) {
        switch (random() % 3) {
        case 0:
            return edges[random() % (sizeof edges / sizeof edges[0])];
        case 1:
            return lo + static_cast<int>(random() % static_cast<uint32_t>(hi - lo + 1));
        default:
            return static_cast<int>(random());
        }
    };
    for (int i = 0; i < 200000; ++i) {
        struct tm ours;
        std::memset(&ours, 0, sizeof ours);
        ours.tm_sec = field(0, 59);
        ours.tm_min = field(0, 59);
        ours.tm_hour = field(0, 23);
        ours.tm_mday = field(1, 31);
        ours.tm_mon = field(0, 11);
        ours.tm_year = field(70, 200);
        ours.tm_wday = static_cast<int>(random());
        ours.tm_yday = static_cast<int>(random());
        ours.tm_isdst = static_cast<int>(random());
        struct tm slow = ours;
        const Fields given = fieldsOf(ours);
        ASSERT_EQ(zubTimeConvertBrokenDownTimeToCalendarTime(&ours), slowToCalendar(&slow))
            << "seed " << seed << " given " << show(given);
        ASSERT_EQ(fieldsOf(ours), fieldsOf(slow)) << "seed " << seed << " given " << show(given);
    }
}
