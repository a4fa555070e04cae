/* Layout of the bitmask record on armhf and on 64-bit hosts. */
#include "abi_expect.h"

#include "zub/bitmask.h"

ZUB_ABI_SIZE(zubBitmask_t, 16, 24);
ZUB_ABI_OFFSET(zubBitmask_t, nBits, 0, 0);
ZUB_ABI_OFFSET(zubBitmask_t, topBits, 8, 8);
ZUB_ABI_OFFSET(zubBitmask_t, levelTables, 12, 16);
