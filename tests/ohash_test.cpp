#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "test_support.h"
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
void *entryAlloc(size_t bytes, void *)
{
    sizes.push_back(bytes);
    return std::memset(std::malloc(bytes), 0xA5, bytes);
}
ohash_setup setup{4, nullptr, slotsAlloc, [](void *block, size_t, void *) { std::free(block); },
                  entryAlloc};

uint32_t hashOf(const std::string &bytes)
{
    const char *end = bytes.data() + bytes.size();
    return ohash_interval(bytes.data(), &end);
}

} // namespace

TEST(OHash, IntervalHashFailedInitAndTextKeys)
{
    // No sign extension (0x3fc ^ 0xff); 15 rotations by 2 bits wrap 0xC0 round to 0x30.
    EXPECT_EQ((std::vector<uint32_t>{hashOf(""), hashOf("\x80"), hashOf("\xff\xff"), hashOf("abc"),
                                     hashOf(std::string("\xC0", 1) + std::string(15, '\0'))}),
              (std::vector<uint32_t>{0, 0x80, 0x303, 0x7fb, 0x30}));
    const char *text = "abc", *end = nullptr;
    EXPECT_TRUE(ohash_interval(text, &end) == 0x7fbu && end == text + 3);

    // Past 31 the exponent is 31, whose slot array's byte count does not
    // fit a 32-bit size_t. A failed init leaves an empty table.
    ohash table;
    failSlots = true;
    ohash_init(&table, 40, &setup);
    EXPECT_TRUE(table.slots == nullptr && table.size == 0 && table.total == 0);
    EXPECT_EQ(sizes,
              std::vector<size_t>(sizeof(size_t) / 8, (size_t{1} << 31) * sizeof(ohash_slot)));

    failSlots = false;
    ohash_init(&table, 4, &setup);
    // With the hash forced only the comparison tells keys apart, byte by
    // byte: a key shorter than the interval is not read past its NUL (ASan).
    void *abc = ohash_insert(&table, ohash_qlookup(&table, "abc"),
                             ohash_create_entry(&setup, "abc", nullptr));
    auto find = [&table](const char *start, int length) {
        return ohash_find(&table, ohash_lookup_interval(&table, start, start + length, 0x7fb));
    };
    EXPECT_TRUE(find("abcd", 3) == abc && find("abd", 3) == nullptr && find("abc", 2) == nullptr &&
                find("abcd", 4) == nullptr);
    // Entries carry their key, NUL-terminated, after the tag.
    EXPECT_TRUE(std::memcmp(static_cast<char *>(abc) + 4, "abc", 4) == 0 && sizes.back() == 8);
    std::free(abc);
    ohash_delete(&table);
}
