/* Record layouts of the shared types on armhf and on 64-bit hosts. */
#include "abi_expect.h"

#include "zub/debug.h"
#include "zub/object.h"
#include "zub/types.h"

ZUB_ABI_SIZE(zubAllocator_t, 12, 24);
ZUB_ABI_OFFSET(zubAllocator_t, alloc, 4, 8);
ZUB_ABI_OFFSET(zubAllocator_t, release, 8, 16);
ZUB_ABI_SIZE(zubScatterGatherEntry_t, 8, 16);
ZUB_ABI_OFFSET(zubScatterGatherEntry_t, lengthAndKind, 4, 8);
ZUB_ABI_SIZE(zubDebugSite_t, 12, 12);
ZUB_ABI_SIZE(zubClass_t, 12, 24);
