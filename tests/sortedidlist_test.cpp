#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <map>
#include <random>
#include <vector>

#include "test_support.h"
#include "zub/sortedidlist.h"

using zubtest::CountingAllocator;

namespace {

// A list of uint32_t values on two counting allocators that must end with
// no leak.
struct Fixture {
    CountingAllocator keyAllocator, valueAllocator;
    zubSortedIdList_t list{};
    explicit Fixture(uint16_t maxEntries = 100, uint8_t growStep = 10, uint32_t valueSize = 4)
    {
        zubSortedIdListParams_t params{valueAllocator.record(), keyAllocator.record(), valueSize,
                                       maxEntries, growStep};
        EXPECT_EQ(zubSortedIdListInitialize(&list, &params), 0);
    }
    ~Fixture()
    {
        EXPECT_EQ(zubSortedIdListRelease(&list) + keyAllocator.liveBlocks() +
                      valueAllocator.liveBlocks(),
                  0u);
    }
    int32_t put(uint16_t key, uint32_t value)
    {
        void *slot = nullptr;
        const int32_t result = zubSortedIdListPutUnique(&list, &slot, key);
        if (result >= 0) {
            std::memcpy(slot, &value, 4);
        }
        return result;
    }
    std::vector<uint16_t> keys() const { return {list.keys, list.keys + list.count}; }
    uint32_t value(uint32_t index) const
    {
        uint32_t v;
        std::memcpy(&v, static_cast<const uint8_t *>(list.values) + 4 * index, 4);
        return v;
    }
};

} // namespace

TEST(SortedIdList, PutTakesASlotAndGrowsLinearlyToMaxEntries)
{
    Fixture f(100, 10);
    EXPECT_EQ(zubSortedIdListPutUnique(&f.list, nullptr, 5), 0); // absent, no pointer: nothing
    EXPECT_EQ(f.keyAllocator.allocations(), 0u);
    void *first = nullptr, *again = nullptr;
    ASSERT_EQ(zubSortedIdListPutUnique(&f.list, &first, 5), 0);
    EXPECT_EQ(f.value(0), 0xA5A5A5A5u); // left for the caller
    EXPECT_EQ(zubSortedIdListPutUnique(&f.list, &again, 5), 1);
    EXPECT_EQ(zubSortedIdListPutUnique(&f.list, nullptr, 5), 1);
    EXPECT_EQ(again, first);
    EXPECT_EQ(f.list.modCount, 0xFFFE); // once per handed-out pointer
    std::vector<uint16_t> sizes{f.list.alloced};
    for (uint16_t k = 1000; f.list.count < 100; k--) {
        ASSERT_EQ(f.put(k, k), 0);
        if (sizes.back() != f.list.alloced) {
            sizes.push_back(f.list.alloced);
        }
    }
    EXPECT_EQ(sizes, (std::vector<uint16_t>{11, 22, 33, 44, 55, 66, 77, 88, 99, 100}));
    EXPECT_EQ(f.keyAllocator.sizes()[0], 22u);
    EXPECT_EQ(f.valueAllocator.sizes()[0], 44u);
    void *slot = &slot;
    EXPECT_EQ(zubSortedIdListPutUnique(&f.list, &slot, 7), ZUB_ENOSPC);
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(_zubSortedIdListEnlargeToNoCheck(&f.list, 0), ZUB_ENOSPC); // full, even for 0
    EXPECT_EQ(f.keys()[0], 5);
    EXPECT_EQ(f.value(99), 1000u);

    zubSortedIdList_t list;
    std::memset(&list, 0xEE, sizeof list);
    zubSortedIdListParams_t params{nullptr, nullptr, 0, 10, 3};
    EXPECT_EQ(zubSortedIdListInitialize(&list, nullptr), ZUB_EINVAL);
    EXPECT_EQ(zubSortedIdListInitialize(&list, &params), ZUB_EINVAL);
    EXPECT_TRUE(list.growStep == 3 && list.modCount == 0); // set all the same
    params = {nullptr, nullptr, 4, 0, 3};
    EXPECT_EQ(zubSortedIdListInitialize(&list, &params), ZUB_EINVAL);
    EXPECT_EQ(zubSortedIdListPutUnique(nullptr, &slot, 5), ZUB_EINVAL);
    EXPECT_EQ(zubSortedIdListGetSize(nullptr), ZUB_EINVAL);

    // 6 values of 2^31 bytes: refused unasked on 32 bits, asked in full on 64.
    Fixture huge(100, 5, 0x80000000u);
    huge.valueAllocator.failAbove = 4096;
    EXPECT_EQ(huge.put(1, 0), ZUB_ENOSPC);
    EXPECT_EQ(huge.valueAllocator.sizes(), sizeof(size_t) == 4
                                               ? std::vector<size_t>{}
                                               : std::vector<size_t>{size_t(6ull << 31)});
}

TEST(SortedIdList, CreateKeyGoesUpThenDownThenIntoTheFirstGap)
{
    const std::vector<std::pair<std::vector<uint16_t>, uint16_t>> cases{
        {{}, 32768},
        {{65532}, 65534},
        {{65533}, 65531},
        {{3, 65534}, 1},
        {{2, 65534}, 0},
        {{0, 1, 2, 10, 65535}, 6},
        {{0, 1, 2, 3, 65535}, 32769}};
    for (const auto &[keys, expected] : cases) {
        Fixture f(1000, 0);
        for (uint16_t k : keys) {
            f.put(k, 0);
        }
        uint16_t key = 0;
        EXPECT_EQ(zubSortedIdListCreateKey(&f.list, &key), 0);
        EXPECT_EQ(key, expected);
        EXPECT_EQ(f.list.count, keys.size());
    }
    // Every key from 1 up: none left.
    Fixture f(65535, 255);
    for (uint32_t k = 1; k <= 65535; k++) {
        f.put(static_cast<uint16_t>(k), 0);
    }
    uint16_t key;
    EXPECT_EQ(zubSortedIdListCreateKey(&f.list, &key), ZUB_ENOSPC);
    EXPECT_EQ(zubSortedIdListCreateKey(nullptr, &key), ZUB_EINVAL);
    EXPECT_EQ(zubSortedIdListCreateKey(&f.list, nullptr), ZUB_EINVAL);
}

// Iterators and removal results are checked against the map by the random
// test; here the bytes a removal and a release leave behind.
TEST(SortedIdList, RemovalAndReleaseFillValues)
{
    Fixture f;
    for (uint16_t k : {40, 10, 30, 20}) {
        f.put(k, k * 100u);
    }
    EXPECT_EQ(zubSortedIdListRemove(&f.list, 40), 0);
    EXPECT_EQ(f.value(3), 0x77777777u); // the vacated last slot
    EXPECT_EQ(zubSortedIdListRemove(&f.list, 10), 0);
    EXPECT_EQ((std::vector<uint32_t>{f.value(0), f.value(1), f.value(2)}),
              (std::vector<uint32_t>{2000, 3000, 3000})); // the slot that fell out keeps its bytes
    // The end getters on what is left, {20, 30}.
    uint16_t ends[4] = {};
    void *value = nullptr, *first = nullptr;
    EXPECT_EQ((std::vector<int32_t>{zubSortedIdListGetFirstKey(&f.list, &ends[0]),
                                    zubSortedIdListGetLastKey(&f.list, &ends[1]),
                                    zubSortedIdListGetFirstEntry(&f.list, &ends[2], &first),
                                    zubSortedIdListGetLastEntry(&f.list, &ends[3], &value),
                                    zubSortedIdListGetFirstKey(&f.list, nullptr),
                                    zubSortedIdListGetLastKey(&f.list, nullptr)}),
              (std::vector<int32_t>{0, 0, 0, 0, ZUB_EINVAL, ZUB_EINVAL}));
    EXPECT_EQ((std::vector<uint16_t>(ends, ends + 4)), (std::vector<uint16_t>{20, 30, 20, 30}));
    EXPECT_TRUE(first == f.list.values && value == static_cast<uint8_t *>(f.list.values) + 4);
    uint32_t k32 = 0;
    EXPECT_EQ(zubSortedIdListGetKey(&f.list, nullptr, &k32), ZUB_EINVAL);

    zubSortedIdList_t list;
    zubSortedIdListParams_t params{f.valueAllocator.record(), f.keyAllocator.record(), 8, 50, 1};
    ASSERT_EQ(zubSortedIdListInitialize(&list, &params), 0);
    ASSERT_EQ(zubSortedIdListPutUnique(&list, &value, 1), 0);
    EXPECT_EQ(zubSortedIdListRelease(&list), 0);
    const std::vector<uint8_t> released(sizeof list, 0x55);
    EXPECT_EQ(std::memcmp(&list, released.data(), sizeof list), 0);
    EXPECT_EQ(zubSortedIdListRelease(nullptr), ZUB_EINVAL);
}

// Random puts (some at proposed keys), gets, removals and walk steps
// against std::map, with random allocation failures; every result is
// checked and the whole arrays are compared every fourth operation.
TEST(SortedIdList, RandomOperationsMatchAMap)
{
    const uint32_t seed = zubtest::testSeed(0x1D115u);
    std::mt19937 rng(seed);
    zubtest::DebugCapture capture(true); // no operation writes a message
    Fixture f(300, 7);
    std::map<uint16_t, uint32_t> model;
    zubSortedIdListIterator_t it;
    ASSERT_EQ(zubSortedIdListIterator(&f.list, &it), 0);
    bool changed = false; // since the iterator was made
    int32_t walked = -1;  // the iterator's position in the model
    for (int op = 0; op < 120000; op++) {
        SCOPED_TRACE(testing::Message() << "seed " << seed << " op " << op);
        const bool fail = rng() % 40 == 0;
        f.keyAllocator.failAfter = fail && rng() % 2 ? 0 : -1;
        f.valueAllocator.failAfter = fail && f.keyAllocator.failAfter != 0 ? 0 : -1;
        uint16_t key = static_cast<uint16_t>(rng());
        switch (rng() % 4) { // crowd both ends, and take proposed keys
        case 0: key = static_cast<uint16_t>(key % 64); break;
        case 1: key = static_cast<uint16_t>(65535 - key % 64); break;
        case 2: zubSortedIdListCreateKey(&f.list, &key); break;
        }
        const bool present = model.count(key) != 0;
        const unsigned kind = rng() % 100;
        void *slot = &slot;
        if (kind < 40) {
            const bool withPointer = rng() % 8 != 0;
            const bool mustGrow = f.list.count == f.list.alloced;
            const int32_t got =
                zubSortedIdListPutUnique(&f.list, withPointer ? &slot : nullptr, key);
            if (present || !withPointer) {
                ASSERT_EQ(got, present ? 1 : 0);
                if (present && withPointer) {
                    ASSERT_EQ(*static_cast<uint32_t *>(slot), model[key]);
                }
            } else if (model.size() == 300 || (fail && mustGrow)) {
                ASSERT_EQ(got, ZUB_ENOSPC);
                ASSERT_EQ(slot, nullptr);
                continue;
            } else {
                ASSERT_EQ(got, 0);
            }
            if (withPointer) {
                model[key] = static_cast<uint32_t>(rng());
                std::memcpy(slot, &model[key], 4);
                changed = true;
            }
        } else if (kind < 60) {
            ASSERT_EQ(zubSortedIdListRemove(&f.list, key), present ? 0 : ZUB_ENOENT);
            changed |= model.erase(key) != 0;
        } else if (kind < 75) {
            ASSERT_EQ(zubSortedIdListGet(&f.list, &slot, key), present ? 1 : 0);
            ASSERT_EQ(present ? *static_cast<uint32_t *>(slot) : 0u, present ? model[key] : 0u);
            ASSERT_EQ(slot == nullptr, !present);
        } else if (kind < 80) {
            ASSERT_EQ(zubSortedIdListIterator(&f.list, &it), 0);
            changed = false;
            walked = -1;
        } else {
            const bool canMove = !changed && walked + 1 < static_cast<int32_t>(model.size());
            ASSERT_EQ(zubSortedIdListNext(&f.list, &it), canMove ? 1 : 0);
            walked += canMove;
            uint32_t k = 0;
            const int32_t got = zubSortedIdListGetKey(&f.list, &it, &k);
            ASSERT_EQ(got, changed ? ZUB_EINTR : walked < 0 ? ZUB_EINVAL : 0);
            ASSERT_EQ(k, got == 0 ? std::next(model.begin(), walked)->first : 0u);
        }
        ASSERT_EQ(f.list.count, model.size());
        ASSERT_LE(f.list.count, f.list.alloced);
        if (op % 4 == 0) {
            size_t i = 0;
            for (auto &e : model) {
                ASSERT_EQ(f.list.keys[i], e.first) << "index " << i;
                ASSERT_EQ(f.value(static_cast<uint32_t>(i++)), e.second) << "index " << i;
            }
        }
    }
    f.keyAllocator.failAfter = f.valueAllocator.failAfter = -1;
    EXPECT_TRUE(capture.messages().empty());
}
