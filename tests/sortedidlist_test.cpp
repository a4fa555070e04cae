#include <gtest/gtest.h>

#include "test_support.h"
#include "zub/sortedidlist.h"

TEST(SortedIdList, GrowthRemovalAndFill)
{
    // Keys from 100 down on one counting allocator: the arrays grow by the
    // step until the maximum, and nothing is left at the end.
    zubtest::CountingAllocator memory;
    zubSortedIdList_t list;
    zubSortedIdListParams_t params{memory.record(), memory.record(), 4, 100, 10};
    ASSERT_EQ(zubSortedIdListInitialize(&list, &params), 0);
    std::vector<uint16_t> sizes;
    for (uint16_t key = 100; key > 0; key--) {
        void *value = nullptr;
        EXPECT_EQ(zubSortedIdListPutUnique(&list, &value, key), 0);
        *static_cast<uint32_t *>(value) = key;
        if (sizes.empty() || sizes.back() != list.alloced)
            sizes.push_back(list.alloced);
    }
    EXPECT_EQ(sizes, (std::vector<uint16_t>{11, 22, 33, 44, 55, 66, 77, 88, 99, 100}));
    // The last value slot is filled with 0x77; below it the slot that falls out keeps its bytes.
    auto *values = static_cast<uint32_t *>(list.values);
    EXPECT_TRUE(zubSortedIdListRemove(&list, 100) == 0 && zubSortedIdListRemove(&list, 1) == 0);
    EXPECT_EQ((std::vector<uint32_t>{values[0], values[97], values[98], values[99]}),
              (std::vector<uint32_t>{2, 99, 99, 0x77777777u}));
    EXPECT_TRUE(zubSortedIdListRelease(&list) == 0 && memory.live.empty());
    EXPECT_EQ(zubtest::hex(&list, sizeof list),
              zubtest::hex(std::vector<uint8_t>(sizeof list, 0x55).data(), sizeof list));
}
