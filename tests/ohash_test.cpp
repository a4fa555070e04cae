#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"
#include "zub/ohash.h"

namespace {

constexpr int32_t kKeyOffset = 4; // entries carry a 4-byte tag before the key

// Slot arrays (zero-filled) and entries from one counting allocator; a
// slot array must be released with the byte count it was allocated with.
struct Fixture {
    zubtest::CountingAllocator memory;
    size_t wrongReleaseSizes = 0;
    ohash table;
    ohash_setup setup{kKeyOffset, this, &alloc, &tableRelease, &entryAlloc};

    explicit Fixture(uint32_t exponent = 4, long failAfter = -1)
    {
        memory.fill = 0;
        memory.failAfter = failAfter;
        ohash_init(&table, exponent, &setup);
        memory.failAfter = -1;
    }
    ~Fixture()
    {
        uint32_t position = 0;
        for (void *e = ohash_first(&table, &position); e; e = ohash_next(&table, &position)) {
            release(e);
        }
        ohash_delete(&table);
        EXPECT_EQ(memory.liveBlocks() + wrongReleaseSizes, 0u);
    }
    void release(void *entry) { memory.record()->release(memory.record()->context, entry); }
    uint32_t at(const std::string &key) { return ohash_qlookup(&table, key.c_str()); }
    void *add(const std::string &key) // the key must be absent
    {
        void *entry = ohash_create_entry(&setup, key.c_str(), nullptr);
        EXPECT_EQ(ohash_find(&table, at(key)), nullptr) << key;
        return ohash_insert(&table, at(key), entry);
    }
    std::vector<uint32_t> counters() const { return {table.size, table.total, table.deleted}; }

    static void *alloc(size_t bytes, void *user)
    {
        zubAllocator_t *r = static_cast<Fixture *>(user)->memory.record();
        return r->alloc(r->context, bytes, 0);
    }
    static void *entryAlloc(size_t bytes, void *user) // not zero-filled
    {
        void *block = alloc(bytes, user);
        return block == nullptr ? nullptr : std::memset(block, 0xA5, bytes);
    }
    static void tableRelease(void *block, size_t bytes, void *user)
    {
        auto *self = static_cast<Fixture *>(user);
        self->wrongReleaseSizes += self->memory.blockSize(block) != bytes;
        self->release(block);
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
        EXPECT_EQ(f.memory.lastSize(), f.table.size * sizeof(ohash_slot));
    }
    // Exponents past 31 are 31, whose byte count does not fit a 32-bit size_t.
    Fixture f(40, 0);
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
    const std::vector<size_t> sizes{(size_t{1} << 31) * sizeof(ohash_slot),
                                    kKeyOffset + 2}; // the slots' only on 64 bits
    EXPECT_EQ(f.memory.sizes(),
              std::vector<size_t>(sizes.end() - (sizeof(size_t) == 8 ? 2 : 1), sizes.end()));
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
    EXPECT_TRUE(ohash_remove(&f.table, 1) == nullptr && ohash_remove(&f.table, 9) == nullptr);
    // The found entry moves to the first tombstone it passed.
    EXPECT_EQ(f.at("\xe1"), 1u);
    EXPECT_TRUE(ohash_find(&f.table, 1) == e1 && f.table.slots[1].hash == 0xe1u &&
                f.table.slots[3].entry == ohash_deleted(&f.table));
    EXPECT_EQ(f.counters(), (std::vector<uint32_t>{16, 3, 2}));
    f.release(a);
    f.release(q);

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
