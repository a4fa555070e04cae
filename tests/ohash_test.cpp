#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"
#include "zub/ohash.h"

namespace {

constexpr int32_t kKeyOffset = 4; // entries carry a 4-byte tag before the key

// Slot arrays (zero-filled) and entries from counting allocators; a slot
// array must be released with the byte count it was allocated with.
struct Fixture {
    zubtest::CountingAllocator slots, entries;
    size_t wrongReleaseSizes = 0;
    ohash table;
    ohash_setup setup{kKeyOffset, this, &alloc<&Fixture::slots>, &tableRelease,
                      &alloc<&Fixture::entries>};

    explicit Fixture(uint32_t exponent = 4, long failAfter = -1)
    {
        slots.fill = 0;
        slots.failAfter = failAfter;
        ohash_init(&table, exponent, &setup);
    }
    ~Fixture()
    {
        uint32_t position = 0;
        for (void *e = ohash_first(&table, &position); e; e = ohash_next(&table, &position)) {
            release(e);
        }
        ohash_delete(&table);
        EXPECT_EQ(slots.liveBlocks() + entries.liveBlocks() + wrongReleaseSizes, 0u);
    }
    void release(void *entry) { entries.record()->release(entries.record()->context, entry); }
    uint32_t at(const std::string &key) { return ohash_qlookup(&table, key.c_str()); }
    void *add(const std::string &key) // the key must be absent
    {
        void *entry = ohash_create_entry(&setup, key.c_str(), nullptr);
        EXPECT_EQ(ohash_find(&table, at(key)), nullptr) << key;
        return ohash_insert(&table, at(key), entry);
    }
    std::vector<uint32_t> counters() const { return {table.size, table.total, table.deleted}; }

    template <zubtest::CountingAllocator Fixture::*from>
    static void *alloc(size_t bytes, void *user)
    {
        zubAllocator_t *r = (static_cast<Fixture *>(user)->*from).record();
        return r->alloc(r->context, bytes, 0);
    }
    static void tableRelease(void *block, size_t bytes, void *user)
    {
        auto *self = static_cast<Fixture *>(user);
        self->wrongReleaseSizes += self->slots.blockSize(block) != bytes;
        self->slots.record()->release(self->slots.record()->context, block);
    }
};

uint32_t hashOf(const std::string &bytes)
{
    const char *end = bytes.data() + bytes.size();
    return ohash_interval(bytes.data(), &end);
}

} // namespace

TEST(OHash, IntervalHashInitSizesAndAFailedInit)
{
    // No sign extension (0x3fc ^ 0xff); 15 rotations by 2 bits wrap 0xC0 round to 0x30.
    EXPECT_EQ((std::vector<uint32_t>{hashOf(""), hashOf("\x80"), hashOf("\xff\xff"), hashOf("abc"),
                                     hashOf(std::string("\xC0", 1) + std::string(15, '\0'))}),
              (std::vector<uint32_t>{0, 0x80, 0x303, 0x7fb, 0x30}));
    const char *text = "abc", *end = nullptr;
    EXPECT_TRUE(ohash_interval(text, &end) == 0x7fbu && end == text + 3);
    EXPECT_EQ(ohash_interval(text + 2, &text), 0u); // end before start: empty

    for (uint32_t exponent : {0u, 4u, 5u}) {
        Fixture f(exponent);
        EXPECT_EQ(f.counters(), (std::vector<uint32_t>{exponent < 5 ? 16u : 32u, 0, 0}));
        EXPECT_EQ(f.slots.lastSize(), f.table.size * sizeof(ohash_slot));
    }
    // Exponents past 31 are 31, whose byte count does not fit a 32-bit size_t.
    Fixture f(40, 0);
    EXPECT_EQ(f.slots.sizes(), sizeof(size_t) == 8
                                   ? std::vector<size_t>{(size_t{1} << 31) * sizeof(ohash_slot)}
                                   : std::vector<size_t>{});
    EXPECT_TRUE(f.table.slots == nullptr && f.table.size == 0);
    void *entry = ohash_create_entry(&f.setup, "k", nullptr);
    EXPECT_EQ(ohash_insert(&f.table, f.at("k"), entry), nullptr);
    EXPECT_EQ(ohash_remove(&f.table, f.at("k")), nullptr);
    f.release(entry);
    ohash_delete(&f.table); // a second delete in the destructor is harmless
    EXPECT_EQ(f.counters(), (std::vector<uint32_t>{0, 0, 0}));
    // Entries carry their key at the offset; a negative offset gets no entry.
    f.setup.keyOffset = -1;
    EXPECT_EQ(ohash_create_entry(&f.setup, "x", nullptr), nullptr);
    EXPECT_EQ(f.entries.sizes(), (std::vector<size_t>{kKeyOffset + 2u}));
}

TEST(OHash, GrowsAtThe13thInsertRebuildsAndHalvesOnRemovals)
{
    Fixture f(2);
    for (int i = 0; i < 13; ++i) {
        ASSERT_NE(f.add("key" + std::to_string(i)), nullptr);
        EXPECT_EQ(f.table.size, i < 12 ? 16u : 32u);
    }
    // Rebuilds at 4 tombstones; the third (live 1 against deleted 4) halves.
    const std::vector<std::vector<uint32_t>> expected = {
        {32, 13, 1}, {32, 13, 2}, {32, 13, 3}, {32, 9, 0}, {32, 9, 1}, {32, 9, 2},
        {32, 9, 3},  {32, 5, 0},  {32, 5, 1},  {32, 5, 2}, {32, 5, 3}, {16, 1, 0}};
    for (int i = 0; i < 12; ++i) {
        const std::string key = "key" + std::to_string(i);
        void *entry = ohash_remove(&f.table, f.at(key));
        ASSERT_STREQ(static_cast<char *>(entry) + kKeyOffset, key.c_str());
        f.release(entry);
        EXPECT_EQ(f.counters(), expected[i]) << i;
    }
    EXPECT_NE(ohash_find(&f.table, f.at("key12")), nullptr);
    // Indices of the 32-slot table are stale past the 16-slot one.
    int tag = 0;
    for (uint32_t stale : {16u, 31u}) {
        EXPECT_EQ(ohash_find(&f.table, stale), nullptr);
        EXPECT_EQ(ohash_remove(&f.table, stale), nullptr);
        EXPECT_EQ(ohash_insert(&f.table, stale, &tag), nullptr);
    }
    EXPECT_EQ(ohash_insert(&f.table, 0, nullptr), nullptr);
    EXPECT_EQ(ohash_insert(&f.table, 0, &f.table), nullptr);
    EXPECT_EQ(f.counters(), (std::vector<uint32_t>{16, 1, 0}));
}

TEST(OHash, TombstonesAreReusedFoundEntriesMoveAndTextKeysMatchWhole)
{
    // "a" (0x61), "q" (0x71) and "\xe1" all start at slot 1; 0x71 and 0xe1
    // step by (hash mod 14) | 1 = 1, so they sit in slots 2 and 3.
    Fixture f;
    void *a = f.add("a");
    void *q = f.add("q");
    void *e1 = f.add("\xe1");
    ASSERT_EQ(f.table.slots[3].entry, e1);
    EXPECT_EQ(ohash_remove(&f.table, 1), a);
    EXPECT_EQ(ohash_remove(&f.table, 2), q);
    EXPECT_EQ(ohash_remove(&f.table, 1), nullptr); // deleted and empty slots
    EXPECT_EQ(ohash_remove(&f.table, 9), nullptr);
    // The found entry moves to the first tombstone it passed.
    EXPECT_EQ(f.at("\xe1"), 1u);
    EXPECT_TRUE(ohash_find(&f.table, 1) == e1 && f.table.slots[1].hash == 0xe1u &&
                f.table.slots[3].entry == ohash_deleted(&f.table));
    EXPECT_EQ(f.counters(), (std::vector<uint32_t>{16, 3, 2}));
    // Absent "\x01" (slot 1, step 1) passes tombstones 2 and 3 and gets 2;
    // filling a tombstone leaves total as it is.
    EXPECT_TRUE(f.at("\x01") == 2u && f.table.slots[2].hash == 1u);
    EXPECT_EQ(ohash_insert(&f.table, 2, a), a);
    EXPECT_EQ(f.counters(), (std::vector<uint32_t>{16, 3, 1}));
    ohash_remove(&f.table, 2);
    f.release(a);
    f.release(q);

    // Iteration in slot order; the end leaves position at size.
    void *c = f.add("\x0c");
    uint32_t position = 99, stale = 40;
    std::vector<void *> seen{ohash_first(&f.table, &position)};
    std::vector<uint32_t> positions{position};
    for (int i = 0; i < 2; ++i) {
        seen.push_back(ohash_next(&f.table, &position));
        positions.push_back(position);
    }
    EXPECT_EQ(seen, (std::vector<void *>{e1, c, nullptr}));
    EXPECT_EQ(positions, (std::vector<uint32_t>{2, 13, 16}));
    EXPECT_TRUE(ohash_next(&f.table, &stale) == nullptr && stale == 40);

    // With equal hashes forced only the comparison tells keys apart; a key
    // shorter than the interval must not be read past its NUL (ASan).
    void *abc = f.add("abc");
    void *ab = f.add("ab");
    const char *text = "abcd", withNul[] = {'a', 'b', '\0', 'x'};
    EXPECT_EQ(ohash_find(&f.table, ohash_lookup_interval(&f.table, text, text + 3, 0x7fb)), abc);
    for (const char *interval : {text, withNul}) {
        EXPECT_EQ(
            ohash_find(&f.table, ohash_lookup_interval(&f.table, interval, interval + 2, 0x7fb)),
            nullptr);
        EXPECT_EQ(ohash_find(&f.table,
                             ohash_lookup_interval(&f.table, interval, interval + 3, hashOf("ab"))),
                  nullptr);
    }
    const char *end = text + 2;
    EXPECT_EQ(ohash_find(&f.table, ohash_qlookupi(&f.table, text, &end)), ab);
    EXPECT_EQ(std::memcmp(static_cast<char *>(abc) + kKeyOffset, "abc", 4), 0);
}

// "k" followed by the number. Built by appending: GCC 12 at -O3 takes
// "k" + std::to_string(i) for an overlapping copy (-Wrestrict).
static std::string numbered_key(int i)
{
    std::string key = "k";
    key += std::to_string(i);
    return key;
}

TEST(OHash, TableWhoseGrowthFailsFillsUpWithoutLoopingAndRecovers)
{
    Fixture f(4, 1); // the init's allocation succeeds, every resize fails
    std::vector<void *> entries;
    for (int i = 0; i < 16; ++i) {
        entries.push_back(f.add(numbered_key(i)));
    }
    EXPECT_EQ(f.counters(), (std::vector<uint32_t>{16, 16, 0}));
    EXPECT_EQ(f.slots.sizes().size(), 5u); // one try per insert from the 13th
    void *extra = ohash_create_entry(&f.setup, "absent", nullptr);
    EXPECT_EQ(f.at("absent"), 16u); // full: insert refuses it
    EXPECT_EQ(ohash_insert(&f.table, 16, extra), nullptr);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(ohash_find(&f.table, f.at(numbered_key(i))), entries[i]);
    }
    // No empty slot but one tombstone: an absent key gets the tombstone, with its hash.
    const uint32_t k15 = f.at("k15");
    EXPECT_EQ(ohash_remove(&f.table, k15), entries[15]);
    EXPECT_EQ(f.at("absent"), k15);
    EXPECT_EQ(f.table.slots[k15].hash, hashOf("absent"));
    EXPECT_EQ(ohash_insert(&f.table, f.at("k15"), entries[15]), entries[15]);
    // With memory back the fifth removal (4 * 5 > 16) rebuilds, and the
    // 13th live entry doubles the table.
    f.slots.failAfter = -1;
    for (int i = 0; i < 5; ++i) {
        f.release(ohash_remove(&f.table, f.at(numbered_key(i))));
    }
    EXPECT_EQ(f.counters(), (std::vector<uint32_t>{16, 11, 0}));
    EXPECT_EQ(ohash_insert(&f.table, f.at("absent"), extra), extra);
    f.add("k0");
    EXPECT_EQ(f.counters(), (std::vector<uint32_t>{32, 13, 0}));
}
