#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "zub/ohash.h"

namespace {

// Every allocation's byte count; zero-filled slot arrays that can be made to
// fail, and entries (a 4-byte tag before the key) that are not zero-filled.
std::vector<size_t> sizes;
bool failSlots = false;

void *slotsAlloc(size_t bytes, void *)
{
    sizes.push_back(bytes);
    return failSlots ? nullptr : std::calloc(1, bytes);
}
void slotsRelease(void *block, size_t, void *)
{
    std::free(block);
}
void *entryAlloc(size_t bytes, void *)
{
    sizes.push_back(bytes);
    return std::memset(std::malloc(bytes), 0xA5, bytes);
}
ohash_setup setup{4, nullptr, slotsAlloc, slotsRelease, entryAlloc};

uint32_t hashOf(const std::string &bytes)
{
    const char *end = bytes.data() + bytes.size();
    return ohash_interval(bytes.data(), &end);
}
void *add(ohash &table, const char *key)
{
    return ohash_insert(&table, ohash_qlookup(&table, key),
                        ohash_create_entry(&setup, key, nullptr));
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

    // At least 16 slots; past 31 the exponent is 31, whose byte count does
    // not fit a 32-bit size_t. A failed init leaves an empty table.
    ohash table;
    for (uint32_t exponent : {0u, 5u, 40u}) {
        sizes.clear();
        failSlots = exponent == 40;
        ohash_init(&table, exponent, &setup);
        const uint32_t slots = exponent == 0 ? 16 : exponent == 5 ? 32 : 0;
        EXPECT_TRUE(table.size == slots && table.total == 0 && table.deleted == 0);
        EXPECT_EQ(sizes,
                  std::vector<size_t>(sizeof(size_t) == 4 && failSlots ? 0 : 1,
                                      (failSlots ? size_t{1} << 31 : slots) * sizeof(ohash_slot)));
        ohash_delete(&table);
    }
    void *entry = ohash_create_entry(&setup, "k", nullptr);
    EXPECT_TRUE(ohash_insert(&table, ohash_qlookup(&table, "k"), entry) == nullptr &&
                ohash_remove(&table, 0) == nullptr);
    std::free(entry);
    // Entries carry their key at the offset; a negative offset gets no entry.
    ohash_setup negative = setup;
    negative.keyOffset = -1;
    EXPECT_EQ(ohash_create_entry(&negative, "x", nullptr), nullptr);
    EXPECT_EQ(sizes.back(), 6u);
}

TEST(OHash, ProbeStepAndTextKeysMatchWhole)
{
    // "a" (0x61), "q" (0x71) and "\xe1" all start at slot 1; 0x71 and 0xe1
    // step by (hash mod 14) | 1 = 1, so they sit in slots 2 and 3.
    ohash table;
    failSlots = false;
    ohash_init(&table, 4, &setup);
    void *a = add(table, "a");
    void *q = add(table, "q");
    void *e1 = add(table, "\xe1");
    EXPECT_TRUE(table.slots[1].entry == a && table.slots[2].entry == q &&
                table.slots[3].entry == e1);

    // With equal hashes forced only the comparison tells keys apart; a key
    // shorter than the interval must not be read past its NUL (ASan).
    void *abc = add(table, "abc");
    void *ab = add(table, "ab");
    const char *text = "abcd", withNul[] = {'a', 'b', '\0', 'x'};
    auto find = [&table](const char *start, int length, uint32_t hash) {
        return ohash_find(&table, ohash_lookup_interval(&table, start, start + length, hash));
    };
    EXPECT_EQ(find(text, 3, 0x7fb), abc);
    for (const char *interval : {text, withNul}) {
        EXPECT_TRUE(find(interval, 2, 0x7fb) == nullptr &&
                    find(interval, 3, hashOf("ab")) == nullptr);
    }
    const char *end = text + 2;
    EXPECT_EQ(ohash_find(&table, ohash_qlookupi(&table, text, &end)), ab);
    EXPECT_EQ(std::memcmp(static_cast<char *>(abc) + 4, "abc", 4), 0);
    for (void *entry : {a, q, e1, abc, ab}) {
        std::free(entry);
    }
    ohash_delete(&table);
}
