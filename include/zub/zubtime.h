/*
 * Calendar time and broken-down time in UTC.
 *
 * Calendar time counts seconds since 1970-01-01 00:00:00 UTC, without time
 * zones and without leap seconds. Broken-down time is the C library's
 * struct tm, of which the nine standard fields are used:
 *
 *   tm_sec   0-59            tm_mon   0-11 (0 = January)
 *   tm_min   0-59            tm_year  years since 1900
 *   tm_hour  0-23            tm_wday  0-6 (0 = Sunday)
 *   tm_mday  1-31            tm_yday  0-365 (0 = 1 January)
 *   tm_isdst always 0
 *
 * Leap years follow the Gregorian rule. Neither function calls the C
 * library's time functions, reads the time-zone setting, allocates or
 * locks; both are reentrant and may run on any number of threads, each on
 * its own record.
 *
 * Choices made for this library:
 * - Only the nine fields above are read or written. Fields that a C
 *   library adds after them (a zone offset or name) are left untouched.
 * - zubTimeConvertBrokenDownTimeToCalendarTime given a null pointer
 *   returns 0 and writes nothing.
 *
 * The header is named zubtime.h so that it can never stand in for the C
 * library's <time.h>, whatever include paths a program uses.
 *
 * Example:
 *
 *     #include <stdio.h>
 *     #include "zub/zubtime.h"
 *     int main(void)
 *     {
 *         struct tm tm;
 *         zubTimeConvertCalendarTimeToBrokenDownTime(951782400, &tm); // 2000-02-29 00:00:00
 *         printf("%d-%02d-%02d day %d\n", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
 *                tm.tm_yday);
 *         tm.tm_sec = 60;                                             // repaired to 0
 *         printf("%u\n", (unsigned)zubTimeConvertBrokenDownTimeToCalendarTime(&tm)); // 951782400
 *         return 0;
 *     }
 */
#ifndef ZUB_ZUBTIME_H
#define ZUB_ZUBTIME_H

#include <time.h>

#include "zub/types.h"

ZUB_EXTERN_C_BEGIN

/*
 * Repairs *tm in place, sets its tm_yday, tm_wday and tm_isdst, and returns
 * the calendar time it stands for as unsigned 32-bit seconds.
 *
 * Every range test reads its field as an unsigned 32-bit value, so a
 * negative field is out of range. Out-of-range fields are repaired, never
 * carried into the next field:
 *   tm_sec above 59         -> 0
 *   tm_min above 59         -> 0
 *   tm_hour above 23        -> 0
 *   tm_mon above 11         -> 0 (January)
 *   tm_mday outside 1-31    -> 1
 *   tm_year outside 70-200  -> 70 (1970); years 1970 to 2100 are accepted
 * The day of month is not checked against its month: 31 February of a
 * common year counts as 3 March and tm_mday stays 31. The leap day is
 * counted for March to December (of the repaired month) of a leap year.
 * tm_yday becomes the day count within the year (so 31 February gives 61),
 * tm_wday the weekday of the resulting day, tm_isdst 0. The result wraps
 * modulo 2^32 (no date of 1970 to 2100 reaches that).
 * A null tm gives 0 and nothing is written.
 */
ZUB_API uint32_t zubTimeConvertBrokenDownTimeToCalendarTime(struct tm *tm);

/*
 * Fills the nine fields of *tm from the signed 32-bit calendar time `time`
 * (1901-12-13 20:45:52 to 2038-01-19 03:14:07; negative values are before
 * 1970) and returns tm. tm_isdst is 0. A null tm gives null and nothing is
 * written.
 */
ZUB_API struct tm *zubTimeConvertCalendarTimeToBrokenDownTime(int32_t time, struct tm *tm);

ZUB_EXTERN_C_END

#endif /* ZUB_ZUBTIME_H */
