#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "test_support.h"
#include "zub/bitmask.h"

using zubtest::DebugCapture;
using zubtest::GuardedBuffer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

TEST(Bitmask, RequiredSizeLayoutAndSetAllAcrossLevelEdges)
{
    struct Case {
        uint32_t nBits, levels, armhfBytes;
        std::vector<uint32_t> words; // per level
    };
    const Case cases[] = {{0, 0, 0, {}},
                          {1, 0, 0, {}},
                          {32, 0, 0, {}},
                          {33, 1, 12, {2}},
                          {64, 1, 12, {2}},
                          {1024, 1, 132, {32}},
                          {1025, 2, 148, {33, 2}},
                          {32768, 2, 4232, {1024, 32}},
                          {100000, 3, 12920, {3125, 98, 4}},
                          {1048576, 3, 135308, {32768, 1024, 32}},
                          {520093664, 5, 67108880, {16252927, 507904, 15872, 496, 16}}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.nBits);
        const uint32_t bytes = zubBitmaskGetRequiredSize(c.nBits);
        uint32_t words = 0;
        for (uint32_t w : c.words) {
            words += w;
        }
        EXPECT_EQ(bytes, c.levels * sizeof(void *) + 4 * words);
        if (sizeof(void *) == 4) {
            EXPECT_EQ(bytes, c.armhfBytes);
        }
        GuardedBuffer buffer(bytes);
        std::memset(buffer.data(), 0x5A, bytes);
        zubBitmask_t bm;
        std::memset(&bm, 0xEE, sizeof bm);
        uint32_t *memory = c.levels == 0 ? nullptr : reinterpret_cast<uint32_t *>(buffer.data());
        ASSERT_EQ(zubBitmaskInitialize(&bm, c.nBits, memory), 0);
        EXPECT_EQ((std::vector<uint32_t>{bm.nBits, bm.nTables, bm.nTableData, bm.topBits}),
                  (std::vector<uint32_t>{c.nBits, c.levels, words, 0}));
        EXPECT_EQ(static_cast<void *>(bm.levelTables), memory);
        uint32_t offset = c.levels * sizeof(void *);
        for (uint32_t k = 0; k < c.levels; offset += 4 * c.words[k++]) {
            void *slot;
            std::memcpy(&slot, buffer.data() + k * sizeof slot, sizeof slot);
            EXPECT_EQ(slot, buffer.data() + offset) << "slot " << k;
        }
        EXPECT_TRUE(std::all_of(buffer.data() + c.levels * sizeof(void *), buffer.data() + bytes,
                                [](uint8_t b) { return b == 0; }));
        // Set-all fills whole words; the searches still stop at the last
        // valid index, also once every valid bit is reset again.
        EXPECT_EQ(zubBitmaskSetAll(&bm), 0);
        EXPECT_TRUE(bytes == 0 || buffer.data()[bytes - 1] == 0xFF);
        const int32_t last = static_cast<int32_t>(c.nBits) - 1;
        EXPECT_EQ(zubBitmaskFindPrevOne(&bm, c.nBits - 1), c.nBits ? last : -22);
        EXPECT_EQ(zubBitmaskFindNextOne(&bm, c.nBits - 1), c.nBits ? last : -22);
        if (c.nBits <= 1025) {
            for (uint32_t i = 0; i < c.nBits; ++i) {
                zubBitmaskResetBit(&bm, i);
            }
            EXPECT_EQ(zubBitmaskFindFirstOne(&bm), -1);
            EXPECT_EQ(zubBitmaskFindNextOne(&bm, 0), c.nBits ? -1 : -22);
            EXPECT_EQ(zubBitmaskFindNextOne(&bm, c.nBits - 1), c.nBits ? -1 : -22);
        }
        EXPECT_TRUE(buffer.guardsIntact());
    }
}

TEST(Bitmask, CountAboveTheLimitIsRefusedWithItsMessageAndNoWrites)
{
    for (uint32_t n : {ZUB_BITMASK_MAX_BITS + 1, (1u << 30) + 1, 0xFFFFFFFFu}) {
        SCOPED_TRACE(n);
        EXPECT_EQ(zubBitmaskGetRequiredSize(n), 0u);
        DebugCapture capture(false);
        capture.enable(1, 1000);
        GuardedBuffer buffer(64, 0x5A);
        zubBitmask_t bm;
        std::memset(&bm, 0xEE, sizeof bm);
        EXPECT_EQ(zubBitmaskInitialize(&bm, n, reinterpret_cast<uint32_t *>(buffer.data())), -22);
        _zubBitmaskPropagateTables(&bm, n, reinterpret_cast<uint32_t *>(buffer.data()));
        const std::string message =
            "Test for \"(int)( (char *)currTable - (char *)tables ) != (int)( "
            "bitmask->nTableData * sizeof( uint32_t ) )\"was true: \"Wrong table "
            "maintenance data size.\"";
        EXPECT_EQ(capture.messages(), (std::vector<std::string>{message, message}));
        EXPECT_EQ(capture.site(0), (std::vector<uint32_t>{0x000103E8u, 0, 0}));
        EXPECT_TRUE(
            std::all_of(buffer.data(), buffer.data() + 64, [](uint8_t b) { return b == 0x5A; }));
        EXPECT_TRUE(bm.nBits == 0 && bm.nTables == 0 && bm.nTableData == 0 && bm.topBits == 0 &&
                    !bm.levelTables);
        EXPECT_EQ(zubBitmaskSetAll(&bm), 0);
        EXPECT_EQ(
            (std::vector<int32_t>{zubBitmaskFindFirstOne(&bm), zubBitmaskSetBit(&bm, 0),
                                  zubBitmaskFindNextOne(&bm, 0), zubBitmaskFindPrevOne(&bm, 0)}),
            (std::vector<int32_t>{-1, -1, -22, -22}));
    }
    DebugCapture quiet(false);
    zubBitmask_t bm;
    EXPECT_EQ(zubBitmaskInitialize(&bm, ZUB_BITMASK_MAX_BITS + 1, nullptr), -22);
    EXPECT_TRUE(quiet.messages().empty());
}

// Set, reset, get, set-all, reset-all and the searches against a plain bit
// vector, on masks of every level count and refused ones (the fuzz harness).
TEST(Bitmask, MatchesThePlainModel)
{
    EXPECT_GT(zubtest::replayHarness("bitmask", LLVMFuzzerTestOneInput, 200, 2000, 0xB17u), 0u);
}
