#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "test_support.h"
#include "zub/vector.h"

using zubtest::CountingAllocator;

TEST(Vector, OversizedOrFailedBuffersLeaveAUsableVector)
{
    CountingAllocator allocator;
    allocator.failAbove = 4096;
    zubVector_t v;
    zubVectorParams_t params{allocator.record(), 0x20000000u, 0, 0};
    EXPECT_EQ(zubVectorInitialize(&v, &params, 8), ZUB_ENOMEM); // 2^32 bytes: not asked for
    EXPECT_TRUE(allocator.sizes().empty());
    EXPECT_EQ(zubVectorInitialize(&v, &params, 7), ZUB_ENOMEM); // fits: asked for in full
    EXPECT_TRUE(allocator.sizes() == std::vector<size_t>{7u * 0x20000000u} && v.data == nullptr);
    std::vector<uint8_t> element(16);
    EXPECT_EQ(zubVectorInsert(&v, -1, element.data()), ZUB_ENOMEM); // 10 slots: not asked for
    EXPECT_EQ(allocator.sizes().size(), 1u);
    params.elementSize = 16;
    EXPECT_EQ(zubVectorInitialize(&v, &params, 1000), ZUB_ENOMEM);
    EXPECT_EQ(zubVectorInsert(&v, -1, element.data()), 0); // the first insert allocates
    EXPECT_EQ(zubVectorGetSize(&v), 1);
    EXPECT_TRUE(zubVectorRelease(&v) == 0 && allocator.liveBlocks() == 0);
    EXPECT_EQ(zubVectorGetSize(nullptr), ZUB_EINVAL);
    EXPECT_EQ(zubVectorMerge(&v, &v), ZUB_ENOSYS);
}

namespace {

// The documented steps, one element at a time, every slot by modulo.
struct Reference {
    uint32_t es = 0, alloced = 0;
    uint64_t head = 0;
    int32_t count = 0;
    bool hasBuffer = false, failNext = false;
    std::vector<uint8_t> buffer;

    uint8_t *slot(uint64_t s) { return buffer.data() + (s % alloced) * es; }
    bool allocate(uint32_t slots)
    {
        if (failNext || static_cast<uint64_t>(slots) * es > 0xFFFFFFFFu) {
            return false;
        }
        buffer.assign(static_cast<size_t>(slots) * es, 0xA5);
        hasBuffer = true;
        alloced = slots;
        return true;
    }
    int32_t releaseData()
    {
        if (hasBuffer) {
            *this = Reference{es, 0, head, 0, false, failNext, {}};
        }
        return 0;
    }
    int32_t setAlloced(int32_t wanted)
    {
        if (!hasBuffer && wanted <= 0) {
            return 0;
        }
        if (hasBuffer && wanted < 0) {
            if (count == 0) {
                return releaseData();
            }
            wanted = count;
        }
        const uint32_t target = static_cast<uint32_t>(std::max(wanted, count));
        if (alloced == target) {
            return static_cast<int32_t>(target);
        }
        std::vector<uint8_t> old(buffer);
        const uint32_t oldAlloced = alloced;
        if (!allocate(target)) {
            return -12;
        }
        for (int32_t p = count - 1; p >= 0; p--) {
            std::memcpy(slot(p), old.data() + ((head + p) % oldAlloced) * es, es);
        }
        head = count > 0 ? 0 : head;
        return static_cast<int32_t>(target);
    }
    int32_t insert(int32_t position, const uint8_t *element)
    {
        if (count < position || position < -1) {
            return -22;
        }
        if (static_cast<uint32_t>(count) >= alloced && setAlloced(3 * count / 2 + 10) < 0) {
            return -12;
        }
        const int32_t n = count++;
        if (position == -1) {
            position = n;
        } else if (position < n / 2) {
            for (int32_t j = 0; j < position; j++) {
                std::memcpy(slot(head + j + alloced - 1), slot(head + j), es);
            }
            head = (head + alloced - 1) % alloced;
        } else {
            for (int32_t j = n - 1; j >= position; j--) {
                std::memcpy(slot(head + j + 1), slot(head + j), es);
            }
        }
        std::memcpy(slot(head + position), element, es);
        return 0;
    }
    int32_t remove(uint8_t *element)
    {
        if (count == 0) {
            return -2;
        }
        std::memcpy(element, slot(head), es);
        std::memset(slot(head), 0x77, es);
        head = --count != 0 ? (head + 1) % alloced : head;
        return 0;
    }
};

} // namespace

// Random inserts anywhere, removals, gets, resizes, clears, releases and
// re-initialisations, with random allocation failures, on element sizes
// that take every copy path: results, the whole record and the buffer byte
// for byte against the reference.
TEST(Vector, RandomOperationsMatchTheReference)
{
    zubtest::DebugCapture capture(true); // no operation writes a message
    const uint32_t seed = zubtest::testSeed(0x5EC70u);
    for (uint32_t es : {1u, 2u, 3u, 4u, 6u, 8u, 12u, 16u, 24u, 32u, 40u}) {
        std::mt19937 rng(seed + es);
        CountingAllocator allocator;
        zubVectorParams_t params{allocator.record(), es, 0x1111, 0x2222};
        zubVector_t v;
        Reference ref{es, 0, 0, 0, false, false, {}};
        ASSERT_EQ(zubVectorInitialize(&v, &params, -1), 0);
        ASSERT_TRUE(v.extra0 == 0x1111 && v.extra1 == 0x2222);
        std::vector<uint8_t> element(es), out(es), expected(es);
        for (int op = 0; op < 25000; op++) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << " size " << es << " op " << op);
            ref.failNext = rng() % 50 == 0;
            allocator.failAfter = ref.failNext ? 0 : -1;
            const unsigned kind = rng() % 100;
            int32_t got = 0, want = 0;
            if (kind < 40) {
                for (uint32_t k = 0; k < es; k++) {
                    element[k] = static_cast<uint8_t>(op * 31 + k * 7);
                }
                // Positions below -1 are refused with -22, down to INT32_MIN.
                const int32_t position = rng() % 3 == 0 ? -1
                                         : rng() % 25 == 0
                                             ? (rng() % 2 == 0 ? -2 : INT32_MIN)
                                             : static_cast<int32_t>(rng() % (v.count + 2));
                got = zubVectorInsert(&v, position, element.data());
                want = ref.insert(position, element.data());
            } else if (kind < 75) {
                const int32_t position = rng() % 30 == 0 ? 0 : -1;
                // Now and then without a destination: the slot is still filled.
                const bool discard = rng() % 4 == 0;
                got = zubVectorRemove(&v, discard ? nullptr : out.data(), position);
                want = position == -1 ? ref.remove(expected.data()) : ref.count == 0 ? -2 : -22;
                if (want == 0 && !discard) {
                    ASSERT_EQ(out, expected);
                }
            } else if (kind < 90) {
                const int32_t position = static_cast<int32_t>(rng() % (v.count + 2)) - 1;
                got = zubVectorGetAt(&v, out.data(), position);
                want = position >= 0 && position < ref.count ? 0 : -2;
                if (want == 0) {
                    ASSERT_EQ(std::memcmp(out.data(), ref.slot(ref.head + position), es), 0);
                }
            } else if (kind < 96) {
                const int32_t wanted = static_cast<int32_t>(rng() % 80) - 10;
                got = zubVectorSetAlloced(&v, wanted);
                want = ref.setAlloced(wanted);
            } else if (kind < 98) {
                got = zubVectorClear(&v);
                for (int32_t p = 0; p < ref.count; p++) {
                    std::memset(ref.slot(ref.head + p), 0, es);
                }
                ref.count = 0;
            } else if (kind < 99) {
                got = zubVectorReleaseData(&v);
                want = ref.releaseData();
            } else {
                const int32_t initial = static_cast<int32_t>(rng() % 25) - 5;
                zubVectorRelease(&v);
                got = zubVectorInitialize(&v, &params, initial);
                ref = Reference{es, 0, 0, 0, false, ref.failNext, {}};
                want = initial >= 0 && !ref.allocate(static_cast<uint32_t>(initial)) ? -12 : 0;
            }
            ASSERT_EQ(got, want);
            ASSERT_EQ(
                (std::vector<uint64_t>{v.alloced, v.head, static_cast<uint64_t>(v.count)}),
                (std::vector<uint64_t>{ref.alloced, ref.head, static_cast<uint64_t>(ref.count)}));
            ASSERT_EQ(v.data != nullptr, ref.hasBuffer);
            if (!ref.buffer.empty()) {
                ASSERT_EQ(allocator.blockSize(v.data), ref.buffer.size());
                ASSERT_EQ(std::memcmp(v.data, ref.buffer.data(), ref.buffer.size()), 0)
                    << zubtest::hex(v.data, ref.buffer.size());
            }
        }
        allocator.failAfter = -1;
        EXPECT_EQ(zubVectorRelease(&v), 0);
        EXPECT_EQ(allocator.liveBlocks(), 0u);
    }
    EXPECT_TRUE(capture.messages().empty());
}
