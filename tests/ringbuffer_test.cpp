#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "test_support.h"
#include "zub/ringbuffer.h"

// Null arguments are refused before anything is read or written; an empty
// ring moved to a small area is detached: nothing goes in, nothing comes out.
TEST(RingBuffer, RefusalsRoundingAndDetachedRings)
{
    uint8_t area[16];
    zubRingBuffer_t ring = {1, 2, 3, 4, nullptr};
    int32_t partCount = 0;
    EXPECT_EQ(zubRingBufferInit(&ring, area, 8) + zubRingBufferInit(&ring, nullptr, 16) +
                  zubRingBufferInit(nullptr, area, 16) + zubRingBufferEnqueue(&ring, nullptr, 1) +
                  zubRingBufferDequeueAllParts(&ring, nullptr, &partCount, 5) +
                  zubRingBufferDequeue(nullptr, area, 1) + zubRingBufferSetMemory(nullptr, area, 8),
              -7 * 22);
    EXPECT_TRUE(ring.writePos == 1 && ring.readPos == 2 && ring.available == 3 &&
                ring.capacity == 4);
    EXPECT_EQ(zubRingBufferGetUsedBytes(nullptr) + zubRingBufferGetAvailableBytes(nullptr), 0u);
    ASSERT_EQ(zubRingBufferInit(&ring, area, 15), 0);
    EXPECT_TRUE(ring.writePos == 0 && ring.readPos == 0 && ring.available == 8 &&
                ring.capacity == 8 && ring.data == area);
    EXPECT_EQ(zubRingBufferSetMemory(&ring, area, 7), 0);
    EXPECT_TRUE(ring.capacity == 0 && ring.available == 0 && ring.data == nullptr &&
                zubRingBufferEnqueue(&ring, "x", 1) == -28 &&
                zubRingBufferDequeue(&ring, area, 1) == 0);
}

// Bytes go in counting up, so the buffered ones are `used` bytes counting
// up from `oldest`: results, bytes taken out and the bytes in the ring are
// checked after every random operation. New areas are random windows of two
// guarded backings, so moves go both to separate and to overlapping areas.
TEST(RingBuffer, RandomOperationsKeepTheBytesInOrder)
{
    const uint32_t firstSeed = zubtest::testSeed(0x5EED0000u);
    for (uint32_t seed = firstSeed; seed < firstSeed + 150; ++seed) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        std::mt19937 rng(seed);
        auto pick = [&rng](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
        zubtest::GuardedBuffer backing[2] = {zubtest::GuardedBuffer(160),
                                             zubtest::GuardedBuffer(160)};
        zubRingBuffer_t ring;
        ASSERT_EQ(zubRingBufferInit(&ring, backing[0].data(), 9 + pick(60)), 0);
        uint8_t oldest = 0;
        uint32_t used = 0;
        uint8_t out[80];
        for (int step = 0; step < 400; ++step) {
            SCOPED_TRACE(step);
            const uint32_t op = pick(10), length = pick(op < 4 ? ring.capacity + 3 : used + 8);
            const uint32_t n = std::min(length, used);
            const zubRingBuffer_t before = ring;
            std::vector<uint8_t> got;
            if (op < 4) {
                const auto in = zubtest::seq(uint8_t(oldest + used), length + 1);
                const bool fits = length <= ring.capacity - used;
                ASSERT_EQ(zubRingBufferEnqueue(&ring, in.data(), length),
                          fits ? int32_t(length) : -28);
                used += fits ? length : 0;
            } else if (op < 7) {
                // Copies or drops; never resets the positions, even when it empties the ring.
                ASSERT_EQ(zubRingBufferDequeue(&ring, op == 4 ? nullptr : out, length), int32_t(n));
                ASSERT_TRUE(ring.readPos == (before.readPos + n) % ring.capacity &&
                            ring.writePos == before.writePos);
                got = op == 4 ? zubtest::seq(oldest, n) : std::vector<uint8_t>(out, out + n);
            } else if (op < 9) {
                // Handing out all it holds starts over at the front; with nothing to
                // hand out, neither the parts nor their count is written.
                zubScatterGatherEntry_t parts[2];
                int32_t count = 77;
                ASSERT_EQ(zubRingBufferDequeueAllParts(&ring, parts, &count, length), int32_t(n));
                ASSERT_TRUE(n ? used != n || (ring.readPos == 0 && ring.writePos == 0)
                              : count == 77);
                for (int32_t k = 0; k < (n ? count : 0); ++k) {
                    const auto *p = static_cast<const uint8_t *>(parts[k].data);
                    ASSERT_TRUE(p >= ring.data &&
                                p + parts[k].lengthAndKind <= ring.data + ring.capacity);
                    got.insert(got.end(), p, p + parts[k].lengthAndKind);
                }
            } else {
                const uint32_t size = pick(80), capacity = size < 8 ? 0 : (size & ~7u);
                ASSERT_EQ(zubRingBufferSetMemory(&ring, backing[pick(2)].data() + pick(80), size),
                          used <= capacity ? 0 : -28);
                if (ring.capacity == 0) {
                    ASSERT_EQ(zubRingBufferSetMemory(&ring, backing[0].data(), 16 + pick(60)), 0);
                }
            }
            if (op >= 4 && op < 9) {
                ASSERT_EQ(got, zubtest::seq(oldest, n));
                oldest = static_cast<uint8_t>(oldest + n);
                used -= n;
            }
            // The buffered bytes in order, read through the record's own fields.
            std::vector<uint8_t> inRing;
            for (uint32_t i = 0; i < ring.capacity - ring.available; ++i) {
                inRing.push_back(ring.data[(ring.readPos + i) % ring.capacity]);
            }
            ASSERT_TRUE(inRing == zubtest::seq(oldest, used) &&
                        zubRingBufferGetUsedBytes(&ring) == used && backing[0].guardsIntact() &&
                        backing[1].guardsIntact());
        }
    }
}
