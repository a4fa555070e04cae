/* Record layouts of the vector on armhf and on 64-bit hosts. */
#include "abi_expect.h"

#include "zub/vector.h"

_Static_assert(sizeof(zubVectorParams_t) == ZUB_ABI_EXPECT(16, 32), "zubVectorParams_t size");
_Static_assert(offsetof(zubVectorParams_t, elementSize) == ZUB_ABI_EXPECT(4, 8),
               "zubVectorParams_t.elementSize");
_Static_assert(offsetof(zubVectorParams_t, extra0) == ZUB_ABI_EXPECT(8, 16),
               "zubVectorParams_t.extra0");
_Static_assert(offsetof(zubVectorParams_t, extra1) == ZUB_ABI_EXPECT(12, 24),
               "zubVectorParams_t.extra1");

_Static_assert(sizeof(zubVector_t) == ZUB_ABI_EXPECT(32, 56), "zubVector_t size");
_Static_assert(offsetof(zubVector_t, elementSize) == ZUB_ABI_EXPECT(4, 8),
               "zubVector_t.elementSize");
_Static_assert(offsetof(zubVector_t, extra0) == ZUB_ABI_EXPECT(8, 16), "zubVector_t.extra0");
_Static_assert(offsetof(zubVector_t, extra1) == ZUB_ABI_EXPECT(12, 24), "zubVector_t.extra1");
_Static_assert(offsetof(zubVector_t, data) == ZUB_ABI_EXPECT(16, 32), "zubVector_t.data");
_Static_assert(offsetof(zubVector_t, alloced) == ZUB_ABI_EXPECT(20, 40), "zubVector_t.alloced");
_Static_assert(offsetof(zubVector_t, head) == ZUB_ABI_EXPECT(24, 44), "zubVector_t.head");
_Static_assert(offsetof(zubVector_t, count) == ZUB_ABI_EXPECT(28, 48), "zubVector_t.count");
