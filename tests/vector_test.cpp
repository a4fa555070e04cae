#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <random>

#include "test_support.h"
#include "zub/vector.h"

namespace {

// The elements in order, laid out in the buffer from slot `head` on, one
// slot per element by modulo; fresh buffers hold the allocator's fill, and
// a buffer of no slots is still a buffer.
struct Model {
    uint32_t es, alloced = 0, head = 0;
    bool fail = false, hasBuffer = false;
    std::deque<std::vector<uint8_t>> items{};
    std::vector<uint8_t> buffer{};

    uint8_t *slot(size_t p) { return buffer.data() + (head + p) % alloced * es; }
    void layOut()
    {
        for (size_t p = 0; p < items.size(); p++)
            std::memcpy(slot(p), items[p].data(), es);
    }
    // A new buffer of `target` slots, the elements moved to slot 0 on.
    int32_t allocate(uint32_t target)
    {
        if (fail || uint64_t{target} * es > 0xFFFFFFFFu)
            return ZUB_ENOMEM;
        buffer.assign(size_t{target} * es, 0xA5);
        std::tie(alloced, head, hasBuffer) = std::tuple(target, items.empty() ? head : 0, true);
        layOut();
        return static_cast<int32_t>(target);
    }
    int32_t setAlloced(int32_t wanted)
    {
        const auto count = static_cast<int32_t>(items.size()), target = std::max(wanted, count);
        if (hasBuffer ? wanted < 0 && count == 0 : wanted <= 0) {
            std::tie(alloced, hasBuffer, buffer) = std::tuple(0u, false, std::vector<uint8_t>());
            return 0;
        }
        return uint32_t(target) == alloced ? target : allocate(uint32_t(target));
    }
};

} // namespace

// Random inserts anywhere (and below -1), removals, gets, resizes, clears,
// releases and re-initialisations, with random allocation failures, on
// element sizes that take every copy path: results, the record and the
// buffer byte for byte against the model.
TEST(Vector, RandomOperationsMatchTheModel)
{
    const uint32_t seed = zubtest::testSeed(0x5EC70u);
    for (uint32_t es : {1u, 2u, 3u, 4u, 6u, 8u, 12u, 16u, 24u, 32u, 40u}) {
        std::mt19937 rng(seed + es);
        zubtest::CountingAllocator allocator;
        zubVectorParams_t params{allocator.record(), es, 0, 0};
        zubVector_t v;
        Model m{es};
        // A buffer of 2^32 bytes or more is a failed allocation, never asked for.
        zubVectorParams_t huge{allocator.record(), 0x20000000u, 0, 0};
        ASSERT_TRUE(zubVectorInitialize(&v, &huge, 8) == ZUB_ENOMEM && allocator.sizes.empty());
        ASSERT_TRUE(zubVectorInitialize(&v, &params, -1) == 0);
        std::vector<uint8_t> element(es), out(es);
        for (int op = 0; op < 25000; op++) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << " size " << es << " op " << op);
            allocator.failAfter = (m.fail = rng() % 50 == 0) ? 0 : -1;
            const auto kind = rng() % 100, count = m.items.size();
            const int32_t any = int32_t(rng() % (count + 2)) - 1, wanted = int32_t(rng() % 80) - 10;
            std::generate(element.begin(), element.end(), [&rng] { return uint8_t(rng()); });
            int32_t got = 0, want = 0;
            if (kind < 40) {
                const int32_t at = kind == 14 ? INT32_MIN : kind < 14 ? -1 - (kind == 13) : any + 1;
                got = zubVectorInsert(&v, at, element.data());
                // A full vector grows to half as much again plus ten slots.
                want = at < -1 || at > int32_t(count) ? ZUB_EINVAL
                       : count < m.alloced            ? 0
                                           : std::min(m.setAlloced(int32_t(3 * count / 2 + 10)), 0);
                if (want == 0) {
                    // The shorter side moves: the front half by stepping head back.
                    const bool back = at != -1 && at < int32_t(count / 2);
                    m.head = back ? (m.head + m.alloced - 1) % m.alloced : m.head;
                    m.items.insert(m.items.begin() + (at == -1 ? long(count) : at), element);
                    m.layOut();
                }
            } else if (kind < 75) {
                // Now and then without a destination, or at position 0 (refused).
                got = zubVectorRemove(&v, kind < 45 ? nullptr : out.data(), kind == 74 ? 0 : -1);
                want = count == 0 ? ZUB_ENOENT : kind == 74 ? ZUB_EINVAL : 0;
                if (want == 0) {
                    ASSERT_TRUE(kind < 45 || out == m.items.front());
                    std::memset(m.slot(0), 0x77, es);
                    m.items.pop_front();
                    m.head = count > 1 ? (m.head + 1) % m.alloced : m.head;
                }
            } else if (kind < 90) {
                got = zubVectorGetAt(&v, out.data(), any);
                want = any >= 0 && any < int32_t(count) ? 0 : ZUB_ENOENT;
                ASSERT_TRUE(want || out == m.items[size_t(any)]);
            } else if (kind < 96) {
                got = zubVectorSetAlloced(&v, wanted);
                want = m.setAlloced(wanted);
            } else if (kind < 98) {
                // The used slots are cleared to zero bytes.
                got = zubVectorClear(&v);
                m.items.assign(count, std::vector<uint8_t>(es));
                m.layOut();
                m.items.clear();
            } else {
                // Releasing the data alone is enough before a new start.
                ASSERT_EQ(kind == 98 ? zubVectorReleaseData(&v) : zubVectorRelease(&v), 0);
                got = zubVectorInitialize(&v, &params, wanted / 3);
                m = Model{es, 0, 0, m.fail};
                want = wanted / 3 < 0 ? 0 : std::min(m.allocate(uint32_t(wanted / 3)), 0);
            }
            ASSERT_EQ(got, want);
            ASSERT_EQ(std::tuple(v.alloced, v.head, v.count, v.data != nullptr),
                      std::tuple(m.alloced, m.head, int32_t(m.items.size()), m.hasBuffer));
            ASSERT_TRUE(m.buffer.empty() ||
                        (allocator.live.at(v.data) == m.buffer.size() &&
                         !std::memcmp(v.data, m.buffer.data(), m.buffer.size())));
        }
        EXPECT_TRUE(zubVectorRelease(&v) == 0 && allocator.live.empty());
    }
}
