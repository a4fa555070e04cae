/* Layout of the bounded allocator record on armhf and on 64-bit hosts. */
#include "abi_expect.h"

#include "zub/bounded_allocator.h"

_Static_assert(offsetof(zubBoundedAllocator_t, record) == 0, "zubBoundedAllocator_t.record first");
_Static_assert(offsetof(zubBoundedAllocator_t, limit) == ZUB_ABI_EXPECT(12, 24),
               "zubBoundedAllocator_t.limit");
_Static_assert(offsetof(zubBoundedAllocator_t, used) == ZUB_ABI_EXPECT(16, 32),
               "zubBoundedAllocator_t.used");
_Static_assert(offsetof(zubBoundedAllocator_t, blocks) == ZUB_ABI_EXPECT(20, 40),
               "zubBoundedAllocator_t.blocks");
_Static_assert(offsetof(zubBoundedAllocator_t, log) == ZUB_ABI_EXPECT(24, 48),
               "zubBoundedAllocator_t.log");
_Static_assert(offsetof(zubBoundedAllocator_t, logCapacity) == ZUB_ABI_EXPECT(28, 56),
               "zubBoundedAllocator_t.logCapacity");
_Static_assert(sizeof(zubBoundedAllocator_t) == ZUB_ABI_EXPECT(32, 64),
               "zubBoundedAllocator_t size");
