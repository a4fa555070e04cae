/* Record layouts of the linked list and the string list. */
#include "abi_expect.h"

#include "zub/dllist.h"
#include "zub/strlist.h"

ZUB_ABI_SIZE(dlnode_t, 12, 24);
ZUB_ABI_OFFSET(dlnode_t, prev, 4, 8);
ZUB_ABI_OFFSET(dlnode_t, list, 8, 16);

ZUB_ABI_SIZE(dllist_t, 40, 72);
ZUB_ABI_OFFSET(dllist_t, tail, 4, 8);
ZUB_ABI_OFFSET(dllist_t, headNode, 8, 16);
ZUB_ABI_OFFSET(dllist_t, tailNode, 20, 40);
ZUB_ABI_OFFSET(dllist_t, nodeSize, 32, 64);
ZUB_ABI_OFFSET(dllist_t, count, 36, 68);

ZUB_ABI_SIZE(strnode_t, 24, 48);
ZUB_ABI_OFFSET(strnode_t, hashNext, 12, 24);
ZUB_ABI_OFFSET(strnode_t, string, 16, 32);
ZUB_ABI_OFFSET(strnode_t, length, 20, 40);

ZUB_ABI_SIZE(strlist_t, 48, 88);
ZUB_ABI_OFFSET(strlist_t, bucketCount, 40, 72);
ZUB_ABI_OFFSET(strlist_t, buckets, 44, 80);
