/* Layout of the bounded allocator record on armhf and on 64-bit hosts. */
#include "abi_expect.h"

#include "zub/bounded_allocator.h"

ZUB_ABI_OFFSET(zubBoundedAllocator_t, record, 0, 0);
ZUB_ABI_OFFSET(zubBoundedAllocator_t, limit, 12, 24);
ZUB_ABI_OFFSET(zubBoundedAllocator_t, used, 16, 32);
ZUB_ABI_OFFSET(zubBoundedAllocator_t, blocks, 20, 40);
ZUB_ABI_OFFSET(zubBoundedAllocator_t, log, 24, 48);
ZUB_ABI_OFFSET(zubBoundedAllocator_t, logCapacity, 28, 56);
ZUB_ABI_SIZE(zubBoundedAllocator_t, 32, 64);
