#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "test_support.h"
#include "zub/sortedidlist.h"

using zubtest::CountingAllocator;

namespace {

// A list of uint32_t values with separate counting allocators for keys and
// values.
struct Fixture {
    CountingAllocator keyAllocator;
    CountingAllocator valueAllocator;
    zubSortedIdList_t list{};

    explicit Fixture(uint16_t maxEntries = 100, uint8_t growStep = 10, uint32_t valueSize = 4)
    {
        zubSortedIdListParams_t params{valueAllocator.record(), keyAllocator.record(), valueSize,
                                       maxEntries, growStep};
        EXPECT_EQ(zubSortedIdListInitialize(&list, &params), 0);
    }
    ~Fixture()
    {
        EXPECT_EQ(zubSortedIdListRelease(&list), 0);
        EXPECT_EQ(keyAllocator.liveBlocks(), 0u);
        EXPECT_EQ(valueAllocator.liveBlocks(), 0u);
    }
    void put(uint16_t key, uint32_t value)
    {
        void *slot = nullptr;
        ASSERT_GE(zubSortedIdListPutUnique(&list, &slot, key), 0);
        std::memcpy(slot, &value, 4);
    }
    std::vector<uint16_t> keys() const { return {list.keys, list.keys + list.count}; }
    uint32_t valueAt(uint32_t index) const
    {
        uint32_t value;
        std::memcpy(&value, static_cast<const uint8_t *>(list.values) + 4 * index, 4);
        return value;
    }
};

// Key proposal as a plain walk over the keys, for comparison.
int32_t referenceCreateKey(const std::vector<uint16_t> &keys, uint16_t *key)
{
    if (keys.empty()) {
        *key = 32768;
        return 0;
    }
    if (keys.back() <= 65532) {
        *key = static_cast<uint16_t>(keys.back() + 2);
        return 0;
    }
    if (keys.front() > 1) {
        *key = static_cast<uint16_t>(keys.front() - 2);
        return 0;
    }
    for (size_t i = 0; i + 1 < keys.size(); i++) {
        const int difference = keys[i + 1] - keys[i];
        if (difference > 1) {
            *key = static_cast<uint16_t>(keys[i] + difference / 2);
            return 0;
        }
    }
    return -28;
}

} // namespace

TEST(SortedIdList, InitializeRefusesZeroSizesAfterSettingTheFields)
{
    zubSortedIdList_t list;
    std::memset(&list, 0xEE, sizeof list);
    zubSortedIdListParams_t params{nullptr, nullptr, 4, 0, 3};
    EXPECT_EQ(zubSortedIdListInitialize(&list, &params), ZUB_EINVAL);
    EXPECT_EQ(list.keys, nullptr);
    EXPECT_EQ(list.values, nullptr);
    EXPECT_EQ(list.alloced + list.count + list.modCount, 0);
    EXPECT_EQ(list.growStep, 3);
    params = {nullptr, nullptr, 0, 10, 3};
    EXPECT_EQ(zubSortedIdListInitialize(&list, &params), ZUB_EINVAL);
    EXPECT_EQ(zubSortedIdListInitialize(&list, nullptr), ZUB_EINVAL);
    EXPECT_EQ(zubSortedIdListInitialize(nullptr, &params), ZUB_EINVAL);
}

TEST(SortedIdList, PutCreatesAnEntryOnlyWhenTheCallerTakesItsSlot)
{
    Fixture f(100, 10);
    EXPECT_EQ(zubSortedIdListPutUnique(&f.list, nullptr, 5), 0); // absent, no pointer
    EXPECT_EQ(f.list.count, 0);
    EXPECT_EQ(f.keyAllocator.allocations(), 0u);

    void *first = nullptr;
    ASSERT_EQ(zubSortedIdListPutUnique(&f.list, &first, 5), 0);
    EXPECT_EQ(f.list.alloced, 11);
    EXPECT_EQ(f.list.count, 1);
    EXPECT_EQ(f.list.modCount, 0xFFFF);
    EXPECT_EQ(first, f.list.values);
    EXPECT_EQ(f.keyAllocator.sizes(), (std::vector<size_t>{22}));
    EXPECT_EQ(f.valueAllocator.sizes(), (std::vector<size_t>{44}));
    EXPECT_EQ(f.valueAt(0), 0xA5A5A5A5u); // left for the caller to fill

    void *again = nullptr;
    EXPECT_EQ(zubSortedIdListPutUnique(&f.list, &again, 5), 1);
    EXPECT_EQ(again, first);
    EXPECT_EQ(f.list.modCount, 0xFFFE);
    EXPECT_EQ(zubSortedIdListPutUnique(&f.list, nullptr, 5), 1); // no pointer: no change
    EXPECT_EQ(f.list.modCount, 0xFFFE);

    void *got = &got;
    EXPECT_EQ(zubSortedIdListGet(&f.list, &got, 5), 1);
    EXPECT_EQ(got, first);
    EXPECT_EQ(zubSortedIdListGet(&f.list, &got, 6), 0);
    EXPECT_EQ(got, nullptr);
    EXPECT_EQ(zubSortedIdListGet(&f.list, nullptr, 5), 1);
    EXPECT_EQ(f.list.modCount, 0xFFFE);

    got = &got;
    EXPECT_EQ(zubSortedIdListPutUnique(nullptr, &got, 5), ZUB_EINVAL);
    EXPECT_EQ(got, nullptr);
    got = &got;
    EXPECT_EQ(zubSortedIdListGet(nullptr, &got, 5), ZUB_EINVAL);
    EXPECT_EQ(got, nullptr);
    EXPECT_EQ(zubSortedIdListRemove(nullptr, 5), ZUB_EINVAL);
    EXPECT_EQ(zubSortedIdListGetSize(nullptr), ZUB_EINVAL);
    EXPECT_EQ(zubSortedIdListGetSize(&f.list), 1);
}

TEST(SortedIdList, ArraysGrowLinearlyUpToMaxEntries)
{
    {
        Fixture f(100, 10);
        std::vector<uint16_t> sizes;
        for (uint16_t k = 0; k < 100; k++) {
            f.put(static_cast<uint16_t>(1000 - k), k); // descending: every put inserts at 0
            if (sizes.empty() || sizes.back() != f.list.alloced) {
                sizes.push_back(f.list.alloced);
            }
        }
        EXPECT_EQ(sizes, (std::vector<uint16_t>{11, 22, 33, 44, 55, 66, 77, 88, 99, 100}));
        for (uint32_t i = 0; i < 100; i++) {
            ASSERT_EQ(f.list.keys[i], 901 + i);
            ASSERT_EQ(f.valueAt(i), 99 - i);
        }
        void *slot = &slot;
        EXPECT_EQ(zubSortedIdListPutUnique(&f.list, &slot, 7), ZUB_ENOSPC);
        EXPECT_EQ(slot, nullptr);
        EXPECT_EQ(_zubSortedIdListEnlargeToNoCheck(&f.list, 0), ZUB_ENOSPC); // full, even for 0
    }
    {
        Fixture f(5, 0);
        for (uint16_t k = 1; k <= 3; k++) {
            f.put(k, k);
            EXPECT_EQ(f.list.alloced, k);
        }
        // Room for 2 more is there only once they are within maxEntries.
        EXPECT_EQ(_zubSortedIdListEnlargeToNoCheck(&f.list, 3), ZUB_ENOSPC);
        EXPECT_EQ(_zubSortedIdListEnlargeToNoCheck(&f.list, 2), 0);
        EXPECT_EQ(f.list.alloced, 5);
        EXPECT_EQ(_zubSortedIdListEnlargeToNoCheck(&f.list, -4), 0);
        EXPECT_EQ(f.list.alloced, 5);
    }
}

TEST(SortedIdList, EnlargeFailureKeepsEntriesAndLeavesALargerKeyArray)
{
    Fixture f(100, 2);
    f.put(10, 1);
    f.put(20, 2);
    f.put(30, 3);
    ASSERT_EQ(f.list.alloced, 3);

    f.keyAllocator.failAfter = 0;
    void *slot = &slot;
    EXPECT_EQ(zubSortedIdListPutUnique(&f.list, &slot, 40), ZUB_ENOSPC);
    EXPECT_EQ(slot, nullptr);
    f.keyAllocator.failAfter = -1;

    // The key array is replaced, then the value array fails.
    f.valueAllocator.failAfter = 0;
    const uint16_t modCount = f.list.modCount;
    uint16_t *oldKeys = f.list.keys;
    EXPECT_EQ(zubSortedIdListPutUnique(&f.list, &slot, 5), ZUB_ENOSPC);
    EXPECT_NE(f.list.keys, oldKeys);
    EXPECT_EQ(f.keyAllocator.blockSize(f.list.keys), 12u); // (3 + 1 + 2) keys
    EXPECT_EQ(f.keyAllocator.liveBlocks(), 1u);
    EXPECT_EQ(f.list.alloced, 3);
    EXPECT_EQ(f.list.modCount, modCount);
    EXPECT_EQ(f.keys(), (std::vector<uint16_t>{10, 20, 30}));
    f.valueAllocator.failAfter = -1;

    f.put(5, 0);
    EXPECT_EQ(f.keys(), (std::vector<uint16_t>{5, 10, 20, 30}));
    EXPECT_EQ((std::vector<uint32_t>{f.valueAt(0), f.valueAt(1), f.valueAt(2), f.valueAt(3)}),
              (std::vector<uint32_t>{0, 1, 2, 3}));
}

TEST(SortedIdList, ValueArraySizeIsNeverWrapped)
{
    CountingAllocator keys, values;
    values.failAbove = 4096;
    zubSortedIdList_t list;
    zubSortedIdListParams_t params{values.record(), keys.record(), 0x80000000u, 100, 5};
    ASSERT_EQ(zubSortedIdListInitialize(&list, &params), 0);
    void *slot = &slot;
    EXPECT_EQ(zubSortedIdListPutUnique(&list, &slot, 1), ZUB_ENOSPC);
    EXPECT_EQ(slot, nullptr);
    // 6 values of 2^31 bytes: too large for a 32-bit size_t (no call at all),
    // asked for in full on a 64-bit host.
    if (sizeof(size_t) == 4) {
        EXPECT_TRUE(values.sizes().empty());
    } else {
        EXPECT_EQ(values.sizes(), (std::vector<size_t>{static_cast<size_t>(6ull << 31)}));
    }
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(zubSortedIdListRelease(&list), 0);
    EXPECT_EQ(keys.liveBlocks(), 0u);
}

TEST(SortedIdList, FindGivesPositionOrInsertionPoint)
{
    Fixture f;
    uint32_t position = 99;
    EXPECT_EQ(_zubSortedIdListFindNoChecks(&f.list, &position, 7), 0);
    EXPECT_EQ(position, 0u);
    for (uint16_t k : {10, 20, 30}) {
        f.put(k, k);
    }
    const struct {
        uint16_t key;
        int32_t found;
        uint32_t position;
    } cases[] = {{20, 1, 1}, {25, 0, 2}, {5, 0, 0}, {35, 0, 3}, {10, 1, 0}, {30, 1, 2}, {15, 0, 1}};
    for (const auto &c : cases) {
        EXPECT_EQ(_zubSortedIdListFindNoChecks(&f.list, &position, c.key), c.found) << c.key;
        EXPECT_EQ(position, c.position) << c.key;
    }
}

// Every key against std::lower_bound, over lists whose lengths cross the
// search's halving edges, with keys at both ends of the 16-bit range.
TEST(SortedIdList, FindMatchesLowerBoundForEveryKey)
{
    std::mt19937 rng(0xF1D);
    for (uint32_t n : {1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 16u, 17u, 33u, 200u}) {
        Fixture f(1000, 50);
        std::vector<uint16_t> keys;
        while (keys.size() < n) {
            const uint16_t k = keys.size() == 0 ? 0 : keys.size() == 1 ? 65535 : static_cast<uint16_t>(rng());
            if (std::find(keys.begin(), keys.end(), k) == keys.end()) {
                keys.push_back(k);
                f.put(k, 0);
            }
        }
        std::sort(keys.begin(), keys.end());
        ASSERT_EQ(f.keys(), keys);
        for (uint32_t k = 0; k <= 0xFFFF; k++) {
            const auto it = std::lower_bound(keys.begin(), keys.end(), static_cast<uint16_t>(k));
            const uint32_t expected = static_cast<uint32_t>(it - keys.begin());
            const int32_t found = it != keys.end() && *it == k;
            uint32_t position = 0xFFFFFFFF;
            ASSERT_EQ(_zubSortedIdListFindNoChecks(&f.list, &position, static_cast<uint16_t>(k)), found)
                << "n " << n << " key " << k;
            ASSERT_EQ(position, expected) << "n " << n << " key " << k;
        }
    }
}

TEST(SortedIdList, CreateKeyGoesUpThenDownThenIntoTheFirstGap)
{
    const struct {
        std::vector<uint16_t> keys;
        uint16_t expected;
    } cases[] = {
        {{}, 32768},
        {{40000}, 40002},
        {{65532}, 65534},
        {{65533}, 65531},
        {{3, 65534}, 1},
        {{2, 65534}, 0},
        {{0, 1, 2, 10, 65535}, 6},
        {{1, 3, 65535}, 2},
        {{0, 65535}, 32767},
        {{0, 1, 2, 3, 65535}, 32769},
    };
    for (const auto &c : cases) {
        Fixture f(1000, 0);
        for (uint16_t k : c.keys) {
            f.put(k, 0);
        }
        uint16_t key = 0;
        EXPECT_EQ(zubSortedIdListCreateKey(&f.list, &key), 0);
        EXPECT_EQ(key, c.expected);
        EXPECT_EQ(f.list.count, c.keys.size()); // proposes only
    }
    uint16_t key;
    EXPECT_EQ(zubSortedIdListCreateKey(nullptr, &key), ZUB_EINVAL);
    Fixture empty;
    EXPECT_EQ(zubSortedIdListCreateKey(&empty.list, nullptr), ZUB_EINVAL);
}

// Dense key sets (the only ones that reach the gap search) against the
// plain walk, down to the full set that leaves no key.
TEST(SortedIdList, CreateKeyGapSearchMatchesAPlainWalk)
{
    Fixture f(65535, 255);
    for (uint32_t k = 1; k <= 65535; k++) {
        f.put(static_cast<uint16_t>(k), k);
    }
    uint16_t key = 0;
    EXPECT_EQ(zubSortedIdListCreateKey(&f.list, &key), ZUB_ENOSPC);

    std::mt19937 rng(0xC4EA7E);
    const int kRounds = 2000;
    for (int round = 0; round < kRounds; round++) {
        const uint16_t k = static_cast<uint16_t>(1 + rng() % 65535);
        if (rng() % 2) {
            zubSortedIdListRemove(&f.list, k);
        } else {
            f.put(k, 0);
        }
        if (rng() % 4 == 0) {
            f.put(65535, 0);
            zubSortedIdListRemove(&f.list, 0);
            f.put(1, 0);
        }
        uint16_t expected = 0;
        const int32_t want = referenceCreateKey(f.keys(), &expected);
        ASSERT_EQ(zubSortedIdListCreateKey(&f.list, &key), want) << "round " << round;
        if (want == 0) {
            ASSERT_EQ(key, expected) << "round " << round;
        }
    }
}

TEST(SortedIdList, RemoveKeepsPairsAndMarksTheVacatedLastSlot)
{
    Fixture f;
    for (uint16_t k : {10, 20, 30, 40}) {
        f.put(k, k * 100u);
    }
    EXPECT_EQ(zubSortedIdListRemove(&f.list, 25), ZUB_ENOENT);
    EXPECT_EQ(f.list.modCount, static_cast<uint16_t>(-4));
    EXPECT_EQ(zubSortedIdListRemove(&f.list, 40), 0);
    EXPECT_EQ(f.valueAt(3), 0x77777777u);
    EXPECT_EQ(f.list.keys[3], 40); // the key array is not touched
    EXPECT_EQ(zubSortedIdListRemove(&f.list, 10), 0);
    EXPECT_EQ(f.keys(), (std::vector<uint16_t>{20, 30}));
    EXPECT_EQ((std::vector<uint32_t>{f.valueAt(0), f.valueAt(1), f.valueAt(2)}),
              (std::vector<uint32_t>{2000, 3000, 3000})); // the slot that fell out keeps its bytes
    EXPECT_EQ(f.list.modCount, static_cast<uint16_t>(-6));
    EXPECT_EQ(f.list.alloced, 11);
}

TEST(SortedIdList, FirstAndLast)
{
    Fixture f;
    uint16_t key = 1;
    void *value = &value;
    EXPECT_EQ(zubSortedIdListGetFirstKey(&f.list, &key), ZUB_ENOENT);
    EXPECT_EQ(zubSortedIdListGetLastEntry(&f.list, &key, &value), ZUB_ENOENT);
    EXPECT_EQ(zubSortedIdListGetFirstKey(&f.list, nullptr), ZUB_EINVAL);
    EXPECT_EQ(zubSortedIdListGetLastKey(nullptr, &key), ZUB_EINVAL);
    EXPECT_EQ(zubSortedIdListGetFirstEntry(nullptr, &key, &value), ZUB_EINVAL);
    EXPECT_EQ(key, 1);
    for (uint16_t k : {300, 7, 65535}) {
        f.put(k, k);
    }
    EXPECT_EQ(zubSortedIdListGetFirstKey(&f.list, &key), 0);
    EXPECT_EQ(key, 7);
    EXPECT_EQ(zubSortedIdListGetLastKey(&f.list, &key), 0);
    EXPECT_EQ(key, 65535);
    EXPECT_EQ(zubSortedIdListGetLastEntry(&f.list, nullptr, &value), 0);
    EXPECT_EQ(value, static_cast<void *>(static_cast<uint8_t *>(f.list.values) + 8));
    EXPECT_EQ(zubSortedIdListGetFirstEntry(&f.list, &key, nullptr), 0);
    EXPECT_EQ(key, 7);
}

TEST(SortedIdList, IteratorWalksInOrderAndStopsAfterAChange)
{
    Fixture f;
    zubSortedIdListIterator_t it;
    ASSERT_EQ(zubSortedIdListIterator(&f.list, &it), 0);
    EXPECT_EQ(it.position, -1);
    EXPECT_EQ(zubSortedIdListNext(&f.list, &it), 0); // empty
    uint32_t key = 77;
    void *value = &value;
    EXPECT_EQ(zubSortedIdListGetKey(&f.list, &it, &key), ZUB_EINVAL); // before the first next
    EXPECT_EQ(key, 0u);
    EXPECT_EQ(zubSortedIdListGetValue(&f.list, &it, &value), ZUB_EINVAL);
    EXPECT_EQ(value, nullptr);

    for (uint16_t k : {30, 10, 20}) {
        f.put(k, k + 1u);
    }
    EXPECT_EQ(zubSortedIdListNext(&f.list, &it), 0); // made before the puts
    EXPECT_EQ(zubSortedIdListGetKey(&f.list, &it, &key), ZUB_EINTR);

    ASSERT_EQ(zubSortedIdListIterator(&f.list, &it), 0);
    std::vector<uint32_t> seen;
    while (zubSortedIdListNext(&f.list, &it) == 1) {
        ASSERT_EQ(zubSortedIdListGetKey(&f.list, &it, &key), 0);
        ASSERT_EQ(zubSortedIdListGetValue(&f.list, &it, &value), 0);
        uint32_t v;
        std::memcpy(&v, value, 4);
        EXPECT_EQ(v, key + 1);
        seen.push_back(key);
        zubSortedIdListGet(&f.list, nullptr, 10); // reading is no change
        zubSortedIdListPutUnique(&f.list, nullptr, 10);
    }
    EXPECT_EQ(seen, (std::vector<uint32_t>{10, 20, 30}));
    EXPECT_EQ(it.position, 2);
    it.position = 3;
    EXPECT_EQ(zubSortedIdListGetKey(&f.list, &it, &key), ZUB_ENOENT);
    it.position = -2;
    EXPECT_EQ(zubSortedIdListNext(&f.list, &it), 0);

    ASSERT_EQ(zubSortedIdListIterator(&f.list, &it), 0);
    ASSERT_EQ(zubSortedIdListNext(&f.list, &it), 1);
    ASSERT_EQ(zubSortedIdListRemove(&f.list, 30), 0);
    EXPECT_EQ(zubSortedIdListNext(&f.list, &it), 0);
    EXPECT_EQ(it.position, 0);
    EXPECT_EQ(zubSortedIdListGetKey(&f.list, &it, &key), ZUB_EINTR);
    EXPECT_EQ(zubSortedIdListGetValue(&f.list, &it, &value), ZUB_EINTR);

    // Null arguments, in the documented order.
    EXPECT_EQ(zubSortedIdListIterator(nullptr, &it), ZUB_EINVAL);
    EXPECT_EQ(zubSortedIdListIterator(&f.list, nullptr), ZUB_EINVAL);
    EXPECT_EQ(zubSortedIdListNext(nullptr, &it), 0);
    EXPECT_EQ(zubSortedIdListGetKey(&f.list, &it, nullptr), ZUB_EINVAL);
    key = 5;
    EXPECT_EQ(zubSortedIdListGetKey(nullptr, &it, &key), ZUB_EINVAL);
    EXPECT_EQ(key, 0u);
    EXPECT_EQ(zubSortedIdListGetValue(&f.list, nullptr, &value), ZUB_EINVAL);
}

TEST(SortedIdList, ReleaseFreesBothArraysAndFillsTheRecord)
{
    CountingAllocator keys, values;
    zubSortedIdList_t list;
    zubSortedIdListParams_t params{values.record(), keys.record(), 8, 50, 1};
    ASSERT_EQ(zubSortedIdListInitialize(&list, &params), 0);
    EXPECT_EQ(zubSortedIdListRelease(&list), 0); // nothing allocated yet
    std::vector<uint8_t> filled(sizeof list, 0x55);
    EXPECT_EQ(std::memcmp(&list, filled.data(), sizeof list), 0);

    ASSERT_EQ(zubSortedIdListInitialize(&list, &params), 0);
    void *slot;
    ASSERT_EQ(zubSortedIdListPutUnique(&list, &slot, 1), 0);
    EXPECT_EQ(zubSortedIdListRelease(&list), 0);
    EXPECT_EQ(std::memcmp(&list, filled.data(), sizeof list), 0);
    EXPECT_EQ(keys.liveBlocks() + values.liveBlocks(), 0u);
    EXPECT_EQ(keys.releases() + values.releases(), 2u);
    EXPECT_EQ(zubSortedIdListRelease(nullptr), ZUB_EINVAL);
}

// Random operations against std::map, with random allocation failures and
// an iterator that must notice every change. Every result is checked
// against the map; the whole arrays are compared every fourth operation.
TEST(SortedIdList, RandomOperationsMatchAMap)
{
    const int kOperations = 120000;
    const unsigned seed = 0x1D115u;
    std::mt19937 rng(seed);
    zubtest::DebugCapture capture(true);
    CountingAllocator keys, values;
    zubSortedIdList_t list;
    zubSortedIdListParams_t params{values.record(), keys.record(), 4, 300, 7};
    ASSERT_EQ(zubSortedIdListInitialize(&list, &params), 0);
    std::map<uint16_t, uint32_t> model;
    zubSortedIdListIterator_t it;
    ASSERT_EQ(zubSortedIdListIterator(&list, &it), 0);
    bool changed = false;  // since the iterator was made
    int32_t walked = -1;   // model position of the iterator

    auto drawKey = [&]() -> uint16_t {
        switch (rng() % 4) {
        case 0: return static_cast<uint16_t>(rng() % 64);
        case 1: return static_cast<uint16_t>(65535 - rng() % 64);
        case 2: {
            uint16_t k = 0;
            return zubSortedIdListCreateKey(&list, &k) == 0 ? k : 0;
        }
        default: return static_cast<uint16_t>(rng());
        }
    };

    for (int op = 0; op < kOperations; op++) {
        SCOPED_TRACE(testing::Message() << "seed " << seed << " op " << op);
        const bool fail = rng() % 40 == 0;
        keys.failAfter = fail && rng() % 2 ? 0 : -1;
        values.failAfter = fail && keys.failAfter != 0 ? 0 : -1;
        const uint16_t key = drawKey();
        const unsigned kind = rng() % 100;
        const bool present = model.count(key) != 0;
        if (kind < 40) {
            const bool withPointer = rng() % 8 != 0;
            const bool mustGrow = list.count == list.alloced;
            void *slot = &slot;
            const int32_t got = zubSortedIdListPutUnique(&list, withPointer ? &slot : nullptr, key);
            if (present) {
                ASSERT_EQ(got, 1);
                if (withPointer) {
                    uint32_t old;
                    std::memcpy(&old, slot, 4);
                    ASSERT_EQ(old, model[key]);
                    model[key] = static_cast<uint32_t>(rng());
                    std::memcpy(slot, &model[key], 4);
                    changed = true;
                }
            } else if (!withPointer) {
                ASSERT_EQ(got, 0);
            } else if (model.size() == 300 || (fail && mustGrow)) {
                ASSERT_EQ(got, ZUB_ENOSPC);
                ASSERT_EQ(slot, nullptr);
            } else {
                ASSERT_EQ(got, 0);
                model[key] = static_cast<uint32_t>(rng());
                std::memcpy(slot, &model[key], 4);
                changed = true;
            }
        } else if (kind < 60) {
            ASSERT_EQ(zubSortedIdListRemove(&list, key), present ? 0 : ZUB_ENOENT);
            if (present) {
                model.erase(key);
                changed = true;
            }
        } else if (kind < 75) {
            void *slot = &slot;
            ASSERT_EQ(zubSortedIdListGet(&list, &slot, key), present ? 1 : 0);
            if (present) {
                uint32_t v;
                std::memcpy(&v, slot, 4);
                ASSERT_EQ(v, model[key]);
            } else {
                ASSERT_EQ(slot, nullptr);
            }
        } else if (kind < 80) {
            uint16_t fresh = 0, expected = 0;
            std::vector<uint16_t> modelKeys;
            for (auto &e : model) {
                modelKeys.push_back(e.first);
            }
            const int32_t want = referenceCreateKey(modelKeys, &expected);
            ASSERT_EQ(zubSortedIdListCreateKey(&list, &fresh), want);
            if (want == 0) {
                ASSERT_EQ(fresh, expected);
                ASSERT_EQ(model.count(fresh), 0u);
            }
        } else if (kind < 85) {
            ASSERT_EQ(zubSortedIdListIterator(&list, &it), 0);
            changed = false;
            walked = -1;
        } else {
            // One step of the walk.
            const int32_t moved = zubSortedIdListNext(&list, &it);
            const bool canMove = !changed && walked + 1 < static_cast<int32_t>(model.size());
            ASSERT_EQ(moved, canMove ? 1 : 0);
            walked += moved;
            uint32_t k = 0;
            const int32_t got = zubSortedIdListGetKey(&list, &it, &k);
            if (changed) {
                ASSERT_EQ(got, ZUB_EINTR);
            } else if (walked < 0) {
                ASSERT_EQ(got, ZUB_EINVAL);
            } else if (walked >= static_cast<int32_t>(model.size())) {
                ASSERT_EQ(got, ZUB_ENOENT);
            } else {
                ASSERT_EQ(got, 0);
                ASSERT_EQ(k, std::next(model.begin(), walked)->first);
            }
        }
        ASSERT_EQ(list.count, model.size());
        ASSERT_LE(list.count, list.alloced);
        ASSERT_LE(list.alloced, 300);
        if (op % 4 != 0 && !fail) {
            continue; // the whole arrays every fourth step and after every failure
        }
        size_t i = 0;
        for (auto &e : model) {
            ASSERT_EQ(list.keys[i], e.first) << "index " << i;
            uint32_t v;
            std::memcpy(&v, static_cast<uint8_t *>(list.values) + 4 * i, 4);
            ASSERT_EQ(v, e.second) << "index " << i;
            i++;
        }
    }
    keys.failAfter = values.failAfter = -1;
    EXPECT_EQ(zubSortedIdListRelease(&list), 0);
    EXPECT_EQ(keys.liveBlocks() + values.liveBlocks(), 0u);
    EXPECT_TRUE(capture.messages().empty());
}
