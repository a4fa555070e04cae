// Calendar and broken-down time in UTC.
//
// Both directions are closed-form day counts: no loop over years and no
// search.
//
// Broken-down to calendar: the accepted years are 1970 to 2100, so the
// days before a year are 365 per year plus one leap day in four (2100, the
// only century year in range, is last and adds no day before itself).
//
// Calendar to broken-down: a signed 32-bit time lies between 1901-12-13
// and 2038-01-19. Counted from 1900-03-01, each leap day is the last day of
// its (March to February) year, and from 1900-03-01 to 2100-02-28 every
// fourth such year is the long one: the calendar repeats every 1461 days.
// One division of four times the day count by 1461 gives the year and the
// day in the year; the month of a March-based day follows from
// (5 * day + 2) / 153 because the months from March onwards repeat the
// lengths 31 30 31 30 31 every five months (153 days).
#include "zub/zubtime.h"

namespace {

constexpr uint32_t kSecondsPerDay = 86400;

// Days before the first of each month; the thirteenth entry is the year's length.
constexpr uint16_t kDaysBeforeMonth[13] = {0,   31,  59,  90,  120, 151, 181,
                                           212, 243, 273, 304, 334, 365};

constexpr bool isLeapYear(uint32_t year)
{
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

// Leap years from year 1 up to and including `year`.
constexpr uint32_t leapYearsThrough(uint32_t year)
{
    return year / 4 - year / 100 + year / 400;
}

// Days from 1970-01-01 to 1 January of `year` (1970 or later).
constexpr uint32_t daysBeforeYear(uint32_t year)
{
    return 365 * (year - 1970) + leapYearsThrough(year - 1) - leapYearsThrough(1969);
}

// The same for the accepted years, 1970 to 2100, counted from 1900: every
// fourth year is a leap year except 2100, so the leap days from 1970 to a
// year are the multiples of four below it, (years + 3) / 4, less the 18
// below 70 (1900, common, is one of them, and cancels). No division by 100
// or 400 is left: the conversion is a few adds and one shift.
constexpr uint32_t kFirstYear = 70;
constexpr uint32_t kLastYear = 200;

constexpr bool isLeapYearSince1900(uint32_t years)
{
    return (years & 3u) == 0 && years != kLastYear;
}

constexpr uint32_t daysBeforeYearSince1900(uint32_t years)
{
    return 365 * years + (years + 3) / 4 - (365 * kFirstYear + (kFirstYear + 3) / 4);
}

constexpr bool sameForEveryAcceptedYear()
{
    for (uint32_t years = kFirstYear; years <= kLastYear; ++years) {
        if (isLeapYearSince1900(years) != isLeapYear(1900 + years) ||
            daysBeforeYearSince1900(years) != daysBeforeYear(1900 + years)) {
            return false;
        }
    }
    return true;
}
static_assert(sameForEveryAcceptedYear(), "the short forms agree with the Gregorian rule");

// Days from 1900-03-01 to 1970-01-01, and the weekday of 1900-03-01
// (1970-01-01 was a Thursday, weekday 4).
constexpr int32_t kDaysMarch1900To1970 = 25508;
constexpr uint32_t kWeekdayOfMarch1900 = (4 + 7 - kDaysMarch1900To1970 % 7) % 7;
// A 4-year cycle; its last day is the leap day.
constexpr uint32_t kDaysPerCycle = 4 * 365 + 1;
// Day of the March-based year on which January begins.
constexpr uint32_t kJanuaryOfMarchYear = 306;

// INT32_MIN, 1901-12-13 20:45:52, as a day after 1900-03-01 and a second of that day.
constexpr uint32_t kEarliestDay = 652;
constexpr uint32_t kEarliestSecondOfDay = 74752;

static_assert((static_cast<int64_t>(kEarliestDay) - kDaysMarch1900To1970) * kSecondsPerDay +
                      kEarliestSecondOfDay ==
                  INT32_MIN,
              "the earliest 32-bit time");
static_assert(daysBeforeYear(2000) == 10957, "2000-01-01 is day 10957");
static_assert(kDaysMarch1900To1970 == 70 * 365 + 17 - 59, "17 leap days from 1900 to 1969");

uint32_t toCalendarTime(struct tm *tm)
{
    uint32_t seconds = static_cast<uint32_t>(tm->tm_sec);
    if (seconds > 59) {
        tm->tm_sec = 0;
        seconds = 0;
    }
    const uint32_t minutes = static_cast<uint32_t>(tm->tm_min);
    if (minutes <= 59) {
        seconds += 60 * minutes;
    } else {
        tm->tm_min = 0;
    }
    const uint32_t hours = static_cast<uint32_t>(tm->tm_hour);
    if (hours <= 23) {
        seconds += 3600 * hours;
    } else {
        tm->tm_hour = 0;
    }

    uint32_t month = static_cast<uint32_t>(tm->tm_mon);
    uint32_t days = 0;
    if (month <= 11) {
        days = kDaysBeforeMonth[month];
    } else {
        tm->tm_mon = 0;
        month = 0;
    }
    // The day is not checked against its month's length: 31 February is 3 March.
    const uint32_t dayInMonth = static_cast<uint32_t>(tm->tm_mday) - 1u;
    if (dayInMonth <= 30) {
        days += dayInMonth;
    } else {
        tm->tm_mday = 1;
    }

    // Out of range, the year is repaired to 1970, which adds no day.
    uint32_t yearsSince1900 = static_cast<uint32_t>(tm->tm_year);
    if (yearsSince1900 - kFirstYear > kLastYear - kFirstYear) {
        tm->tm_year = kFirstYear;
        yearsSince1900 = kFirstYear;
    }
    if (month > 1 && isLeapYearSince1900(yearsSince1900)) {
        ++days;
    }
    tm->tm_yday = static_cast<int>(days);
    days += daysBeforeYearSince1900(yearsSince1900);
    tm->tm_wday = static_cast<int>((days + 4) % 7);
    tm->tm_isdst = 0;
    return seconds + kSecondsPerDay * days;
}

void toBrokenDownTime(int32_t time, struct tm *tm)
{
    // Counted from the earliest time, INT32_MIN, the seconds are unsigned
    // and the division needs no sign correction.
    const uint32_t sinceEarliest = static_cast<uint32_t>(time) ^ 0x80000000u;
    uint32_t day = kEarliestDay + sinceEarliest / kSecondsPerDay;
    uint32_t secondOfDay = sinceEarliest % kSecondsPerDay + kEarliestSecondOfDay;
    if (secondOfDay >= kSecondsPerDay) {
        secondOfDay -= kSecondsPerDay;
        ++day;
    }
    tm->tm_hour = static_cast<int>(secondOfDay / 3600);
    tm->tm_min = static_cast<int>(secondOfDay % 3600 / 60);
    tm->tm_sec = static_cast<int>(secondOfDay % 60);

    // day is at least 652 (1901-12-13) and at most 50363 (2038-01-19).
    tm->tm_wday = static_cast<int>((day + kWeekdayOfMarch1900) % 7);

    // A year is 1461 / 4 days on average: (4 * day + 3) / 1461 counts the
    // whole March-based years, the +3 keeping each cycle's leap day in its
    // fourth year, and the remainder / 4 is the day within the year.
    const uint32_t quarterDays = 4 * day + 3;
    const uint32_t yearsFromMarch1900 = quarterDays / kDaysPerCycle;
    // 0 is 1 March
    const uint32_t dayOfYear = (quarterDays - kDaysPerCycle * yearsFromMarch1900) / 4;
    uint32_t year = 1900 + yearsFromMarch1900;
    const uint32_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    tm->tm_mday = static_cast<int>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    if (dayOfYear >= kJanuaryOfMarchYear) {
        // January and February belong to the next calendar year.
        ++year;
        tm->tm_mon = static_cast<int>(monthFromMarch - 10);
        tm->tm_yday = static_cast<int>(dayOfYear - kJanuaryOfMarchYear);
    } else {
        // Every fourth year from 1900 has a leap day before its March (1900
        // itself, which did not, lies before every 32-bit time).
        const uint32_t januaryAndFebruary = 59 + (yearsFromMarch1900 % 4 == 0 ? 1 : 0);
        tm->tm_mon = static_cast<int>(monthFromMarch + 2);
        tm->tm_yday = static_cast<int>(dayOfYear + januaryAndFebruary);
    }
    tm->tm_year = static_cast<int>(year - 1900);
    tm->tm_isdst = 0;
}

} // namespace

extern "C" {

uint32_t zubTimeConvertBrokenDownTimeToCalendarTime(struct tm *tm)
{
    if (tm == nullptr) {
        return 0;
    }
    return toCalendarTime(tm);
}

struct tm *zubTimeConvertCalendarTimeToBrokenDownTime(int32_t time, struct tm *tm)
{
    if (tm != nullptr) {
        toBrokenDownTime(time, tm);
    }
    return tm;
}

} // extern "C"
