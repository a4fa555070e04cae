#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "test_support.h"
#include "zub/sortedidlist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

// A list of 4-byte values on one counting allocator (keys first, then
// values) that must end with no leak.
struct Fixture {
    zubtest::CountingAllocator memory;
    zubSortedIdList_t list{};
    explicit Fixture(uint16_t maxEntries = 100, uint8_t growStep = 10)
    {
        zubSortedIdListParams_t params{memory.record(), memory.record(), 4, maxEntries, growStep};
        EXPECT_EQ(zubSortedIdListInitialize(&list, &params), 0);
    }
    ~Fixture() { EXPECT_EQ(zubSortedIdListRelease(&list) + memory.liveBlocks(), 0u); }
    uint32_t *put(uint16_t key)
    {
        void *slot = nullptr;
        zubSortedIdListPutUnique(&list, &slot, key);
        return static_cast<uint32_t *>(slot);
    }
};

} // namespace

TEST(SortedIdList, PutGrowsLinearlyAndRemovalAndReleaseFill)
{
    Fixture f;
    // Absent with no pointer: nothing done.
    EXPECT_TRUE(zubSortedIdListPutUnique(&f.list, nullptr, 5) == 0 && f.memory.allocations() == 0);
    uint32_t *first = f.put(5);
    EXPECT_TRUE(*first == 0xA5A5A5A5u && f.put(5) == first); // left for the caller
    EXPECT_EQ(f.list.modCount, 0xFFFE);                      // once per handed-out pointer
    std::vector<uint16_t> sizes{f.list.alloced};
    for (uint16_t k = 1000; f.list.count < 100; k--) {
        *f.put(k) = k;
        if (sizes.back() != f.list.alloced) {
            sizes.push_back(f.list.alloced);
        }
    }
    EXPECT_EQ(sizes, (std::vector<uint16_t>{11, 22, 33, 44, 55, 66, 77, 88, 99, 100}));
    EXPECT_TRUE(f.memory.sizes()[0] == 22u && f.memory.sizes()[1] == 44u);
    EXPECT_EQ(_zubSortedIdListEnlargeToNoCheck(&f.list, 0), ZUB_ENOSPC); // full, even for 0
    // The last value slot is filled with 0x77; below it the slot that falls out keeps its bytes.
    auto *values = static_cast<uint32_t *>(f.list.values);
    EXPECT_EQ(zubSortedIdListRemove(&f.list, 1000), 0);
    EXPECT_EQ(zubSortedIdListRemove(&f.list, 5), 0);
    EXPECT_EQ((std::vector<uint32_t>{values[0], values[97], values[98], values[99]}),
              (std::vector<uint32_t>{902, 999, 999, 0x77777777u}));

    zubSortedIdList_t list;
    std::memset(&list, 0xEE, sizeof list);
    zubSortedIdListParams_t params{nullptr, nullptr, 0, 10, 3};
    EXPECT_EQ(zubSortedIdListInitialize(&list, &params), ZUB_EINVAL);
    EXPECT_TRUE(list.growStep == 3 && list.modCount == 0 && !list.keys); // set all the same
    params = {nullptr, nullptr, 8, 50, 1};
    EXPECT_EQ(zubSortedIdListInitialize(&list, &params), 0);
    EXPECT_EQ(zubSortedIdListPutUnique(&list, reinterpret_cast<void **>(&first), 1), 0);
    EXPECT_EQ(zubSortedIdListRelease(&list), 0);
    const std::vector<uint8_t> released(sizeof list, 0x55);
    EXPECT_EQ(std::memcmp(&list, released.data(), sizeof list), 0);
}

TEST(SortedIdList, CreateKeyGoesUpThenDownThenIntoTheFirstGap)
{
    // clang-format off
    const std::vector<std::pair<std::vector<uint16_t>, uint16_t>> cases{{{}, 32768}, {{40000}, 40002},
        {{65533}, 65531}, {{3, 65534}, 1}, {{2, 65534}, 0}, {{0, 1, 2, 10, 65535}, 6},
        {{0, 1, 2, 3, 65535}, 32769}};
    // clang-format on
    for (const auto &[keys, expected] : cases) {
        Fixture exact(1000, 0); // no room past the last key
        for (uint16_t k : keys) {
            exact.put(k);
        }
        uint16_t key = 0;
        EXPECT_TRUE(zubSortedIdListCreateKey(&exact.list, &key) == 0 && key == expected);
    }
}

// Puts, gets, removals, key proposals, end getters and walks against a map,
// with failing allocations (the fuzz harness).
TEST(SortedIdList, MatchesAMap)
{
    EXPECT_GT(zubtest::replayHarness("sortedidlist", LLVMFuzzerTestOneInput, 300, 2000, 0x1D115u),
              0u);
}
