/* Record layouts of the open hash table on armhf and on 64-bit hosts. */
#include "abi_expect.h"

#include "zub/ohash.h"

_Static_assert(sizeof(ohash_slot) == ZUB_ABI_EXPECT(8, 16), "ohash_slot size");
_Static_assert(offsetof(ohash_slot, hash) == 0, "ohash_slot.hash");
_Static_assert(offsetof(ohash_slot, entry) == ZUB_ABI_EXPECT(4, 8), "ohash_slot.entry");

_Static_assert(sizeof(ohash_setup) == ZUB_ABI_EXPECT(20, 40), "ohash_setup size");
_Static_assert(offsetof(ohash_setup, keyOffset) == 0, "ohash_setup.keyOffset");
_Static_assert(offsetof(ohash_setup, userData) == ZUB_ABI_EXPECT(4, 8), "ohash_setup.userData");
_Static_assert(offsetof(ohash_setup, tableAlloc) == ZUB_ABI_EXPECT(8, 16),
               "ohash_setup.tableAlloc");
_Static_assert(offsetof(ohash_setup, tableRelease) == ZUB_ABI_EXPECT(12, 24),
               "ohash_setup.tableRelease");
_Static_assert(offsetof(ohash_setup, entryAlloc) == ZUB_ABI_EXPECT(16, 32),
               "ohash_setup.entryAlloc");

_Static_assert(sizeof(ohash) == ZUB_ABI_EXPECT(36, 64), "ohash size");
_Static_assert(offsetof(ohash, slots) == 0, "ohash.slots");
_Static_assert(offsetof(ohash, setup) == ZUB_ABI_EXPECT(4, 8), "ohash.setup");
_Static_assert(offsetof(ohash, size) == ZUB_ABI_EXPECT(24, 48), "ohash.size");
_Static_assert(offsetof(ohash, total) == ZUB_ABI_EXPECT(28, 52), "ohash.total");
_Static_assert(offsetof(ohash, deleted) == ZUB_ABI_EXPECT(32, 56), "ohash.deleted");
