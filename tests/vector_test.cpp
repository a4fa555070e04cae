#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <random>
#include <vector>

#include "test_support.h"
#include "zub/vector.h"

using zubtest::CountingAllocator;

namespace {

// A vector of uint32_t elements on a counting allocator.
struct Fixture {
    CountingAllocator allocator;
    zubVector_t v{};

    explicit Fixture(int32_t initialCount, uint32_t elementSize = 4)
    {
        zubVectorParams_t params{allocator.record(), elementSize, 0x1111, 0x2222};
        EXPECT_EQ(zubVectorInitialize(&v, &params, initialCount), 0);
    }
    ~Fixture()
    {
        zubVectorRelease(&v);
        EXPECT_EQ(allocator.liveBlocks(), 0u);
    }
    void append(uint32_t value) { ASSERT_EQ(zubVectorInsert(&v, -1, &value), 0); }
    uint32_t at(int32_t position)
    {
        uint32_t value = 0;
        EXPECT_EQ(zubVectorGetAt(&v, &value, position), 0);
        return value;
    }
    uint32_t slot(uint32_t index) const
    {
        uint32_t value;
        std::memcpy(&value, static_cast<const uint8_t *>(v.data) + 4 * index, 4);
        return value;
    }
    std::vector<uint32_t> contents()
    {
        std::vector<uint32_t> out;
        for (int32_t p = 0; p < v.count; p++) {
            out.push_back(at(p));
        }
        return out;
    }
};

constexpr uint32_t kFresh = 0xA5A5A5A5u; // the counting allocator's fill
constexpr uint32_t kRemoved = 0x77777777u;

} // namespace

TEST(Vector, GrowthFromNoBufferGoes10_25_47_80_130)
{
    Fixture f(-1);
    EXPECT_EQ(f.v.data, nullptr);
    EXPECT_EQ(f.v.extra0, 0x1111u);
    EXPECT_EQ(f.v.extra1, 0x2222u);
    EXPECT_EQ(f.allocator.allocations(), 0u);
    std::vector<uint32_t> capacities;
    for (uint32_t i = 0; i < 100; i++) {
        f.append(i);
        if (capacities.empty() || capacities.back() != f.v.alloced) {
            capacities.push_back(f.v.alloced);
        }
    }
    EXPECT_EQ(capacities, (std::vector<uint32_t>{10, 25, 47, 80, 130}));
    EXPECT_EQ(f.allocator.sizes(), (std::vector<size_t>{40, 100, 188, 320, 520}));
    EXPECT_EQ(f.allocator.liveBlocks(), 1u);
    for (int32_t p = 0; p < 100; p++) {
        ASSERT_EQ(f.at(p), static_cast<uint32_t>(p));
    }
}

TEST(Vector, GrowthUnwrapsAWrappedQueueToSlotZero)
{
    Fixture f(10);
    for (uint32_t i = 0; i < 7; i++) {
        f.append(i);
    }
    for (int i = 0; i < 4; i++) {
        ASSERT_EQ(zubVectorRemove(&f.v, nullptr, -1), 0);
    }
    for (uint32_t i = 7; i < 14; i++) {
        f.append(i); // slots 7..9 then 0..3: wrapped, full at 10
    }
    EXPECT_EQ(f.v.head, 4u);
    EXPECT_EQ(f.v.alloced, 10u);
    f.append(14); // the 11th element grows the buffer
    EXPECT_EQ(f.v.alloced, 25u);
    EXPECT_EQ(f.v.head, 0u);
    for (uint32_t s = 0; s < 11; s++) {
        EXPECT_EQ(f.slot(s), s + 4) << "slot " << s;
    }
    for (uint32_t s = 11; s < 25; s++) {
        EXPECT_EQ(f.slot(s), kFresh) << "slot " << s;
    }
}

TEST(Vector, InsertMovesTheShorterSide)
{
    // Position 0 of 4 elements at head 0: nothing moves, head wraps back to
    // alloced - 1.
    {
        Fixture f(10);
        for (uint32_t i = 1; i <= 4; i++) {
            f.append(i);
        }
        const uint32_t zero = 0;
        ASSERT_EQ(zubVectorInsert(&f.v, 0, &zero), 0);
        EXPECT_EQ(f.v.head, 9u);
        EXPECT_EQ(f.slot(9), 0u);
        EXPECT_EQ((std::vector<uint32_t>{f.slot(0), f.slot(1), f.slot(2), f.slot(3), f.slot(4)}),
                  (std::vector<uint32_t>{1, 2, 3, 4, kFresh}));
        EXPECT_EQ(f.contents(), (std::vector<uint32_t>{0, 1, 2, 3, 4}));
    }
    // Position 2 of 4: the elements at positions 2 and 3 move forward.
    {
        Fixture f(10);
        for (uint32_t i = 1; i <= 4; i++) {
            f.append(i);
        }
        const uint32_t mid = 99;
        ASSERT_EQ(zubVectorInsert(&f.v, 2, &mid), 0);
        EXPECT_EQ(f.v.head, 0u);
        EXPECT_EQ((std::vector<uint32_t>{f.slot(0), f.slot(1), f.slot(2), f.slot(3), f.slot(4), f.slot(5)}),
                  (std::vector<uint32_t>{1, 2, 99, 3, 4, kFresh}));
    }
    // Position 1 of 6 with head at slot 0: positions 0 moves back across the
    // wrap into the last slot.
    {
        Fixture f(8);
        for (uint32_t i = 1; i <= 6; i++) {
            f.append(i);
        }
        const uint32_t mid = 99;
        ASSERT_EQ(zubVectorInsert(&f.v, 1, &mid), 0);
        EXPECT_EQ(f.v.head, 7u);
        EXPECT_EQ(f.slot(7), 1u);
        EXPECT_EQ(f.slot(0), 99u);
        EXPECT_EQ(f.contents(), (std::vector<uint32_t>{1, 99, 2, 3, 4, 5, 6}));
    }
}

TEST(Vector, PositionsOutOfRangeAreRefusedWithoutChange)
{
    Fixture f(4);
    f.append(1);
    f.append(2);
    const zubVector_t before = f.v;
    const uint32_t x = 7;
    EXPECT_EQ(zubVectorInsert(&f.v, 3, &x), ZUB_EINVAL);
    EXPECT_EQ(zubVectorInsert(&f.v, -2, &x), ZUB_EINVAL);
    EXPECT_EQ(zubVectorInsert(&f.v, INT32_MIN, &x), ZUB_EINVAL);
    EXPECT_EQ(zubVectorRemove(&f.v, nullptr, 0), ZUB_EINVAL);
    uint32_t out = 0xDEAD;
    EXPECT_EQ(zubVectorGetAt(&f.v, &out, -1), ZUB_ENOENT);
    EXPECT_EQ(zubVectorGetAt(&f.v, &out, 2), ZUB_ENOENT);
    EXPECT_EQ(out, 0xDEADu);
    EXPECT_EQ(std::memcmp(&before, &f.v, sizeof before), 0);
    EXPECT_EQ(zubVectorInsert(&f.v, 2, &x), 0); // at count: appends
    EXPECT_EQ(f.contents(), (std::vector<uint32_t>{1, 2, 7}));

    EXPECT_EQ(zubVectorGetSize(&f.v), 3);
    EXPECT_EQ(zubVectorGetSize(nullptr), ZUB_EINVAL);
    EXPECT_EQ(zubVectorMerge(nullptr, nullptr), ZUB_ENOSYS);
    EXPECT_EQ(zubVectorMerge(&f.v, &f.v), ZUB_ENOSYS);
}

TEST(Vector, RemoveDrainsInAppendOrderAndMarksSlots)
{
    Fixture f(6);
    for (uint32_t i = 10; i < 14; i++) {
        f.append(i);
    }
    for (uint32_t i = 10; i < 14; i++) {
        uint32_t out = 0;
        ASSERT_EQ(zubVectorRemove(&f.v, &out, -1), 0);
        EXPECT_EQ(out, i);
        EXPECT_EQ(f.slot(i - 10), kRemoved);
    }
    // The last removal leaves head on the vacated slot.
    EXPECT_EQ(f.v.count, 0);
    EXPECT_EQ(f.v.head, 3u);
    EXPECT_EQ(zubVectorRemove(&f.v, nullptr, -1), ZUB_ENOENT);
    EXPECT_EQ(zubVectorRemove(&f.v, nullptr, 5), ZUB_ENOENT); // empty is checked first
    f.append(20);
    EXPECT_EQ(f.slot(3), 20u);
}

TEST(Vector, SetAllocedKeepsElementsAndSkipsNeedlessWork)
{
    Fixture f(10);
    for (uint32_t i = 0; i < 6; i++) {
        f.append(i);
    }
    EXPECT_EQ(zubVectorSetAlloced(&f.v, 3), 6); // never below count
    EXPECT_EQ(f.v.alloced, 6u);
    const size_t allocations = f.allocator.allocations();
    EXPECT_EQ(zubVectorSetAlloced(&f.v, 6), 6); // already there
    EXPECT_EQ(zubVectorSetAlloced(&f.v, -1), 6); // shrink to fit
    EXPECT_EQ(f.allocator.allocations(), allocations);
    EXPECT_EQ(f.contents(), (std::vector<uint32_t>{0, 1, 2, 3, 4, 5}));

    zubVectorClear(&f.v);
    EXPECT_EQ(zubVectorSetAlloced(&f.v, -5), 0); // empty: releases
    EXPECT_EQ(f.v.data, nullptr);
    EXPECT_EQ(f.allocator.liveBlocks(), 0u);
    EXPECT_EQ(zubVectorSetAlloced(&f.v, 0), 0); // no buffer, nothing wanted
    EXPECT_EQ(f.allocator.allocations(), allocations);
    EXPECT_EQ(zubVectorSetAlloced(&f.v, 3), 3);
    EXPECT_EQ(f.allocator.lastSize(), 12u);
}

TEST(Vector, ClearZeroesOnlyTheUsedSlots)
{
    Fixture f(5);
    for (uint32_t i = 1; i <= 5; i++) {
        f.append(i);
    }
    ASSERT_EQ(zubVectorRemove(&f.v, nullptr, -1), 0);
    ASSERT_EQ(zubVectorRemove(&f.v, nullptr, -1), 0);
    f.append(6); // wraps into slot 0
    ASSERT_EQ(zubVectorClear(&f.v), 0);
    EXPECT_EQ((std::vector<uint32_t>{f.slot(0), f.slot(1), f.slot(2), f.slot(3), f.slot(4)}),
              (std::vector<uint32_t>{0, kRemoved, 0, 0, 0}));
    EXPECT_EQ(f.v.count, 0);
    EXPECT_EQ(f.v.alloced, 5u);
    EXPECT_EQ(f.v.head, 2u);
    f.append(9);
    EXPECT_EQ(f.slot(2), 9u);
    EXPECT_EQ(zubVectorReleaseData(&f.v), 0);
    EXPECT_EQ(f.v.head, 2u);
    EXPECT_EQ(zubVectorReleaseData(&f.v), 0);
}

TEST(Vector, FailedAllocationLeavesEverythingAsItWas)
{
    Fixture f(2);
    f.append(1);
    f.append(2);
    const zubVector_t before = f.v;
    f.allocator.failAfter = 0;
    const uint32_t x = 3;
    EXPECT_EQ(zubVectorInsert(&f.v, -1, &x), ZUB_ENOMEM);
    EXPECT_EQ(zubVectorInsert(&f.v, 0, &x), ZUB_ENOMEM);
    EXPECT_EQ(zubVectorSetAlloced(&f.v, 50), ZUB_ENOMEM);
    EXPECT_EQ(std::memcmp(&before, &f.v, sizeof before), 0);
    EXPECT_EQ(f.contents(), (std::vector<uint32_t>{1, 2}));
    f.allocator.failAfter = -1;

    // A failed initialisation leaves a usable vector without buffer.
    CountingAllocator other;
    other.failAfter = 0;
    zubVector_t v;
    std::memset(&v, 0xEE, sizeof v);
    zubVectorParams_t params{other.record(), 4, 0, 0};
    EXPECT_EQ(zubVectorInitialize(&v, &params, 8), ZUB_ENOMEM);
    EXPECT_EQ(v.data, nullptr);
    EXPECT_EQ(v.alloced, 0u);
    EXPECT_EQ(v.head, 0u);
    other.failAfter = -1;
    EXPECT_EQ(zubVectorInsert(&v, -1, &x), 0);
    EXPECT_EQ(v.alloced, 10u);
    EXPECT_EQ(zubVectorRelease(&v), 0);
    EXPECT_EQ(other.liveBlocks(), 0u);
}

TEST(Vector, BufferAbove32BitsFailsWithoutCallingTheAllocator)
{
    CountingAllocator allocator;
    allocator.failAbove = 4096;
    zubVector_t v;
    zubVectorParams_t params{allocator.record(), 0x20000000u, 0, 0};
    // 8 * 2^29 = 2^32: one past the limit.
    EXPECT_EQ(zubVectorInitialize(&v, &params, 8), ZUB_ENOMEM);
    EXPECT_TRUE(allocator.sizes().empty());
    // 7 * 2^29 fits: the allocator sees the full size, never a wrapped one.
    EXPECT_EQ(zubVectorInitialize(&v, &params, 7), ZUB_ENOMEM);
    EXPECT_EQ(allocator.sizes(), (std::vector<size_t>{7u * 0x20000000u}));
    // The first growth (10 slots) is past the limit too.
    EXPECT_EQ(zubVectorInitialize(&v, &params, -1), 0);
    std::vector<uint8_t> element(16);
    EXPECT_EQ(zubVectorInsert(&v, -1, element.data()), ZUB_ENOMEM);
    EXPECT_EQ(zubVectorSetAlloced(&v, 9), ZUB_ENOMEM);
    EXPECT_EQ(allocator.sizes().size(), 1u);
    EXPECT_EQ(v.data, nullptr);
}

TEST(Vector, StaleHeadBeyondARegrownBufferIsReduced)
{
    Fixture f(30);
    for (uint32_t i = 0; i < 25; i++) {
        f.append(i);
    }
    for (int i = 0; i < 25; i++) {
        ASSERT_EQ(zubVectorRemove(&f.v, nullptr, -1), 0);
    }
    EXPECT_EQ(f.v.head, 24u);
    ASSERT_EQ(zubVectorReleaseData(&f.v), 0);
    EXPECT_EQ(f.v.head, 24u); // kept, now past any buffer

    f.append(100); // grows to 10 slots; 24 mod 10 = slot 4
    ASSERT_EQ(f.v.alloced, 10u);
    EXPECT_EQ(f.v.head, 24u);
    EXPECT_EQ(f.allocator.blockSize(f.v.data), 40u);
    EXPECT_EQ(f.slot(4), 100u);
    const uint32_t front = 99;
    ASSERT_EQ(zubVectorInsert(&f.v, 0, &front), 0); // 0 < 1/2 is false: forward side
    f.append(101);
    EXPECT_EQ(f.contents(), (std::vector<uint32_t>{99, 100, 101}));
    uint32_t out = 0;
    ASSERT_EQ(zubVectorRemove(&f.v, &out, -1), 0);
    EXPECT_EQ(out, 99u);
    EXPECT_EQ(f.slot(4), kRemoved);
    EXPECT_EQ(f.v.head, 5u);
    ASSERT_EQ(zubVectorClear(&f.v), 0);
    EXPECT_EQ(f.slot(5), 0u);
    EXPECT_EQ(f.slot(6), 0u);
}

namespace {

// Plain reference: the documented steps, one element at a time, with every
// slot computed by modulo on 64-bit values.
struct Reference {
    uint32_t es = 0;
    bool hasBuffer = false;
    std::vector<uint8_t> buffer;
    uint32_t alloced = 0;
    uint64_t head = 0;
    int32_t count = 0;
    bool failNext = false;

    uint8_t *slot(uint64_t s) { return buffer.data() + (s % alloced) * es; }

    int32_t initialize(uint32_t elementSize, int32_t n)
    {
        const bool fail = failNext;
        *this = Reference{};
        failNext = fail;
        es = elementSize;
        if (n < 0) {
            return 0;
        }
        if (static_cast<uint64_t>(n) * es > 0xFFFFFFFFu || failNext) {
            return -12;
        }
        hasBuffer = true;
        buffer.assign(static_cast<size_t>(n) * es, 0xA5);
        alloced = static_cast<uint32_t>(n);
        return 0;
    }
    int32_t releaseData()
    {
        if (hasBuffer) {
            hasBuffer = false;
            buffer.clear();
            alloced = 0;
            count = 0;
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
        if (failNext || static_cast<uint64_t>(target) * es > 0xFFFFFFFFu) {
            return -12;
        }
        std::vector<uint8_t> fresh(static_cast<size_t>(target) * es, 0xA5);
        if (hasBuffer && count > 0) {
            for (int32_t p = count - 1; p >= 0; p--) {
                std::memcpy(fresh.data() + static_cast<size_t>(p) * es, slot(head + p), es);
            }
            head = 0;
        }
        buffer.swap(fresh);
        hasBuffer = true;
        alloced = target;
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
            std::memcpy(slot(head + n), element, es);
            return 0;
        }
        if (position < n / 2) {
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
    int32_t remove(uint8_t *element, int32_t position)
    {
        if (count == 0) {
            return -2;
        }
        if (position != -1) {
            return -22;
        }
        count--;
        if (element) {
            std::memcpy(element, slot(head), es);
        }
        std::memset(slot(head), 0x77, es);
        if (count != 0) {
            head = (head + 1) % alloced;
        }
        return 0;
    }
    int32_t clear()
    {
        for (int32_t p = 0; p < count; p++) {
            std::memset(slot(head + p), 0, es);
        }
        count = 0;
        return 0;
    }
};

} // namespace

// Random operations on the vector, on a literal reference of the documented
// steps (whole buffers compared byte for byte) and on a std::deque of the
// elements, with element sizes from 1 byte upwards and random allocation
// failures.
TEST(Vector, RandomOperationsMatchReferenceAndDeque)
{
    const int kOperations = 25000; // per element size
    // Every branch of the small-element copy, and a plain memcpy size.
    const uint32_t kSizes[] = {1, 2, 3, 4, 6, 8, 12, 16, 24, 32, 40};
    zubtest::DebugCapture capture(true);
    for (uint32_t es : kSizes) {
        const unsigned seed = 0x5EC70u + es;
        std::mt19937 rng(seed);
        CountingAllocator allocator;
        Reference ref;
        std::deque<std::vector<uint8_t>> model;
        zubVector_t v;
        zubVectorParams_t params{allocator.record(), es, 0, 0};
        ASSERT_EQ(zubVectorInitialize(&v, &params, -1), ref.initialize(es, -1));
        uint32_t serial = 0;
        std::vector<uint8_t> element(es), out(es);

        for (int op = 0; op < kOperations; op++) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << " size " << es << " op " << op);
            const bool fail = rng() % 50 == 0;
            allocator.failAfter = fail ? 0 : -1;
            ref.failNext = fail;
            const unsigned kind = rng() % 100;
            int32_t got = 0, want = 0;
            if (kind < 40) { // append or insert anywhere, sometimes out of range
                serial++;
                for (uint32_t k = 0; k < es; k++) {
                    element[k] = static_cast<uint8_t>(serial * 31u + k * 7u);
                }
                const int32_t position = rng() % 3 == 0 ? -1
                                         : rng() % 40 == 0 ? v.count + 1 + static_cast<int32_t>(rng() % 3)
                                                           : static_cast<int32_t>(rng() % (v.count + 1));
                got = zubVectorInsert(&v, position, element.data());
                want = ref.insert(position, element.data());
                if (want == 0) {
                    model.insert(position == -1 ? model.end() : model.begin() + position, element);
                }
            } else if (kind < 75) {
                std::fill(out.begin(), out.end(), 0);
                std::vector<uint8_t> expected(es, 0);
                const int32_t position = rng() % 30 == 0 ? 0 : -1;
                got = zubVectorRemove(&v, es % 2 ? out.data() : nullptr, position);
                want = ref.remove(es % 2 ? expected.data() : nullptr, position);
                if (want == 0) {
                    ASSERT_EQ(model.front(), (es % 2 ? out : model.front()));
                    model.pop_front();
                }
                ASSERT_EQ(out, expected);
            } else if (kind < 90) {
                const int32_t position = static_cast<int32_t>(rng() % (v.count + 2)) - 1;
                got = zubVectorGetAt(&v, out.data(), position);
                want = position >= 0 && position < static_cast<int32_t>(model.size()) ? 0 : -2;
                if (want == 0) {
                    ASSERT_EQ(out, model[static_cast<size_t>(position)]);
                }
            } else if (kind < 96) {
                const int32_t wanted = static_cast<int32_t>(rng() % 80) - 10;
                got = zubVectorSetAlloced(&v, wanted);
                want = ref.setAlloced(wanted);
            } else if (kind < 98) {
                got = zubVectorClear(&v);
                want = ref.clear();
                model.clear();
            } else if (kind < 99) {
                got = zubVectorReleaseData(&v);
                want = ref.releaseData();
                model.clear();
            } else {
                const int32_t initial = static_cast<int32_t>(rng() % 25) - 5;
                ASSERT_EQ(zubVectorRelease(&v), 0);
                ref.failNext = false;
                ref.releaseData();
                got = zubVectorInitialize(&v, &params, initial);
                ref.failNext = fail;
                want = ref.initialize(es, initial);
                model.clear();
            }
            ASSERT_EQ(got, want);
            ASSERT_EQ(v.count, ref.count);
            ASSERT_EQ(static_cast<size_t>(v.count), model.size());
            ASSERT_EQ(v.alloced, ref.alloced);
            ASSERT_EQ(v.head, ref.head);
            ASSERT_EQ(v.data != nullptr, ref.hasBuffer);
            if (v.data != nullptr && !ref.buffer.empty()) {
                ASSERT_EQ(allocator.blockSize(v.data), ref.buffer.size());
                ASSERT_EQ(std::memcmp(v.data, ref.buffer.data(), ref.buffer.size()), 0)
                    << zubtest::hex(v.data, ref.buffer.size()) << "\n"
                    << zubtest::hex(ref.buffer.data(), ref.buffer.size());
            }
        }
        allocator.failAfter = -1;
        EXPECT_EQ(zubVectorRelease(&v), 0);
        EXPECT_EQ(allocator.liveBlocks(), 0u);
    }
    EXPECT_TRUE(capture.messages().empty());
}
