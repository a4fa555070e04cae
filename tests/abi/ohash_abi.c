/* Record layouts of the open hash table on armhf and on 64-bit hosts. */
#include "abi_expect.h"

#include "zub/ohash.h"

ZUB_ABI_SIZE(ohash_slot, 8, 16);
ZUB_ABI_OFFSET(ohash_slot, hash, 0, 0);
ZUB_ABI_OFFSET(ohash_slot, entry, 4, 8);

ZUB_ABI_SIZE(ohash_setup, 20, 40);
ZUB_ABI_OFFSET(ohash_setup, keyOffset, 0, 0);
ZUB_ABI_OFFSET(ohash_setup, userData, 4, 8);
ZUB_ABI_OFFSET(ohash_setup, tableAlloc, 8, 16);
ZUB_ABI_OFFSET(ohash_setup, tableRelease, 12, 24);
ZUB_ABI_OFFSET(ohash_setup, entryAlloc, 16, 32);

ZUB_ABI_SIZE(ohash, 36, 64);
ZUB_ABI_OFFSET(ohash, slots, 0, 0);
ZUB_ABI_OFFSET(ohash, setup, 4, 8);
ZUB_ABI_OFFSET(ohash, size, 24, 48);
ZUB_ABI_OFFSET(ohash, total, 28, 52);
ZUB_ABI_OFFSET(ohash, deleted, 32, 56);
