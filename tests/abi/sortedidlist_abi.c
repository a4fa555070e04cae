/* Record layouts of the sorted id list on armhf and on 64-bit hosts. */
#include "abi_expect.h"

#include "zub/sortedidlist.h"

ZUB_ABI_SIZE(zubSortedIdListParams_t, 16, 24);
ZUB_ABI_OFFSET(zubSortedIdListParams_t, keyAllocator, 4, 8);
ZUB_ABI_OFFSET(zubSortedIdListParams_t, valueSize, 8, 16);
ZUB_ABI_OFFSET(zubSortedIdListParams_t, maxEntries, 12, 20);
ZUB_ABI_OFFSET(zubSortedIdListParams_t, growStep, 14, 22);

ZUB_ABI_SIZE(zubSortedIdList_t, 32, 48);
ZUB_ABI_OFFSET(zubSortedIdList_t, keyAllocator, 4, 8);
ZUB_ABI_OFFSET(zubSortedIdList_t, valueSize, 8, 16);
ZUB_ABI_OFFSET(zubSortedIdList_t, maxEntries, 12, 20);
ZUB_ABI_OFFSET(zubSortedIdList_t, growStep, 14, 22);
ZUB_ABI_OFFSET(zubSortedIdList_t, keys, 16, 24);
ZUB_ABI_OFFSET(zubSortedIdList_t, values, 20, 32);
ZUB_ABI_OFFSET(zubSortedIdList_t, alloced, 24, 40);
ZUB_ABI_OFFSET(zubSortedIdList_t, count, 26, 42);
ZUB_ABI_OFFSET(zubSortedIdList_t, modCount, 28, 44);

ZUB_ABI_SIZE(zubSortedIdListIterator_t, 8, 8);
ZUB_ABI_OFFSET(zubSortedIdListIterator_t, modCount, 4, 4);
