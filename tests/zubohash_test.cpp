#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"
#include "zub/ohash.h"

using zubtest::DebugCapture;

namespace {

struct Entry {
    unsigned char key[8]; // the key bytes first; past the key length, anything
    int value;
};

std::vector<uint32_t> counters(const ohash &t)
{
    return {t.size, t.total, t.deleted};
}

} // namespace

TEST(ZubOHash, InitTakesExponentsOneTo31AndLeavesTheTableAloneOtherwise)
{
    for (int32_t exponent : {0, -1, INT32_MIN, 32, INT32_MAX}) {
        ohash table, untouched;
        std::memset(&table, 0xA5, sizeof table);
        std::memset(&untouched, 0xA5, sizeof untouched);
        EXPECT_EQ(zubOHashInit(&table, exponent), -22) << exponent;
        EXPECT_EQ(std::memcmp(&table, &untouched, sizeof table), 0) << exponent;
    }
    ohash table;
    ASSERT_EQ(zubOHashInit(&table, 1), 0);
    EXPECT_EQ(counters(table), (std::vector<uint32_t>{16, 0, 0}));
    EXPECT_EQ(table.setup.keyOffset, 0);
    ohash_delete(&table);
    if (sizeof(size_t) == 4) { // 2^31 8-byte slots, the most accepted, do not fit size_t
        Entry e{};
        ASSERT_EQ(zubOHashInit(&table, 31), -12);
        EXPECT_EQ(zubOHashInsert(&table, e.key, 8, &e), -12);
        EXPECT_EQ(zubOHashFind(&table, e.key, 8), nullptr);
        ohash_delete(&table);
    }
}

TEST(ZubOHash, DuplicatesAndBadArgumentsAreRefusedWithoutChange)
{
    ohash table;
    ASSERT_EQ(zubOHashInit(&table, 4), 0);
    Entry first{{1, 2, 3, 4, 5, 6, 0, 0}, 1}, second{{1, 2, 3, 4, 5, 6, 9, 9}, 2};
    ASSERT_EQ(zubOHashInsert(&table, first.key, 6, &first), 0);
    {
        DebugCapture capture(false);
        EXPECT_EQ(zubOHashInsert(&table, second.key, 6, &second), -16);
        EXPECT_TRUE(capture.messages().empty());
        capture.enable(1, 3000);
        EXPECT_EQ(zubOHashInsert(&table, second.key, 6, &second), -16);
        EXPECT_EQ(capture.messages(),
                  std::vector<std::string>{"zubOHashInsert: collision in open hash!\n"});
        EXPECT_EQ(capture.site(0), (std::vector<uint32_t>{0x00010BB8u, 0, 0}));
        // A length of 0 hashes to 0 and matches any entry stored under 0.
        Entry zeros{};
        EXPECT_EQ(zubOHashInsert(&table, zeros.key, 8, &zeros), 0);
        EXPECT_EQ(zubOHashInsert(&table, nullptr, 0, &second), -16);
        EXPECT_EQ(zubOHashRemove(&table, "xyz", 0), &zeros);
    }
    EXPECT_EQ(zubOHashInsert(&table, second.key, 6, nullptr), -22);
    EXPECT_EQ(zubOHashInsert(&table, second.key, 6, &table), -22);
    EXPECT_EQ(zubOHashInsert(&table, nullptr, 6, &second), -22);
    EXPECT_EQ(zubOHashFind(&table, nullptr, 6), nullptr);
    EXPECT_EQ(zubOHashRemove(&table, nullptr, 6), nullptr);
    EXPECT_EQ(zubOHashRemove(&table, "absent", 6), nullptr);
    EXPECT_EQ(counters(table), (std::vector<uint32_t>{16, 2, 1}));
    EXPECT_EQ(zubOHashFind(&table, second.key, 6), &first);
    EXPECT_EQ(zubOHashRemove(&table, second.key, 6), &first);
    EXPECT_EQ(zubOHashRemove(&table, second.key, 6), nullptr);
    ohash_delete(&table);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

// Inserts, finds, removals and iteration over keys from a small alphabet
// (many collisions, tombstones and rebuilds) against an unordered map, with
// the slot counters and load bounds checked after every operation (the fuzz
// harness).
TEST(ZubOHash, MatchesAnUnorderedMap)
{
    EXPECT_GT(zubtest::replayHarness("zubohash", LLVMFuzzerTestOneInput, 300, 3000, 0x0A5Bu), 0u);
}
