#include <gtest/gtest.h>

#include <cstring>
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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

// Puts, gets, removals, key proposals, end getters and walks against a map,
// with failing allocations (the fuzz harness).
TEST(SortedIdList, MatchesAMap)
{
    EXPECT_GT(zubtest::replayHarness("sortedidlist", LLVMFuzzerTestOneInput, 300, 2000, 0x1D115u),
              0u);
}
