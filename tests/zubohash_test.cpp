#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "ohash_shadow.h"
#include "test_support.h"
#include "zub/ohash.h"

using zubtest::DebugCapture;

namespace {

// A caller entry: the key bytes first, then the caller's data.
struct Entry {
    unsigned char key[8];
    int value;
};

Entry makeEntry(const char (&key)[7], int value)
{
    Entry e{};
    std::memcpy(e.key, key, 6);
    e.key[6] = 0xEE; // bytes past a 6-byte key never take part
    e.key[7] = static_cast<unsigned char>(value);
    e.value = value;
    return e;
}

struct Counters {
    uint32_t size, total, deleted;
    bool operator==(const Counters &) const = default;
};

Counters countersOf(const ohash &table)
{
    return {table.size, table.total, table.deleted};
}

} // namespace

TEST(ZubOHash, InitRefusesExponentsOutsideOneTo31)
{
    for (int32_t exponent : {0, -1, INT32_MIN, 32, 33, INT32_MAX}) {
        ohash table;
        std::memset(&table, 0xA5, sizeof table);
        EXPECT_EQ(zubOHashInit(&table, exponent), -22) << exponent;
        const unsigned char *bytes = reinterpret_cast<const unsigned char *>(&table);
        for (size_t i = 0; i < sizeof table; ++i) {
            ASSERT_EQ(bytes[i], 0xA5) << exponent;
        }
    }
    EXPECT_EQ(zubOHashInit(nullptr, 4), -22);

    ohash table;
    ASSERT_EQ(zubOHashInit(&table, 1), 0);
    EXPECT_EQ(table.size, 16u);
    EXPECT_EQ(table.setup.keyOffset, 0);
    EXPECT_EQ(table.setup.userData, nullptr);
    for (uint32_t i = 0; i < table.size; ++i) {
        ASSERT_EQ(table.slots[i].entry, nullptr);
        ASSERT_EQ(table.slots[i].hash, 0u);
    }
    ohash_delete(&table);
    ASSERT_EQ(zubOHashInit(&table, 6), 0);
    EXPECT_EQ(table.size, 64u);
    ohash_delete(&table);
}

TEST(ZubOHash, InitReportsASlotArrayTooLargeForMemory)
{
    if (sizeof(size_t) != 4) {
        GTEST_SKIP() << "only a 32-bit size_t cannot express 2^29 slots of 8 bytes";
    }
    for (int32_t exponent : {29, 31}) {
        ohash table;
        EXPECT_EQ(zubOHashInit(&table, exponent), -12) << exponent;
        EXPECT_EQ(table.slots, nullptr);
        const char key[] = "abcdef";
        EXPECT_EQ(zubOHashFind(&table, key, 6), nullptr);
        Entry e = makeEntry("abcdef", 1);
        EXPECT_EQ(zubOHashInsert(&table, key, 6, &e), -12);
        ohash_delete(&table);
    }
}

TEST(ZubOHash, DuplicateKeyIsRefusedWithItsMessage)
{
    ohash table;
    ASSERT_EQ(zubOHashInit(&table, 4), 0);
    Entry first = makeEntry("\x01\x02\x03\x04\x05\x06", 1);
    Entry second = makeEntry("\x01\x02\x03\x04\x05\x06", 2);
    ASSERT_EQ(zubOHashInsert(&table, first.key, 6, &first), 0);
    const Counters before = countersOf(table);
    {
        DebugCapture capture(false);
        EXPECT_EQ(zubOHashInsert(&table, second.key, 6, &second), -16);
        EXPECT_TRUE(capture.messages().empty());
        capture.enable(1, 3000);
        EXPECT_EQ(zubOHashInsert(&table, second.key, 6, &second), -16);
        ASSERT_EQ(capture.messages().size(), 1u);
        EXPECT_EQ(capture.messages()[0], "zubOHashInsert: collision in open hash!\n");
        EXPECT_EQ(capture.site(0), (std::vector<uint32_t>{0x00010BB8u, 0, 0}));
    }
    EXPECT_EQ(countersOf(table), before);
    EXPECT_EQ(zubOHashFind(&table, second.key, 6), &first);

    // Refused arguments change nothing either.
    EXPECT_EQ(zubOHashInsert(&table, second.key, 6, nullptr), -22);
    EXPECT_EQ(zubOHashInsert(&table, second.key, 6, &table), -22);
    EXPECT_EQ(zubOHashInsert(&table, nullptr, 6, &second), -22);
    EXPECT_EQ(zubOHashFind(&table, nullptr, 6), nullptr);
    EXPECT_EQ(zubOHashRemove(&table, nullptr, 6), nullptr);
    EXPECT_EQ(countersOf(table), before);
    ohash_delete(&table);
}

TEST(ZubOHash, RemoveReturnsTheEntryOnceAndAbsentKeysChangeNothing)
{
    ohash table;
    ASSERT_EQ(zubOHashInit(&table, 4), 0);
    Entry a = makeEntry("aaaaaa", 1);
    Entry b = makeEntry("aaaaab", 2);
    ASSERT_EQ(zubOHashInsert(&table, a.key, 6, &a), 0);
    ASSERT_EQ(zubOHashInsert(&table, b.key, 6, &b), 0);

    const Counters before = countersOf(table);
    EXPECT_EQ(zubOHashRemove(&table, "zzzzzz", 6), nullptr);
    EXPECT_EQ(countersOf(table), before);

    EXPECT_EQ(zubOHashRemove(&table, "aaaaab", 6), &b);
    EXPECT_EQ(zubOHashRemove(&table, "aaaaab", 6), nullptr);
    EXPECT_EQ(table.deleted, 1u);
    EXPECT_EQ(ohash_entries(&table), 1u);
    EXPECT_EQ(zubOHashFind(&table, "aaaaaa", 6), &a);
    EXPECT_EQ(zubOHashFind(&table, "aaaaab", 6), nullptr);
    ohash_delete(&table);
}

TEST(ZubOHash, EmptyKeyMatchesAnyEntryStoredUnderHashZero)
{
    ohash table;
    ASSERT_EQ(zubOHashInit(&table, 4), 0);
    Entry zeros = makeEntry("\0\0\0\0\0\0", 1); // six zero bytes hash to 0
    ASSERT_EQ(zubOHashInsert(&table, zeros.key, 6, &zeros), 0);
    EXPECT_EQ(zubOHashFind(&table, "xyz", 0), &zeros);
    EXPECT_EQ(zubOHashFind(&table, nullptr, 0), &zeros);
    Entry other = makeEntry("qqqqqq", 2);
    DebugCapture quiet(false);
    EXPECT_EQ(zubOHashInsert(&table, nullptr, 0, &other), -16);
    ohash_delete(&table);
}

TEST(ZubOHash, IterationVisitsEveryEntryOnceInSlotOrder)
{
    ohash table;
    ASSERT_EQ(zubOHashInit(&table, 4), 0);
    std::vector<Entry> entries(40);
    for (int i = 0; i < 40; ++i) {
        std::memset(entries[i].key, 0, 6);
        entries[i].key[0] = static_cast<unsigned char>(i);
        entries[i].key[5] = static_cast<unsigned char>(0xF0 + i % 16);
        ASSERT_EQ(zubOHashInsert(&table, entries[i].key, 6, &entries[i]), 0);
    }
    for (int i = 0; i < 40; i += 3) {
        ASSERT_EQ(zubOHashRemove(&table, entries[i].key, 6), &entries[i]);
    }
    std::vector<int> seen(40, 0);
    uint32_t position = 0;
    uint32_t previous = 0;
    for (void *e = zubOHashFirstHV(&table, &position); e != nullptr;
         e = zubOHashNextHV(&table, &position)) {
        ASSERT_EQ(table.slots[position - 1].entry, e);
        ASSERT_GT(position, previous);
        previous = position;
        seen[static_cast<Entry *>(e) - entries.data()]++;
    }
    EXPECT_EQ(position, table.size);
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(seen[i], i % 3 == 0 ? 0 : 1) << i;
    }
    ohash_delete(&table);
}

TEST(ZubOHash, KeysOfEveryLengthCompareExactlyTheirBytes)
{
    DebugCapture quiet(false);
    for (uint32_t length = 1; length <= 12; ++length) {
        unsigned char first[16], second[16], sameKey[16], keyBuffer[17];
        for (int i = 0; i < 16; ++i) {
            first[i] = static_cast<unsigned char>(0x30 + i);
        }
        std::memcpy(second, first, 16);
        second[length - 1] ^= 0x80;
        std::memcpy(sameKey, first, 16);
        sameKey[length] ^= 0x01; // differs only past the key
        ohash table;
        ASSERT_EQ(zubOHashInit(&table, 4), 0);
        ASSERT_EQ(zubOHashInsert(&table, first, length, first), 0) << length;
        ASSERT_EQ(zubOHashInsert(&table, second, length, second), 0) << length;
        EXPECT_EQ(zubOHashInsert(&table, sameKey, length, sameKey), -16) << length;
        // Keys looked up from an odd address with different bytes after them.
        std::memset(keyBuffer, 0xCC, sizeof keyBuffer);
        std::memcpy(keyBuffer + 1, first, length);
        EXPECT_EQ(zubOHashFind(&table, keyBuffer + 1, length), first) << length;
        std::memcpy(keyBuffer + 1, second, length);
        EXPECT_EQ(zubOHashRemove(&table, keyBuffer + 1, length), second) << length;
        EXPECT_EQ(zubOHashFind(&table, second, length), nullptr) << length;
        ohash_delete(&table);
    }
}

class ZubOHashRandom : public ::testing::TestWithParam<uint32_t> {};

TEST_P(ZubOHashRandom, MemoryKeysAgreeWithUnorderedMap)
{
    const uint32_t length = GetParam();
    const uint32_t seed = std::random_device{}();
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed) + ", key length " + std::to_string(length));

    // Keys that differ in few bytes, so that equal hashes are common; the
    // bytes past the key length differ between equal keys.
    std::vector<Entry> pool(400);
    for (Entry &e : pool) {
        std::memset(e.key, 0, sizeof e.key);
        e.key[random() % length] = static_cast<unsigned char>(random());
        e.key[random() % length] = static_cast<unsigned char>(random() % 4);
        for (uint32_t i = length; i < sizeof e.key; ++i) {
            e.key[i] = static_cast<unsigned char>(random());
        }
    }

    DebugCapture quiet(false); // duplicates are frequent here
    ohash table;
    ASSERT_EQ(zubOHashInit(&table, 1), 0);
    ohashtest::CounterShadow shadow;
    std::unordered_map<std::string, Entry *> model;
    for (int op = 0; op < 100000; ++op) {
        Entry &candidate = pool[random() % pool.size()];
        const std::string key(reinterpret_cast<const char *>(candidate.key), length);
        auto it = model.find(key);
        Entry *present = it == model.end() ? nullptr : it->second;
        switch (random() % 3) {
        case 0:
            ASSERT_EQ(zubOHashFind(&table, key.data(), length), present) << "op " << op;
            break;
        case 1: {
            // Whether the insert fills a tombstone decides the counters.
            const char *end = key.data() + length;
            const uint32_t index = ohash_lookup_memory(&table, key.data(), length,
                                                       ohash_interval(key.data(), &end));
            const bool intoTombstone = table.slots[index].entry == ohash_deleted(&table);
            const int32_t result = zubOHashInsert(&table, key.data(), length, &candidate);
            if (present != nullptr) {
                ASSERT_EQ(result, -16) << "op " << op;
            } else {
                ASSERT_EQ(result, 0) << "op " << op;
                model[key] = &candidate;
                shadow.inserted(intoTombstone);
            }
            break;
        }
        default:
            ASSERT_EQ(zubOHashRemove(&table, key.data(), length), present) << "op " << op;
            if (present != nullptr) {
                model.erase(key);
                shadow.removed();
            }
            break;
        }
        ASSERT_TRUE(shadow.agrees(table, model.size())) << "op " << op;
    }
    size_t visited = 0;
    uint32_t position = 0;
    for (void *e = zubOHashFirstHV(&table, &position); e != nullptr;
         e = zubOHashNextHV(&table, &position)) {
        const auto *entry = static_cast<Entry *>(e);
        ASSERT_EQ(model.at(std::string(reinterpret_cast<const char *>(entry->key), length)), entry);
        visited++;
    }
    EXPECT_EQ(visited, model.size());
    ohash_delete(&table);
}

// 4 and 8 bytes compare as one load, other lengths byte by byte.
INSTANTIATE_TEST_SUITE_P(KeyLengths, ZubOHashRandom, ::testing::Values(4u, 6u, 8u));
