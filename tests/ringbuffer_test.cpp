#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <random>

#include "test_support.h"
#include "zub/ringbuffer.h"

// Null arguments and areas of 8 bytes or less are refused before anything
// is written; the capacity is rounded down to a multiple of 8; an empty ring
// moved to a small area is detached: nothing goes in, nothing comes out.
TEST(RingBuffer, InitRefusalsDetachingAndRandomOperationsAgainstADeque)
{
    uint8_t area[16];
    zubRingBuffer_t ring = {1, 2, 3, 4, nullptr};
    // The whole record, field by field (it has no padding).
    auto is = [&ring](zubRingBuffer_t r) { return !std::memcmp(&ring, &r, sizeof r); };
    int32_t partCount = 0;
    EXPECT_TRUE(zubRingBufferInit(&ring, area, 8) == -22 &&
                zubRingBufferInit(&ring, nullptr, 16) == -22 &&
                zubRingBufferInit(nullptr, area, 16) == -22 &&
                zubRingBufferDequeueAllParts(&ring, nullptr, &partCount, 5) == -22 &&
                zubRingBufferEnqueue(&ring, nullptr, 1) == -22 &&
                zubRingBufferDequeue(nullptr, area, 1) == -22 &&
                zubRingBufferSetMemory(nullptr, area, 8) == -22 &&
                zubRingBufferGetUsedBytes(nullptr) == 0 && is({1, 2, 3, 4, nullptr}) &&
                zubRingBufferGetAvailableBytes(nullptr) == 0);
    EXPECT_TRUE(zubRingBufferInit(&ring, area, 15) == 0 && is({0, 0, 8, 8, area}) &&
                zubRingBufferSetMemory(&ring, area, 7) == 0 && is({0, 0, 0, 0, nullptr}) &&
                zubRingBufferEnqueue(&ring, "x", 1) == -28 &&
                zubRingBufferDequeue(&ring, area, 1) == 0);
    // Shadow model: a std::deque of the buffered bytes, compared after every
    // random operation. New areas are random windows of two guarded backings,
    // so moves go both to separate and to overlapping areas.
    const uint32_t firstSeed = zubtest::testSeed(0x5EED0000u);
    for (uint32_t seed = firstSeed; seed < firstSeed + 150; ++seed) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        std::mt19937 rng(seed);
        auto pick = [&rng](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
        zubtest::GuardedBuffer backing[2]{zubtest::GuardedBuffer{160}, zubtest::GuardedBuffer{160}};
        ASSERT_EQ(zubRingBufferInit(&ring, backing[0].data(), 9 + pick(60)), 0);
        std::deque<uint8_t> model;
        uint8_t next = 0, out[80];
        for (int step = 0; step < 400; ++step) {
            const auto used = static_cast<uint32_t>(model.size());
            const uint32_t op = pick(10), length = pick(op < 4 ? ring.capacity + 3 : used + 8);
            // What a dequeue hands out, and goes from the model.
            const uint32_t n = op >= 4 && op < 9 ? std::min(length, used) : 0;
            const zubRingBuffer_t before = ring;
            std::vector<uint8_t> got;
            if (op < 4) {
                // Never empty, so that data() is not null.
                const auto in = zubtest::seq(next, length + 1);
                const bool fits = length <= ring.capacity - used;
                ASSERT_EQ(zubRingBufferEnqueue(&ring, in.data(), length),
                          fits ? int32_t(length) : -28);
                model.insert(model.end(), in.begin(), in.begin() + (fits ? length : 0));
                next = static_cast<uint8_t>(next + (fits ? length : 0));
            } else if (op < 7) {
                // Copies or drops; never resets the positions, even when it empties the ring.
                ASSERT_EQ(zubRingBufferDequeue(&ring, op == 4 ? nullptr : out, length), int32_t(n));
                ASSERT_TRUE(ring.readPos == (before.readPos + n) % ring.capacity &&
                            ring.writePos == before.writePos);
                got = op == 4 ? std::vector<uint8_t>(model.begin(), model.begin() + n)
                              : std::vector<uint8_t>(out, out + n);
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
            ASSERT_EQ(got, std::vector<uint8_t>(model.begin(), model.begin() + n));
            model.erase(model.begin(), model.begin() + n);
            // The buffered bytes in order, read through the record's own fields.
            for (size_t i = 0; i < model.size(); ++i) {
                ASSERT_EQ(ring.data[(ring.readPos + i) % ring.capacity], model[i]);
            }
            ASSERT_TRUE(zubRingBufferGetUsedBytes(&ring) == model.size() &&
                        ring.capacity - ring.available == model.size() &&
                        backing[0].guardsIntact() && backing[1].guardsIntact());
        }
    }
}
