/* Layout of the bitmask record on armhf and on 64-bit hosts. */
#include "abi_expect.h"

#include "zub/bitmask.h"

_Static_assert(sizeof(zubBitmask_t) == ZUB_ABI_EXPECT(16, 24), "zubBitmask_t size");
_Static_assert(offsetof(zubBitmask_t, nBits) == 0, "zubBitmask_t.nBits");
_Static_assert(offsetof(zubBitmask_t, topBits) == 8, "zubBitmask_t.topBits");
_Static_assert(offsetof(zubBitmask_t, levelTables) == ZUB_ABI_EXPECT(12, 16),
               "zubBitmask_t.levelTables");
