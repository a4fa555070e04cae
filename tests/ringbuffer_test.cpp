#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <random>
#include <vector>

#include "test_support.h"
#include "zub/ringbuffer.h"

using zubtest::GuardedBuffer;

namespace {

std::vector<uint8_t> counting(uint8_t first, size_t n)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        v[i] = static_cast<uint8_t>(first + i);
    }
    return v;
}

// The buffered bytes in order, read through the record's own fields.
std::vector<uint8_t> contents(const zubRingBuffer_t &ring)
{
    std::vector<uint8_t> out;
    const uint32_t used = ring.capacity - ring.available;
    for (uint32_t i = 0; i < used; ++i) {
        out.push_back(ring.data[(ring.readPos + i) % ring.capacity]);
    }
    return out;
}

bool same_record(const zubRingBuffer_t &a, const zubRingBuffer_t &b)
{
    return a.writePos == b.writePos && a.readPos == b.readPos && a.available == b.available &&
           a.capacity == b.capacity && a.data == b.data;
}

} // namespace

TEST(RingBuffer, InitRoundsCapacityDownToEightsAndRefusesEightOrLess)
{
    uint8_t area[32];
    zubRingBuffer_t ring;
    std::memset(&ring, 0x5A, sizeof ring);
    const zubRingBuffer_t untouched = ring;
    EXPECT_EQ(zubRingBufferInit(&ring, area, 8), -22);
    EXPECT_EQ(zubRingBufferInit(&ring, nullptr, 16), -22);
    EXPECT_EQ(zubRingBufferInit(nullptr, area, 16), -22);
    EXPECT_TRUE(same_record(ring, untouched));

    ASSERT_EQ(zubRingBufferInit(&ring, area, 15), 0);
    EXPECT_EQ(ring.capacity, 8u);
    EXPECT_EQ(ring.available, 8u);
    EXPECT_EQ(ring.writePos, 0u);
    EXPECT_EQ(ring.readPos, 0u);
    EXPECT_EQ(ring.data, area);
    ASSERT_EQ(zubRingBufferInit(&ring, area, 16), 0);
    EXPECT_EQ(ring.capacity, 16u);
    ASSERT_EQ(zubRingBufferInit(&ring, area, 9), 0);
    EXPECT_EQ(ring.capacity, 8u);
    zubRingBufferRelease(&ring);
    zubRingBufferRelease(nullptr);
}

TEST(RingBuffer, EnqueueWrapsAtCapacityAndHandOutResetsPositions)
{
    GuardedBuffer area(16);
    zubRingBuffer_t ring;
    ASSERT_EQ(zubRingBufferInit(&ring, area.data(), 16), 0);
    std::memset(area.data(), 0, 16);

    const auto first = counting(0x10, 10);
    ASSERT_EQ(zubRingBufferEnqueue(&ring, first.data(), 10), 10);
    uint8_t out[16];
    ASSERT_EQ(zubRingBufferDequeue(&ring, out, 6), 6);
    EXPECT_EQ(std::memcmp(out, first.data(), 6), 0);

    const auto second = counting(0x80, 12);
    ASSERT_EQ(zubRingBufferEnqueue(&ring, second.data(), 12), 12);
    // 6 bytes at the end of the area, 6 at its start; the ring is full.
    EXPECT_EQ(zubtest::hex(area.data(), 16), "86 87 88 89 8a 8b 16 17 18 19 80 81 82 83 84 85");
    EXPECT_EQ(ring.writePos, 6u);
    EXPECT_EQ(ring.readPos, 6u);
    EXPECT_EQ(zubRingBufferGetUsedBytes(&ring), 16u);
    EXPECT_EQ(zubRingBufferGetAvailableBytes(&ring), 0u);

    const zubRingBuffer_t full = ring;
    EXPECT_EQ(zubRingBufferEnqueue(&ring, first.data(), 1), -28);
    EXPECT_TRUE(same_record(ring, full));

    zubScatterGatherEntry_t parts[2];
    int32_t partCount = 0;
    ASSERT_EQ(zubRingBufferDequeueAllParts(&ring, parts, &partCount, 1000), 16);
    ASSERT_EQ(partCount, 2);
    EXPECT_EQ(parts[0].data, area.data() + 6);
    EXPECT_EQ(parts[0].lengthAndKind, 10u);
    EXPECT_EQ(parts[1].data, area.data());
    EXPECT_EQ(parts[1].lengthAndKind, 6u);
    EXPECT_EQ(ring.writePos, 0u);
    EXPECT_EQ(ring.readPos, 0u);
    EXPECT_EQ(zubRingBufferGetAvailableBytes(&ring), 16u);
    EXPECT_TRUE(area.guardsIntact());
}

TEST(RingBuffer, EnqueueIsAllOrNothing)
{
    uint8_t area[24];
    zubRingBuffer_t ring;
    ASSERT_EQ(zubRingBufferInit(&ring, area, sizeof area), 0);
    const auto bytes = counting(1, 32);
    zubRingBuffer_t before = ring;
    EXPECT_EQ(zubRingBufferEnqueue(&ring, bytes.data(), 25), -28); // above the capacity, ring empty
    EXPECT_EQ(zubRingBufferEnqueue(&ring, bytes.data(), 0), 0);
    EXPECT_EQ(zubRingBufferEnqueue(&ring, nullptr, 4), -22);
    EXPECT_EQ(zubRingBufferEnqueue(nullptr, bytes.data(), 4), -22);
    EXPECT_TRUE(same_record(ring, before));

    ASSERT_EQ(zubRingBufferEnqueue(&ring, bytes.data(), 20), 20);
    before = ring;
    EXPECT_EQ(zubRingBufferEnqueue(&ring, bytes.data(), 5), -28); // 4 free
    EXPECT_TRUE(same_record(ring, before));
    EXPECT_EQ(zubRingBufferEnqueue(&ring, bytes.data(), 4), 4);
    EXPECT_EQ(ring.writePos, 0u); // ending exactly at the end of the area wraps
}

TEST(RingBuffer, DequeueCopiesOrDropsAndKeepsPositionsWhenEmptied)
{
    uint8_t area[16];
    zubRingBuffer_t ring;
    ASSERT_EQ(zubRingBufferInit(&ring, area, sizeof area), 0);
    const auto bytes = counting(0x40, 12);
    ASSERT_EQ(zubRingBufferEnqueue(&ring, bytes.data(), 12), 12);

    EXPECT_EQ(zubRingBufferDequeue(&ring, nullptr, 3), 3); // dropped
    uint8_t out[20];
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(zubRingBufferDequeue(&ring, out, 0), 0);
    EXPECT_EQ(zubRingBufferDequeue(&ring, out, 20), 9);
    EXPECT_EQ(zubtest::hex(out, 10), "43 44 45 46 47 48 49 4a 4b ee");
    EXPECT_EQ(ring.readPos, 12u);
    EXPECT_EQ(ring.writePos, 12u);
    EXPECT_EQ(zubRingBufferDequeue(&ring, out, 20), 0);
    EXPECT_EQ(zubRingBufferDequeue(nullptr, out, 1), -22);
    EXPECT_EQ(zubRingBufferGetUsedBytes(nullptr), 0u);
    EXPECT_EQ(zubRingBufferGetAvailableBytes(nullptr), 0u);

    // A wrapped dequeue joins both pieces in order.
    ASSERT_EQ(zubRingBufferEnqueue(&ring, bytes.data(), 8), 8);
    EXPECT_EQ(zubRingBufferDequeue(&ring, out, 8), 8);
    EXPECT_EQ(std::memcmp(out, bytes.data(), 8), 0);
    EXPECT_EQ(ring.readPos, 4u);
}

TEST(RingBuffer, HandOutRespectsMaximumAndLeavesArgumentsAloneWhenNothingToGive)
{
    uint8_t area[16];
    zubRingBuffer_t ring;
    ASSERT_EQ(zubRingBufferInit(&ring, area, sizeof area), 0);
    zubScatterGatherEntry_t parts[2] = {{&ring, 0x12345678u}, {&ring, 0x12345678u}};
    int32_t partCount = 77;
    EXPECT_EQ(zubRingBufferDequeueAllParts(&ring, parts, &partCount, 100), 0);
    EXPECT_EQ(partCount, 77);
    EXPECT_EQ(parts[0].lengthAndKind, 0x12345678u);
    EXPECT_EQ(zubRingBufferDequeueAllParts(nullptr, parts, &partCount, 1), -22);
    EXPECT_EQ(zubRingBufferDequeueAllParts(&ring, nullptr, &partCount, 1), -22);
    EXPECT_EQ(zubRingBufferDequeueAllParts(&ring, parts, nullptr, 1), -22);

    const auto bytes = counting(0, 16);
    ASSERT_EQ(zubRingBufferEnqueue(&ring, bytes.data(), 12), 12);
    EXPECT_EQ(zubRingBufferDequeueAllParts(&ring, parts, &partCount, 0), 0);
    EXPECT_EQ(zubRingBufferDequeueAllParts(&ring, parts, &partCount, 5), 5);
    EXPECT_EQ(partCount, 1);
    EXPECT_EQ(parts[0].data, area);
    EXPECT_EQ(parts[0].lengthAndKind, 5u);
    EXPECT_EQ(ring.readPos, 5u); // not empty yet: positions stay
    EXPECT_EQ(ring.writePos, 12u);
    EXPECT_EQ(zubRingBufferDequeueAllParts(&ring, parts, &partCount, 100), 7);
    EXPECT_EQ(partCount, 1);
    EXPECT_EQ(parts[0].data, area + 5);
    EXPECT_EQ(ring.readPos, 0u);
    EXPECT_EQ(ring.writePos, 0u);
}

TEST(RingBuffer, SetMemoryMovesContentsInOrderOrRefuses)
{
    GuardedBuffer first(16);
    GuardedBuffer larger(40);
    zubRingBuffer_t ring;
    ASSERT_EQ(zubRingBufferInit(&ring, first.data(), 16), 0);
    const auto bytes = counting(0x20, 16);
    ASSERT_EQ(zubRingBufferEnqueue(&ring, bytes.data(), 12), 12);
    ASSERT_EQ(zubRingBufferDequeue(&ring, nullptr, 8), 8);
    ASSERT_EQ(zubRingBufferEnqueue(&ring, bytes.data(), 10), 10); // wraps: 4 old + 10 new
    const auto expected = contents(ring);

    std::memset(larger.data(), 0, 40);
    ASSERT_EQ(zubRingBufferSetMemory(&ring, larger.data(), 45 - 5), 0);
    EXPECT_EQ(ring.data, larger.data());
    EXPECT_EQ(ring.capacity, 40u);
    EXPECT_EQ(ring.available, 26u);
    EXPECT_EQ(ring.readPos, 0u);
    EXPECT_EQ(ring.writePos, 14u);
    EXPECT_EQ(zubtest::hex(larger.data(), 15), "28 29 2a 2b 20 21 22 23 24 25 26 27 28 29 00");
    EXPECT_EQ(contents(ring), expected);

    // Holding 14 bytes, an 8-byte area is too small: nothing changes.
    GuardedBuffer small(8);
    const zubRingBuffer_t before = ring;
    EXPECT_EQ(zubRingBufferSetMemory(&ring, small.data(), 15), -28);
    EXPECT_TRUE(same_record(ring, before));
    EXPECT_EQ(zubRingBufferSetMemory(&ring, nullptr, 100), -28);
    EXPECT_EQ(zubRingBufferSetMemory(nullptr, small.data(), 8), -22);
    EXPECT_TRUE(same_record(ring, before));
    EXPECT_TRUE(first.guardsIntact() && larger.guardsIntact() && small.guardsIntact());
}

TEST(RingBuffer, SmallOrNullAreaDetachesAnEmptyRing)
{
    uint8_t area[16];
    uint8_t other[16];
    zubRingBuffer_t ring;
    ASSERT_EQ(zubRingBufferInit(&ring, area, sizeof area), 0);
    ASSERT_EQ(zubRingBufferEnqueue(&ring, "abc", 3), 3);
    ASSERT_EQ(zubRingBufferDequeue(&ring, nullptr, 3), 3);
    ASSERT_EQ(zubRingBufferSetMemory(&ring, other, 7), 0);
    EXPECT_EQ(ring.capacity, 0u);
    EXPECT_EQ(ring.data, nullptr);
    EXPECT_EQ(ring.writePos, 0u);
    EXPECT_EQ(zubRingBufferEnqueue(&ring, "x", 1), -28);
    EXPECT_EQ(zubRingBufferDequeue(&ring, other, 1), 0);

    // A zero-filled record is detached too; an area of 8 bytes attaches.
    zubRingBuffer_t zeroed;
    std::memset(&zeroed, 0, sizeof zeroed);
    EXPECT_EQ(zubRingBufferEnqueue(&zeroed, "x", 1), -28);
    ASSERT_EQ(zubRingBufferSetMemory(&zeroed, other, 8), 0);
    EXPECT_EQ(zeroed.capacity, 8u);
    EXPECT_EQ(zubRingBufferEnqueue(&zeroed, "12345678", 8), 8);
    EXPECT_EQ(zeroed.writePos, 0u);
}

// Moving onto an area that overlaps the old one: the same area, the same
// start grown or shrunk, and windows shifted either way, with the contents
// wrapped and not wrapped. Everything stays inside one guarded backing.
TEST(RingBuffer, SetMemoryOntoOverlappingAreaKeepsOrder)
{
    const uint32_t oldOffsets[] = {0, 8, 24};
    const uint32_t newOffsets[] = {0, 3, 8, 16, 24, 31};
    const uint32_t newSizes[] = {16, 24, 40};
    for (uint32_t oldOffset : oldOffsets) {
        for (uint32_t newOffset : newOffsets) {
            for (uint32_t newSize : newSizes) {
                for (uint32_t readPos = 0; readPos < 24; readPos += 5) {
                    SCOPED_TRACE(testing::Message() << "old at " << oldOffset << ", new at " << newOffset
                                                    << " size " << newSize << ", read from " << readPos);
                    GuardedBuffer backing(72);
                    for (size_t i = 0; i < 72; ++i) {
                        backing.data()[i] = static_cast<uint8_t>(0xC0 + i);
                    }
                    zubRingBuffer_t ring;
                    ASSERT_EQ(zubRingBufferInit(&ring, backing.data() + oldOffset, 24), 0);
                    const auto fill = counting(0x01, 24);
                    ASSERT_EQ(zubRingBufferEnqueue(&ring, fill.data(), readPos), static_cast<int32_t>(readPos));
                    ASSERT_EQ(zubRingBufferDequeue(&ring, nullptr, readPos), static_cast<int32_t>(readPos));
                    ASSERT_EQ(zubRingBufferEnqueue(&ring, fill.data(), 15), 15);
                    ASSERT_EQ(zubRingBufferSetMemory(&ring, backing.data() + newOffset, newSize), 0);
                    EXPECT_EQ(contents(ring), counting(0x01, 15));
                    EXPECT_EQ(ring.readPos, 0u);
                    EXPECT_EQ(ring.writePos, 15u);
                    EXPECT_EQ(ring.capacity, newSize);
                    EXPECT_TRUE(backing.guardsIntact());
                }
            }
        }
    }
}

// Shadow model: a std::deque of the buffered bytes, compared after every
// random operation. Areas come from two guarded backings, so moves go to
// overlapping and to separate areas.
TEST(RingBuffer, RandomOperationsMatchADeque)
{
#if defined(__arm__)
    const int rounds = 40, steps = 400;
#else
    const int rounds = 100, steps = 1000;
#endif
    for (int round = 0; round < rounds; ++round) {
        const unsigned seed = 0x5EED0000u + static_cast<unsigned>(round);
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        std::mt19937 rng(seed);
        auto pick = [&rng](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
        GuardedBuffer backing[2] = {GuardedBuffer(160), GuardedBuffer(160)};
        std::deque<uint8_t> model;
        zubRingBuffer_t ring;
        ASSERT_EQ(zubRingBufferInit(&ring, backing[0].data(), 9 + pick(60)), 0);
        uint8_t next = 0;
        uint8_t in[200];
        uint8_t out[200];
        for (int step = 0; step < steps; ++step) {
            const uint32_t used = static_cast<uint32_t>(model.size());
            const uint32_t op = pick(10);
            if (op < 4) {
                const uint32_t length = pick(ring.capacity + 3);
                for (uint32_t i = 0; i < length; ++i) {
                    in[i] = static_cast<uint8_t>(next + i);
                }
                const int32_t result = zubRingBufferEnqueue(&ring, in, length);
                if (length <= ring.capacity - used) {
                    ASSERT_EQ(result, static_cast<int32_t>(length)) << "step " << step;
                    model.insert(model.end(), in, in + length);
                    next = static_cast<uint8_t>(next + length);
                } else {
                    ASSERT_EQ(result, -28) << "step " << step;
                }
            } else if (op < 7) {
                const uint32_t length = pick(used + 8);
                const bool drop = pick(4) == 0;
                const uint32_t n = std::min(length, used);
                ASSERT_EQ(zubRingBufferDequeue(&ring, drop ? nullptr : out, length), static_cast<int32_t>(n));
                for (uint32_t i = 0; i < n; ++i) {
                    if (!drop) {
                        ASSERT_EQ(out[i], model.front()) << "step " << step << " byte " << i;
                    }
                    model.pop_front();
                }
            } else if (op < 9) {
                zubScatterGatherEntry_t parts[2];
                int32_t partCount = 0;
                const uint32_t n = std::min(pick(used + 8), used);
                ASSERT_EQ(zubRingBufferDequeueAllParts(&ring, parts, &partCount, n), static_cast<int32_t>(n));
                if (n != 0) {
                    ASSERT_TRUE(partCount == 1 || partCount == 2);
                    std::vector<uint8_t> got;
                    for (int32_t k = 0; k < partCount; ++k) {
                        const auto *p = static_cast<const uint8_t *>(parts[k].data);
                        ASSERT_GE(p, ring.data);
                        ASSERT_LE(p + ZUB_SG_LENGTH(parts[k]), ring.data + ring.capacity);
                        got.insert(got.end(), p, p + ZUB_SG_LENGTH(parts[k]));
                    }
                    ASSERT_EQ(got, std::vector<uint8_t>(model.begin(), model.begin() + n)) << "step " << step;
                    model.erase(model.begin(), model.begin() + n);
                    if (model.empty()) {
                        ASSERT_EQ(ring.readPos, 0u);
                        ASSERT_EQ(ring.writePos, 0u);
                    }
                }
            } else {
                GuardedBuffer &target = backing[pick(2)];
                const uint32_t offset = pick(80);
                const uint32_t size = pick(80);
                const int32_t result = zubRingBufferSetMemory(&ring, target.data() + offset, size);
                const uint32_t capacity = size < 8 ? 0 : (size & ~7u);
                if (used <= capacity) {
                    ASSERT_EQ(result, 0) << "step " << step;
                    ASSERT_EQ(ring.capacity, capacity);
                    ASSERT_EQ(ring.readPos, 0u);
                } else {
                    ASSERT_EQ(result, -28) << "step " << step;
                }
                if (ring.capacity == 0) {
                    // Never stay detached for long.
                    ASSERT_EQ(zubRingBufferSetMemory(&ring, backing[0].data(), 16 + pick(60)), 0);
                }
            }
            ASSERT_EQ(zubRingBufferGetUsedBytes(&ring), model.size()) << "step " << step;
            ASSERT_EQ(zubRingBufferGetAvailableBytes(&ring), ring.capacity - model.size());
            ASSERT_EQ(contents(ring), std::vector<uint8_t>(model.begin(), model.end())) << "step " << step;
            ASSERT_TRUE(backing[0].guardsIntact() && backing[1].guardsIntact()) << "step " << step;
        }
    }
}
