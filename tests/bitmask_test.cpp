#include <gtest/gtest.h>

#include "test_support.h"
#include "zub/bitmask.h"

TEST(Bitmask, RequiredSizeInitAndSetAllAcrossLevelEdges)
{
    // nBits, levels, bytes with 32-bit pointer slots
    // clang-format off
    const uint32_t cases[][3] = {{0, 0, 0}, {1, 0, 0}, {32, 0, 0}, {33, 1, 12}, {64, 1, 12},
        {1024, 1, 132}, {1025, 2, 148}, {32768, 2, 4232}, {100000, 3, 12920},
        {1048576, 3, 135308}, {520093664, 5, 67108880}};
    // clang-format on
    for (const auto &[n, levels, bytes32] : cases) {
        SCOPED_TRACE(n);
        const uint32_t bytes = zubBitmaskGetRequiredSize(n);
        EXPECT_EQ(bytes, bytes32 + levels * (sizeof(void *) - 4));
        zubtest::GuardedBuffer buffer(bytes);
        zubBitmask_t bm;
        uint32_t *memory = levels == 0 ? nullptr : reinterpret_cast<uint32_t *>(buffer.data());
        ASSERT_EQ(zubBitmaskInitialize(&bm, n, memory), 0);
        EXPECT_TRUE(bm.nBits == n && bm.nTables == levels &&
                    bm.nTableData == bytes32 / 4 - levels &&
                    static_cast<void *>(bm.levelTables) == memory);
        // Set-all fills whole words; the searches still stop at the last
        // valid index, also once every valid bit is reset again.
        EXPECT_EQ(zubBitmaskSetAll(&bm), 0);
        EXPECT_TRUE(bytes == 0 || buffer.data()[bytes - 1] == 0xFF);
        const int32_t last = n == 0 ? -22 : static_cast<int32_t>(n) - 1;
        EXPECT_EQ(zubBitmaskFindPrevOne(&bm, n - 1), last);
        EXPECT_EQ(zubBitmaskFindNextOne(&bm, n - 1), last);
        if (n <= 1025) {
            for (uint32_t i = 0; i < n; ++i)
                zubBitmaskResetBit(&bm, i);
            EXPECT_EQ(zubBitmaskFindFirstOne(&bm), -1);
            EXPECT_EQ(zubBitmaskFindNextOne(&bm, 0), n ? -1 : -22);
            EXPECT_EQ(zubBitmaskFindNextOne(&bm, n - 1), n ? -1 : -22);
        }
        EXPECT_TRUE(buffer.guardsIntact());
    }
}
