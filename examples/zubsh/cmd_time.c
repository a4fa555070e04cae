/* Time family: "time SECONDS" prints the broken-down UTC time of a signed
 * 32-bit calendar time; "mktime YYYY-MM-DD hh:mm:ss" prints the calendar
 * time of a date and the date as the conversion repaired it (fields out of
 * range set back, 31 February counted into March). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "zub/zubtime.h"
#include "zubsh.h"

static void print_broken_down(const struct tm *tm)
{
    static const char days[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    printf("%04ld-%02d-%02d %02d:%02d:%02d (%s, day %d of the year)\n", (long)tm->tm_year + 1900,
           tm->tm_mon + 1, tm->tm_mday, tm->tm_hour, tm->tm_min, tm->tm_sec,
           days[(unsigned)tm->tm_wday % 7u], tm->tm_yday);
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

/* The conversion keeps an overlong day of month (31 February stays 31)
 * but counts it into the day of the year: name the day it stands for. */
static void name_the_day(struct tm *tm)
{
    static const int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const long year = (long)tm->tm_year + 1900;
    const int leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    int day = tm->tm_yday, month = 0;
    while (month < 11 && day >= lengths[month] + (month == 1 && leap)) {
        day -= lengths[month] + (month == 1 && leap);
        month++;
    }
    tm->tm_mon = month;
    tm->tm_mday = day + 1;
}

static int cmd_mktime(vklState_t *console, uintptr_t context, char **argv, int32_t argc)
{
    (void)console;
    (void)context;
    long long field[6];
    int used = -1;
    char text[64];
    if (argc == 3) {
        snprintf(text, sizeof text, "%s %s", argv[1], argv[2]);
    }
    if (argc != 3 ||
        sscanf(text, "%lld-%lld-%lld %lld:%lld:%lld%n", &field[0], &field[1], &field[2], &field[3],
               &field[4], &field[5], &used) != 6 ||
        text[used] != '\0') {
        printf("usage: mktime YYYY-MM-DD hh:mm:ss\n");
        return -22;
    }
    /* Anything the conversion repairs fits well inside this; the bound
     * keeps year - 1900 and month - 1 from overflowing an int. */
    for (int i = 0; i < 6; i++) {
        if (field[i] < -1000000000 || field[i] > 1000000000) {
            printf("mktime: each field lies between -1000000000 and 1000000000\n");
            return -22;
        }
    }
    struct tm tm;
    memset(&tm, 0, sizeof tm);
    tm.tm_year = (int)field[0] - 1900;
    tm.tm_mon = (int)field[1] - 1;
    tm.tm_mday = (int)field[2];
    tm.tm_hour = (int)field[3];
    tm.tm_min = (int)field[4];
    tm.tm_sec = (int)field[5];
    uint32_t seconds = zubTimeConvertBrokenDownTimeToCalendarTime(&tm);
    name_the_day(&tm);
    printf("%lu  ", (unsigned long)seconds);
    print_broken_down(&tm);
    return 0;
}

static const zubsh_command_t commands[] = {
    {"time", cmd_time, "print the UTC date of SECONDS since 1970"},
    {"mktime", cmd_mktime, "print the seconds of YYYY-MM-DD hh:mm:ss (fields repaired)"},
};

int zubsh_register_time(vklState_t *console)
{
    return zubsh_add(console, commands, sizeof commands / sizeof commands[0]);
}
