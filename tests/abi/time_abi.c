/* Broken-down time: the nine standard fields of struct tm are 32-bit and
 * come first, in the order the conversions document. */
#include "abi_expect.h"

#include "zub/zubtime.h"

_Static_assert(sizeof(((struct tm *)0)->tm_sec) == 4, "struct tm fields are 32-bit");
ZUB_ABI_OFFSET(struct tm, tm_sec, 0, 0);
ZUB_ABI_OFFSET(struct tm, tm_min, 4, 4);
ZUB_ABI_OFFSET(struct tm, tm_hour, 8, 8);
ZUB_ABI_OFFSET(struct tm, tm_mday, 12, 12);
ZUB_ABI_OFFSET(struct tm, tm_mon, 16, 16);
ZUB_ABI_OFFSET(struct tm, tm_year, 20, 20);
ZUB_ABI_OFFSET(struct tm, tm_wday, 24, 24);
ZUB_ABI_OFFSET(struct tm, tm_yday, 28, 28);
ZUB_ABI_OFFSET(struct tm, tm_isdst, 32, 32);
