/* Record layouts of the linked list and the string list. */
#include "abi_expect.h"

#include "zub/dllist.h"
#include "zub/strlist.h"

_Static_assert(sizeof(dlnode_t) == ZUB_ABI_EXPECT(12, 24), "dlnode_t size");
_Static_assert(offsetof(dlnode_t, prev) == ZUB_ABI_EXPECT(4, 8), "dlnode_t.prev");
_Static_assert(offsetof(dlnode_t, list) == ZUB_ABI_EXPECT(8, 16), "dlnode_t.list");

_Static_assert(sizeof(dllist_t) == ZUB_ABI_EXPECT(40, 72), "dllist_t size");
_Static_assert(offsetof(dllist_t, tail) == ZUB_ABI_EXPECT(4, 8), "dllist_t.tail");
_Static_assert(offsetof(dllist_t, headNode) == ZUB_ABI_EXPECT(8, 16), "dllist_t.headNode");
_Static_assert(offsetof(dllist_t, tailNode) == ZUB_ABI_EXPECT(20, 40), "dllist_t.tailNode");
_Static_assert(offsetof(dllist_t, nodeSize) == ZUB_ABI_EXPECT(32, 64), "dllist_t.nodeSize");
_Static_assert(offsetof(dllist_t, count) == ZUB_ABI_EXPECT(36, 68), "dllist_t.count");

_Static_assert(sizeof(strnode_t) == ZUB_ABI_EXPECT(24, 48), "strnode_t size");
_Static_assert(offsetof(strnode_t, hashNext) == ZUB_ABI_EXPECT(12, 24), "strnode_t.hashNext");
_Static_assert(offsetof(strnode_t, string) == ZUB_ABI_EXPECT(16, 32), "strnode_t.string");
_Static_assert(offsetof(strnode_t, length) == ZUB_ABI_EXPECT(20, 40), "strnode_t.length");

_Static_assert(sizeof(strlist_t) == ZUB_ABI_EXPECT(48, 88), "strlist_t size");
_Static_assert(offsetof(strlist_t, bucketCount) == ZUB_ABI_EXPECT(40, 72), "strlist_t.bucketCount");
_Static_assert(offsetof(strlist_t, buckets) == ZUB_ABI_EXPECT(44, 80), "strlist_t.buckets");
