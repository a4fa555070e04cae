#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <random>

#include "test_support.h"
#include "zub/ringbuffer.h"

namespace {
bool same(const zubRingBuffer_t &a, const zubRingBuffer_t &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}
} // namespace

TEST(RingBuffer, InitRoundsCapacityDownRefusesEightOrLessAndSmallAreasDetach)
{
    uint8_t area[16];
    zubRingBuffer_t ring = {1, 2, 3, 4, nullptr};
    const zubRingBuffer_t untouched = ring;
    EXPECT_EQ(zubRingBufferInit(&ring, area, 8) + zubRingBufferInit(&ring, nullptr, 16) +
                  zubRingBufferInit(nullptr, area, 16),
              -66);
    EXPECT_TRUE(same(ring, untouched));
    ASSERT_EQ(zubRingBufferInit(&ring, area, 15), 0);
    EXPECT_TRUE(same(ring, zubRingBuffer_t{0, 0, 8, 8, area}));
    EXPECT_TRUE(zubRingBufferInit(&ring, area, 16) == 0 && ring.capacity == 16);
    zubScatterGatherEntry_t parts[2];
    int32_t partCount = 77; // nothing to hand out: neither parts nor the count is written
    EXPECT_TRUE(zubRingBufferDequeueAllParts(&ring, parts, &partCount, 5) == 0 && partCount == 77);
    EXPECT_EQ(zubRingBufferDequeueAllParts(&ring, nullptr, &partCount, 5) +
                  zubRingBufferEnqueue(&ring, nullptr, 1) + zubRingBufferDequeue(nullptr, area, 1) +
                  zubRingBufferSetMemory(nullptr, area, 8),
              -88);
    EXPECT_EQ(zubRingBufferGetUsedBytes(nullptr) + zubRingBufferGetAvailableBytes(nullptr), 0u);
    // An empty ring moved to a small area is detached: nothing goes in, nothing comes out.
    ASSERT_EQ(zubRingBufferSetMemory(&ring, area, 7), 0);
    EXPECT_TRUE(same(ring, zubRingBuffer_t{0, 0, 0, 0, nullptr}));
    EXPECT_TRUE(zubRingBufferEnqueue(&ring, "x", 1) == -28 &&
                zubRingBufferDequeue(&ring, area, 1) == 0);
}

// Shadow model: a std::deque of the buffered bytes, compared after every
// random operation. New areas are random windows of two guarded backings,
// so moves go both to separate and to overlapping areas.
TEST(RingBuffer, RandomOperationsMatchADeque)
{
    const uint32_t firstSeed = zubtest::testSeed(0x5EED0000u);
    for (uint32_t seed = firstSeed; seed < firstSeed + 150; ++seed) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        std::mt19937 rng(seed);
        auto pick = [&rng](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
        zubtest::GuardedBuffer backing[2] = {zubtest::GuardedBuffer(160),
                                             zubtest::GuardedBuffer(160)};
        std::deque<uint8_t> model;
        zubRingBuffer_t ring;
        ASSERT_EQ(zubRingBufferInit(&ring, backing[0].data(), 9 + pick(60)), 0);
        uint8_t next = 0;
        std::vector<uint8_t> out(200), got;
        for (int step = 0; step < 400; ++step) {
            SCOPED_TRACE(step);
            const auto used = static_cast<uint32_t>(model.size());
            const uint32_t op = pick(10), length = pick(op < 4 ? ring.capacity + 3 : used + 8);
            const uint32_t n = std::min(length, used);
            got.clear();
            if (op < 4) {
                const auto in = zubtest::seq(next, length + 1); // never empty: data() is not null
                const bool fits = length <= ring.capacity - used;
                ASSERT_EQ(zubRingBufferEnqueue(&ring, in.data(), length),
                          fits ? int32_t(length) : -28);
                model.insert(model.end(), in.begin(), in.begin() + (fits ? length : 0));
                next = static_cast<uint8_t>(next + (fits ? length : 0));
            } else if (op < 7) {
                // Copies or drops; never resets the positions, even when it empties the ring.
                const zubRingBuffer_t before = ring;
                const bool drop = pick(4) == 0;
                ASSERT_EQ(zubRingBufferDequeue(&ring, drop ? nullptr : out.data(), length),
                          int32_t(n));
                ASSERT_TRUE(ring.readPos == (before.readPos + n) % ring.capacity &&
                            ring.writePos == before.writePos);
                got = drop ? std::vector<uint8_t>(model.begin(), model.begin() + n)
                           : std::vector<uint8_t>(out.begin(), out.begin() + n);
            } else if (op < 9) {
                zubScatterGatherEntry_t parts[2];
                int32_t count = 0;
                ASSERT_EQ(zubRingBufferDequeueAllParts(&ring, parts, &count, length), int32_t(n));
                for (int32_t k = 0; k < (n ? count : 0); ++k) {
                    const auto *p = static_cast<const uint8_t *>(parts[k].data);
                    ASSERT_TRUE(p >= ring.data &&
                                p + parts[k].lengthAndKind <= ring.data + ring.capacity);
                    got.insert(got.end(), p, p + parts[k].lengthAndKind);
                }
                ASSERT_TRUE(n == 0 || used != n || (ring.readPos == 0 && ring.writePos == 0));
            } else {
                const uint32_t size = pick(80), capacity = size < 8 ? 0 : (size & ~7u);
                ASSERT_EQ(zubRingBufferSetMemory(&ring, backing[pick(2)].data() + pick(80), size),
                          used <= capacity ? 0 : -28);
                if (ring.capacity == 0) {
                    ASSERT_EQ(zubRingBufferSetMemory(&ring, backing[0].data(), 16 + pick(60)), 0);
                }
            }
            if (op >= 4 && op < 9) {
                ASSERT_EQ(got, std::vector<uint8_t>(model.begin(), model.begin() + n));
                model.erase(model.begin(), model.begin() + n);
            }
            // The buffered bytes in order, read through the record's own fields.
            std::vector<uint8_t> inRing;
            for (uint32_t i = 0; i < ring.capacity - ring.available; ++i) {
                inRing.push_back(ring.data[(ring.readPos + i) % ring.capacity]);
            }
            ASSERT_EQ(inRing, std::vector<uint8_t>(model.begin(), model.end()));
            ASSERT_EQ(zubRingBufferGetUsedBytes(&ring), model.size());
            ASSERT_TRUE(backing[0].guardsIntact() && backing[1].guardsIntact());
        }
    }
}
