/* Record layouts of the vector on armhf and on 64-bit hosts. */
#include "abi_expect.h"

#include "zub/vector.h"

ZUB_ABI_SIZE(zubVectorParams_t, 16, 32);
ZUB_ABI_OFFSET(zubVectorParams_t, elementSize, 4, 8);
ZUB_ABI_OFFSET(zubVectorParams_t, extra0, 8, 16);
ZUB_ABI_OFFSET(zubVectorParams_t, extra1, 12, 24);

ZUB_ABI_SIZE(zubVector_t, 32, 56);
ZUB_ABI_OFFSET(zubVector_t, elementSize, 4, 8);
ZUB_ABI_OFFSET(zubVector_t, extra0, 8, 16);
ZUB_ABI_OFFSET(zubVector_t, extra1, 12, 24);
ZUB_ABI_OFFSET(zubVector_t, data, 16, 32);
ZUB_ABI_OFFSET(zubVector_t, alloced, 20, 40);
ZUB_ABI_OFFSET(zubVector_t, head, 24, 44);
ZUB_ABI_OFFSET(zubVector_t, count, 28, 48);
