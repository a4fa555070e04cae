#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "ohash_shadow.h"
#include "test_support.h"
#include "zub/ohash.h"

using zubtest::CountingAllocator;

namespace {

constexpr int32_t kKeyOffset = 4; // entries carry a 4-byte tag before the key

// Slot arrays and entries from counting allocators; every release of a
// slot array must name the byte count it was allocated with.
struct Memory {
    CountingAllocator slots;
    CountingAllocator entries;
    size_t wrongReleaseSizes = 0;

    Memory() { slots.fill = 0; }

    ohash_setup setup(int32_t keyOffset = kKeyOffset)
    {
        return ohash_setup{keyOffset, this, &tableAlloc, &tableRelease, &entryAlloc};
    }

    void releaseEntry(void *entry) { entries.record()->release(entries.record()->context, entry); }

    static void *tableAlloc(size_t bytes, void *user)
    {
        zubAllocator_t *r = static_cast<Memory *>(user)->slots.record();
        return r->alloc(r->context, bytes, 0);
    }
    static void tableRelease(void *block, size_t bytes, void *user)
    {
        auto *self = static_cast<Memory *>(user);
        if (self->slots.blockSize(block) != bytes) {
            self->wrongReleaseSizes++;
        }
        self->slots.record()->release(self->slots.record()->context, block);
    }
    static void *entryAlloc(size_t bytes, void *user)
    {
        zubAllocator_t *r = static_cast<Memory *>(user)->entries.record();
        return r->alloc(r->context, bytes, 0);
    }
};

const char *keyOf(const void *entry)
{
    return static_cast<const char *>(entry) + kKeyOffset;
}

// Creates an entry for a NUL-terminated key and inserts it; the key must be absent.
void *add(ohash *table, const char *key)
{
    void *entry = ohash_create_entry(&table->setup, key, nullptr);
    const uint32_t index = ohash_qlookup(table, key);
    EXPECT_EQ(ohash_find(table, index), nullptr) << key;
    return ohash_insert(table, index, entry);
}

void *findKey(ohash *table, const char *key)
{
    return ohash_find(table, ohash_qlookup(table, key));
}

void releaseAll(ohash *table, Memory &memory)
{
    uint32_t position = 0;
    for (void *e = ohash_first(table, &position); e != nullptr; e = ohash_next(table, &position)) {
        memory.releaseEntry(e);
    }
    ohash_delete(table);
    EXPECT_EQ(memory.slots.liveBlocks(), 0u);
    EXPECT_EQ(memory.entries.liveBlocks(), 0u);
    EXPECT_EQ(memory.wrongReleaseSizes, 0u);
}

uint32_t hashOf(const std::string &bytes)
{
    const char *end = bytes.data() + bytes.size();
    return ohash_interval(bytes.data(), &end);
}

} // namespace

TEST(OHashInterval, HashesBytesUnsignedWithTwoBitRotation)
{
    EXPECT_EQ(hashOf(""), 0u);
    EXPECT_EQ(hashOf("a"), 0x61u);
    EXPECT_EQ(hashOf("\x80"), 0x80u);
    EXPECT_EQ(hashOf("\xff\xff"), 0x303u); // 0x3fc ^ 0xff, no sign extension
    EXPECT_EQ(hashOf("abc"), 0x7fbu);
    // 0xC0 rotated left 15 times by 2 bits is 0xC0 rotated right by 2.
    EXPECT_EQ(hashOf(std::string("\xC0", 1) + std::string(15, '\0')), 0x30u);
    EXPECT_EQ(hashOf(std::string("\x01", 1) + std::string(16, '\0')), 1u);

    // A null end is set to the string's end; an end before the start is empty.
    const char *text = "abc";
    const char *end = nullptr;
    EXPECT_EQ(ohash_interval(text, &end), 0x7fbu);
    EXPECT_EQ(end, text + 3);
    end = text;
    EXPECT_EQ(ohash_interval(text + 2, &end), 0u);
    EXPECT_EQ(ohash_interval(text, nullptr), 0x7fbu);
}

TEST(OHash, InitRaisesSmallExponentsTo16SlotsOfZeroes)
{
    for (uint32_t exponent : {0u, 1u, 4u, 5u}) {
        Memory memory;
        ohash table;
        const ohash_setup setup = memory.setup();
        ohash_init(&table, exponent, &setup);
        const uint32_t slots = exponent < 4 ? 16u : 1u << exponent;
        ASSERT_EQ(table.size, slots) << exponent;
        EXPECT_EQ(memory.slots.lastSize(), slots * sizeof(ohash_slot));
        EXPECT_EQ(table.total, 0u);
        EXPECT_EQ(table.deleted, 0u);
        EXPECT_EQ(table.setup.keyOffset, kKeyOffset);
        EXPECT_EQ(table.setup.userData, &memory);
        uint32_t position = 7;
        EXPECT_EQ(ohash_first(&table, &position), nullptr);
        EXPECT_EQ(position, slots);
        ohash_delete(&table);
        EXPECT_EQ(memory.slots.liveBlocks(), 0u);
        EXPECT_EQ(memory.wrongReleaseSizes, 0u);
    }
}

TEST(OHash, FailedInitLeavesAnEmptyTableThatRefusesInserts)
{
    // Exponents past 31 become 31; its byte count is computed in 64 bits
    // (on armhf it does not fit size_t and nothing is called).
    Memory memory;
    memory.slots.failAbove = 1u << 20;
    ohash table;
    const ohash_setup setup = memory.setup();
    ohash_init(&table, 40, &setup);
    EXPECT_EQ(table.slots, nullptr);
    EXPECT_EQ(table.size, 0u);
    if (sizeof(size_t) == 8) {
        EXPECT_EQ(memory.slots.lastSize(), (size_t{1} << 31) * sizeof(ohash_slot));
    } else {
        EXPECT_TRUE(memory.slots.sizes().empty());
    }

    void *entry = ohash_create_entry(&setup, "k", nullptr);
    const uint32_t index = ohash_qlookup(&table, "k");
    EXPECT_EQ(ohash_find(&table, index), nullptr);
    EXPECT_EQ(ohash_insert(&table, index, entry), nullptr);
    EXPECT_EQ(ohash_remove(&table, index), nullptr);
    EXPECT_EQ(ohash_entries(&table), 0u);
    uint32_t position = 0;
    EXPECT_EQ(ohash_first(&table, &position), nullptr);
    ohash_delete(&table);
    ohash_delete(&table);
    EXPECT_EQ(memory.slots.releases(), 0u);
    memory.releaseEntry(entry);
}

TEST(OHash, ThirteenthInsertDoublesSixteenSlots)
{
    Memory memory;
    ohash table;
    const ohash_setup setup = memory.setup();
    ohash_init(&table, 2, &setup);
    const std::vector<std::string> keys = {"a", "b", "c", "d", "e", "f", "g",
                                           "h", "i", "j", "k", "l", "m"};
    for (size_t i = 0; i < 12; ++i) {
        ASSERT_NE(add(&table, keys[i].c_str()), nullptr);
    }
    EXPECT_EQ(table.size, 16u);
    EXPECT_EQ(table.total, 12u);
    ASSERT_NE(add(&table, "m"), nullptr);
    EXPECT_EQ(table.size, 32u);
    EXPECT_EQ(table.total, 13u);
    EXPECT_EQ(table.deleted, 0u);
    EXPECT_EQ(memory.slots.liveBlocks(), 1u);
    EXPECT_EQ(memory.slots.lastSize(), 32 * sizeof(ohash_slot));
    for (const std::string &key : keys) {
        void *entry = findKey(&table, key.c_str());
        ASSERT_NE(entry, nullptr) << key;
        EXPECT_EQ(keyOf(entry), key);
    }
    releaseAll(&table, memory);
}

TEST(OHash, RemovedKeyLooksUpItsTombstoneAndRefillsIt)
{
    Memory memory;
    ohash table;
    const ohash_setup setup = memory.setup();
    ohash_init(&table, 4, &setup);
    void *entry = add(&table, "key");
    const uint32_t index = ohash_qlookup(&table, "key");
    EXPECT_EQ(ohash_remove(&table, index), entry);
    EXPECT_EQ(table.slots[index].entry, ohash_deleted(&table));
    EXPECT_EQ(table.total, 1u);
    EXPECT_EQ(table.deleted, 1u);
    EXPECT_EQ(ohash_entries(&table), 0u);

    // A removed or empty slot removes nothing and counts nothing.
    EXPECT_EQ(ohash_remove(&table, index), nullptr);
    EXPECT_EQ(ohash_remove(&table, (index + 1) % 16), nullptr);
    EXPECT_EQ(table.deleted, 1u);

    EXPECT_EQ(ohash_qlookup(&table, "key"), index);
    EXPECT_EQ(ohash_insert(&table, index, entry), entry);
    EXPECT_EQ(table.total, 1u);
    EXPECT_EQ(table.deleted, 0u);
    EXPECT_EQ(findKey(&table, "key"), entry);
    releaseAll(&table, memory);
}

TEST(OHash, LookupMovesFoundEntryToFirstTombstone)
{
    // "a" (0x61) and "q" (0x71) both start at slot 1 of 16; "q" steps on
    // by (0x71 mod 14) | 1 = 1 to slot 2.
    Memory memory;
    ohash table;
    const ohash_setup setup = memory.setup();
    ohash_init(&table, 4, &setup);
    void *a = add(&table, "a");
    void *q = add(&table, "q");
    ASSERT_EQ(table.slots[1].entry, a);
    ASSERT_EQ(table.slots[2].entry, q);
    ASSERT_EQ(ohash_remove(&table, 1), a);

    EXPECT_EQ(ohash_qlookup(&table, "q"), 1u);
    EXPECT_EQ(ohash_find(&table, 1), q);
    EXPECT_EQ(table.slots[1].hash, 0x71u);
    EXPECT_EQ(table.slots[2].entry, ohash_deleted(&table));
    EXPECT_EQ(table.slots[2].hash, 0x71u);
    EXPECT_EQ(table.total, 2u);
    EXPECT_EQ(table.deleted, 1u);

    // An absent key whose probe passes a tombstone gets it: 0x01 starts at
    // slot 1 with step 1, passes the tombstone in slot 2, ends at slot 3.
    EXPECT_EQ(ohash_qlookup(&table, "\x01"), 2u);
    EXPECT_EQ(table.slots[2].hash, 1u);
    EXPECT_EQ(table.slots[2].entry, ohash_deleted(&table));
    memory.releaseEntry(a);
    releaseAll(&table, memory);
}

TEST(OHash, TextLookupNeedsTheWholeKey)
{
    Memory memory;
    ohash table;
    const ohash_setup setup = memory.setup();
    ohash_init(&table, 4, &setup);
    void *abc = add(&table, "abc");
    const char *text = "abcd";

    // Equal hashes forced: only the comparison can tell the keys apart.
    EXPECT_EQ(ohash_find(&table, ohash_lookup_interval(&table, text, text + 2, 0x7fb)), nullptr);
    EXPECT_EQ(ohash_find(&table, ohash_lookup_interval(&table, text, text + 3, 0x7fb)), abc);
    const char *end = text + 3;
    EXPECT_EQ(ohash_find(&table, ohash_qlookupi(&table, text, &end)), abc);
    EXPECT_EQ(ohash_find(&table, ohash_lookup_interval(&table, text, text + 4, 0x7fb)), nullptr);

    // A key shorter than the interval is not read past its NUL (the entry
    // block ends there), nor does a NUL inside the interval match it.
    void *ab = add(&table, "ab");
    const uint32_t abHash = hashOf("ab");
    EXPECT_EQ(ohash_find(&table, ohash_lookup_interval(&table, text, text + 3, abHash)), nullptr);
    const char withNul[] = {'a', 'b', '\0', 'x'};
    EXPECT_EQ(ohash_find(&table, ohash_lookup_interval(&table, withNul, withNul + 4, abHash)),
              nullptr);
    EXPECT_EQ(findKey(&table, "ab"), ab);

    // Bytes of 0x80 and above compare as they are.
    void *high = add(&table, "\xe4\xf6");
    EXPECT_EQ(findKey(&table, "\xe4\xf6"), high);
    EXPECT_EQ(findKey(&table, "\xe4"), nullptr);
    releaseAll(&table, memory);
}

TEST(OHash, MemoryLookupComparesExactlyLengthBytes)
{
    Memory memory;
    ohash table;
    const ohash_setup setup = memory.setup(0);
    ohash_init(&table, 4, &setup);
    unsigned char entry[8] = {1, 2, 0, 4, 9, 9, 9, 9};
    const unsigned char key[4] = {1, 2, 0, 4};
    uint32_t index = ohash_lookup_memory(&table, key, 4, 77);
    ASSERT_EQ(ohash_insert(&table, index, entry), entry);
    EXPECT_EQ(ohash_find(&table, ohash_lookup_memory(&table, key, 4, 77)), entry);
    EXPECT_EQ(ohash_find(&table, ohash_lookup_memory(&table, key, 3, 77)), entry);
    const unsigned char other[4] = {1, 2, 0, 5};
    EXPECT_EQ(ohash_find(&table, ohash_lookup_memory(&table, other, 4, 77)), nullptr);
    EXPECT_EQ(ohash_find(&table, ohash_lookup_memory(&table, key, 4, 78)), nullptr);
    ohash_delete(&table);
}

TEST(OHash, IterationVisitsLiveSlotsInOrderAndStopsAtSize)
{
    Memory memory;
    ohash table;
    const ohash_setup setup = memory.setup();
    ohash_init(&table, 4, &setup);
    // Single-byte keys land in the slot of their value mod 16.
    void *c = add(&table, "\x0c");
    void *three = add(&table, "\x03");
    void *nine = add(&table, "\x09");
    void *gone = add(&table, "\x05");
    ASSERT_EQ(ohash_remove(&table, 5), gone);

    uint32_t position = 99;
    EXPECT_EQ(ohash_first(&table, &position), three);
    EXPECT_EQ(position, 4u);
    EXPECT_EQ(ohash_next(&table, &position), nine);
    EXPECT_EQ(position, 10u);
    EXPECT_EQ(ohash_next(&table, &position), c);
    EXPECT_EQ(position, 13u);
    EXPECT_EQ(ohash_next(&table, &position), nullptr);
    EXPECT_EQ(position, 16u);
    position = 40;
    EXPECT_EQ(ohash_next(&table, &position), nullptr);
    EXPECT_EQ(position, 40u);
    memory.releaseEntry(gone);
    releaseAll(&table, memory);
}

TEST(OHash, RemovalsRebuildThenHalveAndStaleIndicesAreRefused)
{
    Memory memory;
    ohash table;
    const ohash_setup setup = memory.setup();
    ohash_init(&table, 4, &setup);
    std::vector<std::string> keys;
    for (int i = 0; i < 13; ++i) {
        keys.push_back("key" + std::to_string(i));
        add(&table, keys.back().c_str());
    }
    ASSERT_EQ(table.size, 32u);

    // Size, total and deleted after each removal: rebuilds at 4 tombstones
    // (the 12th halves, live 1 against deleted 4).
    const uint32_t expected[13][3] = {{32, 13, 1}, {32, 13, 2}, {32, 13, 3}, {32, 9, 0},
                                      {32, 9, 1},  {32, 9, 2},  {32, 9, 3},  {32, 5, 0},
                                      {32, 5, 1},  {32, 5, 2},  {32, 5, 3},  {16, 1, 0},
                                      {16, 1, 1}};
    for (int i = 0; i < 13; ++i) {
        const uint32_t index = ohash_qlookup(&table, keys[i].c_str());
        void *entry = ohash_remove(&table, index);
        ASSERT_NE(entry, nullptr) << keys[i];
        memory.releaseEntry(entry);
        EXPECT_EQ(table.size, expected[i][0]) << i;
        EXPECT_EQ(table.total, expected[i][1]) << i;
        EXPECT_EQ(table.deleted, expected[i][2]) << i;
    }
    // Indices of the 32-slot table are past the end of the 16-slot one.
    void *entry = ohash_create_entry(&setup, "late", nullptr);
    for (uint32_t stale : {16u, 31u}) {
        EXPECT_EQ(ohash_find(&table, stale), nullptr);
        EXPECT_EQ(ohash_remove(&table, stale), nullptr);
        EXPECT_EQ(ohash_insert(&table, stale, entry), nullptr);
    }
    EXPECT_EQ(ohash_insert(&table, 0, nullptr), nullptr);
    EXPECT_EQ(ohash_insert(&table, 0, &table), nullptr);
    EXPECT_EQ(table.total, 1u);
    memory.releaseEntry(entry);
    releaseAll(&table, memory);
}

TEST(OHash, TableWhoseGrowthFailsFillsUpWithoutLoopingAndRecovers)
{
    Memory memory;
    ohash table;
    const ohash_setup setup = memory.setup();
    ohash_init(&table, 4, &setup);
    memory.slots.failAfter = 0;
    std::vector<void *> entries;
    for (int i = 0; i < 16; ++i) {
        const std::string key = "k" + std::to_string(i);
        entries.push_back(add(&table, key.c_str()));
        ASSERT_NE(entries.back(), nullptr) << i;
        EXPECT_EQ(table.size, 16u);
    }
    EXPECT_EQ(table.total, 16u);
    EXPECT_EQ(memory.slots.sizes().size(), 1u + 4u); // one try per insert from the 13th on

    // Full: an absent key gets size, which insert refuses.
    void *extra = ohash_create_entry(&setup, "absent", nullptr);
    const uint32_t index = ohash_qlookup(&table, "absent");
    EXPECT_EQ(index, 16u);
    EXPECT_EQ(ohash_insert(&table, index, extra), nullptr);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(findKey(&table, ("k" + std::to_string(i)).c_str()), entries[i]);
    }

    // With memory back, the fifth removal (4 * 5 > 16) rebuilds and
    // inserts grow the table again.
    memory.slots.failAfter = -1;
    for (int i = 0; i < 5; ++i) {
        const std::string key = "k" + std::to_string(i);
        memory.releaseEntry(ohash_remove(&table, ohash_qlookup(&table, key.c_str())));
    }
    EXPECT_EQ(table.size, 16u);
    EXPECT_EQ(table.total, 11u);
    EXPECT_EQ(table.deleted, 0u);
    ASSERT_EQ(ohash_insert(&table, ohash_qlookup(&table, "absent"), extra), extra);
    ASSERT_NE(add(&table, "k0"), nullptr);
    EXPECT_EQ(table.size, 32u);
    EXPECT_EQ(table.total, 13u);
    releaseAll(&table, memory);
}

TEST(OHash, CreateEntryPlacesTheKeyAtItsOffset)
{
    Memory memory;
    ohash_setup setup = memory.setup(8);
    const char *text = "abcdef";
    const char *end = text + 3;
    auto *entry = static_cast<char *>(ohash_create_entry(&setup, text, &end));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(memory.entries.lastSize(), 12u);
    EXPECT_EQ(std::memcmp(entry + 8, "abc", 4), 0);
    memory.releaseEntry(entry);

    end = nullptr;
    entry = static_cast<char *>(ohash_create_entry(&setup, text, &end));
    EXPECT_EQ(end, text + 6);
    EXPECT_EQ(memory.entries.lastSize(), 15u);
    memory.releaseEntry(entry);

    memory.entries.failAfter = 0;
    EXPECT_EQ(ohash_create_entry(&setup, text, nullptr), nullptr);
    memory.entries.failAfter = -1;
    setup.keyOffset = -4;
    const size_t calls = memory.entries.sizes().size();
    EXPECT_EQ(ohash_create_entry(&setup, text, nullptr), nullptr);
    EXPECT_EQ(memory.entries.sizes().size(), calls);
    EXPECT_EQ(memory.entries.liveBlocks(), 0u);
}

TEST(OHash, RandomTextKeysAgreeWithUnorderedMap)
{
    const uint32_t seed = std::random_device{}();
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));

    // Short keys over a small alphabet with high bytes: many prefixes of
    // each other and many equal hashes.
    std::vector<std::string> pool;
    const char alphabet[] = {'a', 'b', 'c', '\x7f', '\x80', '\xff'};
    for (int i = 0; i < 400; ++i) {
        std::string key(1 + random() % 6, ' ');
        for (char &c : key) {
            c = alphabet[random() % sizeof alphabet];
        }
        pool.push_back(key);
    }

    Memory memory;
    ohash table;
    const ohash_setup setup = memory.setup();
    ohash_init(&table, 0, &setup);
    ohashtest::CounterShadow shadow;
    std::unordered_map<std::string, void *> model;
    for (int op = 0; op < 100000; ++op) {
        const std::string &key = pool[random() % pool.size()];
        // Half of the lookups go through an interval inside a longer buffer.
        const std::string buffer = key + "zz";
        uint32_t index;
        if (random() % 2 == 0) {
            index = ohash_qlookup(&table, key.c_str());
        } else {
            const char *end = buffer.data() + key.size();
            index = ohash_qlookupi(&table, buffer.data(), &end);
        }
        ASSERT_LT(index, table.size);
        void *found = ohash_find(&table, index);
        auto it = model.find(key);
        ASSERT_EQ(found, it == model.end() ? nullptr : it->second) << "op " << op;
        ASSERT_EQ(table.slots[index].hash, hashOf(key));

        if (found == nullptr && random() % 3 != 0) {
            void *entry = ohash_create_entry(&setup, key.c_str(), nullptr);
            const bool intoTombstone = table.slots[index].entry == ohash_deleted(&table);
            ASSERT_EQ(ohash_insert(&table, index, entry), entry);
            model[key] = entry;
            shadow.inserted(intoTombstone);
        } else if (found != nullptr && random() % 2 == 0) {
            ASSERT_EQ(ohash_remove(&table, index), found);
            memory.releaseEntry(found);
            model.erase(key);
            shadow.removed();
        }
        ASSERT_TRUE(shadow.agrees(table, model.size())) << "op " << op;
    }
    size_t visited = 0;
    uint32_t position = 0;
    for (void *e = ohash_first(&table, &position); e != nullptr; e = ohash_next(&table, &position)) {
        ASSERT_EQ(model.at(keyOf(e)), e);
        visited++;
    }
    EXPECT_EQ(visited, model.size());
    releaseAll(&table, memory);
}
