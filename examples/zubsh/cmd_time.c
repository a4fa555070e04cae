/* Time family: "time SECONDS" prints the broken-down UTC time of a signed
 * 32-bit calendar time; "mktime YYYY-MM-DD hh:mm:ss" prints the calendar
 * time of a date and the record as the conversion repaired it. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "zub/zubtime.h"
#include "zubsh.h"

static void print_broken_down(const struct tm *tm)
{
    static const char days[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    printf("%04ld-%02d-%02d %02d:%02d:%02d (%s, day %d of the year)\n",
           (long)tm->tm_year + 1900, tm->tm_mon + 1, tm->tm_mday, tm->tm_hour, tm->tm_min,
           tm->tm_sec, days[(unsigned)tm->tm_wday % 7u], tm->tm_yday);
}

static int cmd_time(vklState_t *console, uintptr_t context, char **argv, int32_t argc)
{
    (void)console;
    (void)context;
    char *end = NULL;
    long long seconds = argc == 2 ? strtoll(argv[1], &end, 10) : 0;
    if (argc != 2 || end == argv[1] || *end != '\0' || seconds < INT32_MIN || seconds > INT32_MAX) {
        printf("usage: time SECONDS (-2147483648 to 2147483647)\n");
        return -22;
    }
    struct tm tm;
    zubTimeConvertCalendarTimeToBrokenDownTime((int32_t)seconds, &tm);
    print_broken_down(&tm);
    return 0;
}

static int cmd_mktime(vklState_t *console, uintptr_t context, char **argv, int32_t argc)
{
    (void)console;
    (void)context;
    int year, month, day, hour, minute, second, used = -1;
    char text[64];
    if (argc == 3) {
        snprintf(text, sizeof text, "%s %s", argv[1], argv[2]);
    }
    if (argc != 3 || sscanf(text, "%d-%d-%d %d:%d:%d%n", &year, &month, &day, &hour, &minute,
                            &second, &used) != 6 || text[used] != '\0') {
        printf("usage: mktime YYYY-MM-DD hh:mm:ss\n");
        return -22;
    }
    struct tm tm;
    memset(&tm, 0, sizeof tm);
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    uint32_t seconds = zubTimeConvertBrokenDownTimeToCalendarTime(&tm);
    printf("%lu  ", (unsigned long)seconds);
    print_broken_down(&tm);
    return 0;
}

int zubsh_register_time(vklState_t *console)
{
    int result = zubsh_add(console, "time", cmd_time, "print the UTC date of SECONDS since 1970");
    if (result == 0) {
        result = zubsh_add(console, "mktime", cmd_mktime,
                           "print the seconds of YYYY-MM-DD hh:mm:ss (fields repaired)");
    }
    return result;
}
