/* Broken-down time: the nine standard fields of struct tm are 32-bit and
 * come first, in the order the conversions document. */
#include "abi_expect.h"

#include "zub/zubtime.h"

_Static_assert(sizeof(((struct tm *)0)->tm_sec) == 4, "struct tm fields are 32-bit");
_Static_assert(offsetof(struct tm, tm_sec) == 0, "struct tm.tm_sec");
_Static_assert(offsetof(struct tm, tm_min) == 4, "struct tm.tm_min");
_Static_assert(offsetof(struct tm, tm_hour) == 8, "struct tm.tm_hour");
_Static_assert(offsetof(struct tm, tm_mday) == 12, "struct tm.tm_mday");
_Static_assert(offsetof(struct tm, tm_mon) == 16, "struct tm.tm_mon");
_Static_assert(offsetof(struct tm, tm_year) == 20, "struct tm.tm_year");
_Static_assert(offsetof(struct tm, tm_wday) == 24, "struct tm.tm_wday");
_Static_assert(offsetof(struct tm, tm_yday) == 28, "struct tm.tm_yday");
_Static_assert(offsetof(struct tm, tm_isdst) == 32, "struct tm.tm_isdst");
