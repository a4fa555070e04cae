#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <random>
#include <vector>

#include "test_support.h"
#include "zub/bitmask.h"

using zubtest::DebugCapture;
using zubtest::GuardedBuffer;

namespace {

uint32_t words_at(uint32_t n, uint32_t k)
{
    return static_cast<uint32_t>((uint64_t{n} + (uint64_t{1} << (5 * (k + 1))) - 1) >>
                                 (5 * (k + 1)));
}

// A mask over exactly the required table memory, placed 4 bytes into its
// allocation so that 8-byte pointer slots are misaligned on 64-bit hosts
// and any read past the end hits the sanitizer.
struct Mask {
    explicit Mask(uint32_t n) : bytes(zubBitmaskGetRequiredSize(n)), mem(bytes / 4 + 1, 0xA5A5A5A5u)
    {
        EXPECT_EQ(zubBitmaskInitialize(&bm, n, memory()), 0);
    }
    uint32_t *memory() { return bytes != 0 ? mem.data() + 1 : nullptr; }
    uint32_t bytes;
    std::vector<uint32_t> mem;
    zubBitmask_t bm{};
};

int32_t model_next(const std::vector<bool> &model, uint32_t start)
{
    const auto it = std::find(model.begin() + start, model.end(), true);
    return it == model.end() ? -1 : static_cast<int32_t>(it - model.begin());
}

int32_t model_prev(const std::vector<bool> &model, uint32_t start)
{
    const auto it =
        std::find(std::make_reverse_iterator(model.begin() + start + 1), model.rend(), true);
    return it == model.rend() ? -1 : static_cast<int32_t>(model.rend() - it) - 1;
}

} // namespace

TEST(Bitmask, RequiredSizeAndLayoutAcrossLevelEdges)
{
    struct Case {
        uint32_t nBits, levels, words, armhfBytes;
    };
    const Case cases[] = {{0, 0, 0, 0},
                          {1, 0, 0, 0},
                          {32, 0, 0, 0},
                          {33, 1, 2, 12},
                          {64, 1, 2, 12},
                          {1024, 1, 32, 132},
                          {1025, 2, 35, 148},
                          {32768, 2, 1056, 4232},
                          {100000, 3, 3227, 12920},
                          {1048576, 3, 33824, 135308},
                          {520093664, 5, 16777215, 67108880}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.nBits);
        const uint32_t bytes = zubBitmaskGetRequiredSize(c.nBits);
        EXPECT_EQ(bytes, c.levels * sizeof(void *) + 4 * c.words);
        if (sizeof(void *) == 4) {
            EXPECT_EQ(bytes, c.armhfBytes);
        }
        GuardedBuffer buffer(bytes);
        std::memset(buffer.data(), 0x5A, bytes);
        zubBitmask_t bm;
        std::memset(&bm, 0xEE, sizeof bm);
        ASSERT_EQ(zubBitmaskInitialize(&bm, c.nBits,
                                       c.levels == 0 ? nullptr
                                                     : reinterpret_cast<uint32_t *>(buffer.data())),
                  0);
        EXPECT_EQ((std::vector<uint32_t>{bm.nBits, bm.nTables, bm.nTableData, bm.topBits}),
                  (std::vector<uint32_t>{c.nBits, c.levels, c.words, 0}));
        EXPECT_EQ(static_cast<void *>(bm.levelTables), c.levels == 0 ? nullptr : buffer.data());
        if (c.levels == 0) {
            continue;
        }
        uint32_t offset = c.levels * sizeof(void *);
        for (uint32_t k = 0; k < c.levels; offset += 4 * words_at(c.nBits, k++)) {
            void *slot;
            std::memcpy(&slot, buffer.data() + k * sizeof slot, sizeof slot);
            EXPECT_EQ(slot, buffer.data() + offset) << "slot " << k;
        }
        EXPECT_EQ(offset, bytes);
        EXPECT_EQ(std::count(buffer.data() + c.levels * sizeof(void *), buffer.data() + bytes, 0),
                  static_cast<long>(bytes - c.levels * sizeof(void *)));
        // Set-all fills whole words; nothing outside the table memory moves.
        EXPECT_EQ(zubBitmaskSetAll(&bm), 0);
        EXPECT_EQ(buffer.data()[bytes - 1], 0xFF);
        EXPECT_EQ(zubBitmaskFindPrevOne(&bm, c.nBits - 1), static_cast<int32_t>(c.nBits - 1));
        EXPECT_TRUE(buffer.guardsIntact());
    }
    EXPECT_EQ(zubBitmaskSetAll(nullptr), -1);
    EXPECT_EQ(zubBitmaskResetAll(nullptr), -1);
}

TEST(Bitmask, CountAboveTheLimitIsRefusedWithItsMessageAndNoWrites)
{
    for (uint32_t n : {ZUB_BITMASK_MAX_BITS + 1, (1u << 30) + 1, 0xFFFFFFFFu}) {
        SCOPED_TRACE(n);
        EXPECT_EQ(zubBitmaskGetRequiredSize(n), 0u);
        DebugCapture capture(false);
        capture.enable(1, 1000);
        GuardedBuffer buffer(64);
        std::memset(buffer.data(), 0x5A, 64);
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
        EXPECT_EQ(std::count(buffer.data(), buffer.data() + 64, 0x5A), 64);
        EXPECT_TRUE(buffer.guardsIntact());
        // Empty and unusable, and safe to poke at.
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

// Results of single-bit operations are checked by the model test; here the
// refusals, which must change nothing.
TEST(Bitmask, OutOfRangeAndNullRefusalsChangeNothing)
{
    Mask m(100);
    zubBitmaskSetBit(&m.bm, 40);
    const std::vector<uint32_t> before = m.mem;
    const uint32_t top = m.bm.topBits;
    EXPECT_EQ(
        (std::vector<int32_t>{zubBitmaskSetBit(&m.bm, 100), zubBitmaskResetBit(&m.bm, 100),
                              zubBitmaskGetBit(&m.bm, 100), zubBitmaskSetBit(nullptr, 0),
                              zubBitmaskResetBit(nullptr, 0), zubBitmaskGetBit(nullptr, 0),
                              zubBitmaskFindFirstOne(nullptr), zubBitmaskFindNextOne(&m.bm, 100),
                              zubBitmaskFindPrevOne(&m.bm, 100), zubBitmaskFindNextOne(nullptr, 0),
                              zubBitmaskFindPrevOne(nullptr, 0)}),
        (std::vector<int32_t>{-1, -1, -1, -1, -1, -1, -1, -22, -22, -22, -22}));
    EXPECT_EQ(m.mem, before);
    EXPECT_EQ(m.bm.topBits, top);
}

TEST(Bitmask, SearchesCrossEveryLevelAndStopAtTheLastWord)
{
    // Five levels: gaps spanning every level are crossed both ways.
    Mask huge(40000000);
    for (uint32_t i : {7u, 33554432u, 39999999u}) {
        zubBitmaskSetBit(&huge.bm, i);
    }
    EXPECT_EQ((std::vector<int32_t>{zubBitmaskFindNextOne(&huge.bm, 8),
                                    zubBitmaskFindNextOne(&huge.bm, 33554433),
                                    zubBitmaskFindPrevOne(&huge.bm, 33554431)}),
              (std::vector<int32_t>{33554432, 39999999, 7}));
    zubBitmaskResetBit(&huge.bm, 7);
    EXPECT_EQ(zubBitmaskFindFirstOne(&huge.bm), 33554432);

    // Falling off the last word of a full level must not read past its table.
    Mask full(1u << 20);
    zubBitmaskSetBit(&full.bm, 0);
    EXPECT_EQ(zubBitmaskFindNextOne(&full.bm, (1u << 20) - 1000), -1);
}

TEST(Bitmask, MatchesPlainModelUnderRandomOperations)
{
    const uint32_t seed = zubtest::testSeed(0xB17u);
    for (uint32_t n : {1u, 31u, 32u, 33u, 1024u, 1025u, 40000u, 2000000u}) {
        SCOPED_TRACE(testing::Message() << "nBits " << n << " seed " << seed);
        std::mt19937 rng(seed + n);
        Mask m(n);
        std::vector<bool> model(n);
        // Indices cluster at the ends and at word and level edges half of the time.
        auto pick = [&] {
            const uint32_t r = rng();
            const uint32_t edge = (r >> 8) % 3 == 0   ? n - 1 - (r >> 12) % (n < 64 ? n : 64)
                                  : (r >> 8) % 3 == 1 ? (r >> 12) % (n < 64 ? n : 64)
                                                      : (1u << ((r >> 12) % 21)) % n;
            return (r & 1) ? edge : static_cast<uint32_t>(rng() % n);
        };
        for (uint32_t batch = 0; batch < 30; ++batch) {
            for (uint32_t op = 0; op < 300; ++op) {
                const uint32_t i = pick();
                const uint32_t choice = rng() % 1000;
                const int32_t mask = model[i] ? static_cast<int32_t>(1u << (i % 32)) : 0;
                if (choice < 450) {
                    ASSERT_EQ(zubBitmaskSetBit(&m.bm, i), mask) << "set " << i;
                    model[i] = true;
                } else if (choice < 800) {
                    ASSERT_EQ(zubBitmaskResetBit(&m.bm, i), mask) << "reset " << i;
                    model[i] = false;
                } else if (choice < 850) {
                    ASSERT_EQ(zubBitmaskGetBit(&m.bm, i), mask) << "get " << i;
                } else if (choice < 900) {
                    ASSERT_EQ(zubBitmaskFindFirstOne(&m.bm), model_next(model, 0));
                } else if (choice < 948) {
                    ASSERT_EQ(zubBitmaskFindNextOne(&m.bm, i), model_next(model, i))
                        << "next " << i;
                } else if (choice < 996) {
                    ASSERT_EQ(zubBitmaskFindPrevOne(&m.bm, i), model_prev(model, i))
                        << "prev " << i;
                } else {
                    const bool ones = choice < 998;
                    ASSERT_EQ(ones ? zubBitmaskSetAll(&m.bm) : zubBitmaskResetAll(&m.bm), 0);
                    model.assign(n, ones);
                }
            }
        }
    }
}
