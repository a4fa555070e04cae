/* Record layouts of the sorted id list on armhf and on 64-bit hosts. */
#include "abi_expect.h"

#include "zub/sortedidlist.h"

_Static_assert(sizeof(zubSortedIdListParams_t) == ZUB_ABI_EXPECT(16, 24),
               "zubSortedIdListParams_t size");
_Static_assert(offsetof(zubSortedIdListParams_t, keyAllocator) == ZUB_ABI_EXPECT(4, 8),
               "zubSortedIdListParams_t.keyAllocator");
_Static_assert(offsetof(zubSortedIdListParams_t, valueSize) == ZUB_ABI_EXPECT(8, 16),
               "zubSortedIdListParams_t.valueSize");
_Static_assert(offsetof(zubSortedIdListParams_t, maxEntries) == ZUB_ABI_EXPECT(12, 20),
               "zubSortedIdListParams_t.maxEntries");
_Static_assert(offsetof(zubSortedIdListParams_t, growStep) == ZUB_ABI_EXPECT(14, 22),
               "zubSortedIdListParams_t.growStep");

_Static_assert(sizeof(zubSortedIdList_t) == ZUB_ABI_EXPECT(32, 48), "zubSortedIdList_t size");
_Static_assert(offsetof(zubSortedIdList_t, keyAllocator) == ZUB_ABI_EXPECT(4, 8),
               "zubSortedIdList_t.keyAllocator");
_Static_assert(offsetof(zubSortedIdList_t, valueSize) == ZUB_ABI_EXPECT(8, 16),
               "zubSortedIdList_t.valueSize");
_Static_assert(offsetof(zubSortedIdList_t, maxEntries) == ZUB_ABI_EXPECT(12, 20),
               "zubSortedIdList_t.maxEntries");
_Static_assert(offsetof(zubSortedIdList_t, growStep) == ZUB_ABI_EXPECT(14, 22),
               "zubSortedIdList_t.growStep");
_Static_assert(offsetof(zubSortedIdList_t, keys) == ZUB_ABI_EXPECT(16, 24),
               "zubSortedIdList_t.keys");
_Static_assert(offsetof(zubSortedIdList_t, values) == ZUB_ABI_EXPECT(20, 32),
               "zubSortedIdList_t.values");
_Static_assert(offsetof(zubSortedIdList_t, alloced) == ZUB_ABI_EXPECT(24, 40),
               "zubSortedIdList_t.alloced");
_Static_assert(offsetof(zubSortedIdList_t, count) == ZUB_ABI_EXPECT(26, 42),
               "zubSortedIdList_t.count");
_Static_assert(offsetof(zubSortedIdList_t, modCount) == ZUB_ABI_EXPECT(28, 44),
               "zubSortedIdList_t.modCount");

_Static_assert(sizeof(zubSortedIdListIterator_t) == 8, "zubSortedIdListIterator_t size");
_Static_assert(offsetof(zubSortedIdListIterator_t, modCount) == 4,
               "zubSortedIdListIterator_t.modCount");
