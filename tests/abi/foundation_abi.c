/* Record layouts of the shared types on armhf and on 64-bit hosts. */
#include "abi_expect.h"

#include "zub/debug.h"
#include "zub/object.h"
#include "zub/types.h"

_Static_assert(sizeof(zubAllocator_t) == ZUB_ABI_EXPECT(12, 24), "zubAllocator_t size");
_Static_assert(offsetof(zubAllocator_t, alloc) == ZUB_ABI_EXPECT(4, 8), "zubAllocator_t.alloc");
_Static_assert(offsetof(zubAllocator_t, release) == ZUB_ABI_EXPECT(8, 16),
               "zubAllocator_t.release");
_Static_assert(sizeof(zubScatterGatherEntry_t) == ZUB_ABI_EXPECT(8, 16),
               "zubScatterGatherEntry_t size");
_Static_assert(offsetof(zubScatterGatherEntry_t, lengthAndKind) == ZUB_ABI_EXPECT(4, 8),
               "zubScatterGatherEntry_t word");
_Static_assert(sizeof(zubDebugSite_t) == 12, "zubDebugSite_t size");
_Static_assert(sizeof(zubClass_t) == ZUB_ABI_EXPECT(12, 24), "zubClass_t size");
