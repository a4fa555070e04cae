#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <random>
#include <vector>

#include "sg_reference.h"
#include "test_support.h"
#include "zub/scattergather.h"

// Found by argument-dependent lookup, so at global scope.
static bool operator==(const zubScatterGatherCopyState_t &a, const zubScatterGatherCopyState_t &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}
static std::ostream &operator<<(std::ostream &os, const zubScatterGatherCopyState_t &s)
{
    return os << "{" << s.destinationIndex << ", " << s.destinationPosition << ", " << s.sourceIndex
              << ", " << s.sourcePosition << ", " << s.total << "}";
}

namespace {

using Entry = zubScatterGatherEntry_t;
using State = zubScatterGatherCopyState_t;
using zubtest::seq;

Entry data(void *block, uint32_t length)
{
    return {block, ZUB_SG_WORD(ZUB_SG_KIND_DATA, length)};
}
Entry link(Entry *array, uint32_t count)
{
    return {array, ZUB_SG_WORD(ZUB_SG_KIND_LINK, count)};
}

bool same(const Entry &a, const Entry &b)
{
    return a.data == b.data && a.lengthAndKind == b.lengthAndKind;
}

const State kUntouched = {111, 222, 333, 444, 555};

} // namespace

TEST(ScatterGatherCopy, WorkedExamples)
{
    auto src = seq(0, 100);
    std::vector<uint8_t> small(50), large(100);
    Entry one = data(src.data(), 100), destination = data(small.data(), 50);
    int32_t count = 1;
    State state = kUntouched;
    // One block each side: a single cut copy; an offset past the source block changes nothing.
    EXPECT_EQ(zubCopyScatterGather(&destination, &count, &one, 1, 100, &state), 0u);
    EXPECT_EQ(state, kUntouched);
    EXPECT_EQ(zubCopyScatterGather(&destination, &count, &one, 1, 30, &state), 50u);
    EXPECT_TRUE(state == (State{0, 50, 0, 80, 50}) && destination.lengthAndKind == 50 &&
                small == seq(30, 50));
    destination = data(large.data(), 100);
    EXPECT_EQ(zubCopyScatterGather(&destination, &count, &one, 1, 30, &state), 70u);
    EXPECT_TRUE(destination.lengthAndKind == 70 && count == 1);

    // Three source blocks from offset 15 into two blocks of 25.
    Entry source[3] = {data(src.data(), 10), data(src.data() + 10, 20), data(src.data() + 30, 30)};
    Entry two[2] = {data(small.data(), 25), data(large.data(), 25)};
    count = 2;
    EXPECT_EQ(zubCopyScatterGather(two, &count, source, 3, 15, &state), 45u);
    EXPECT_TRUE(state == (State{1, 20, 3, 0, 45}) && count == 2 && two[1].lengthAndKind == 20);
    EXPECT_TRUE(large[0] == 40 && large[19] == 59);
    // The source's data end before the offset: nothing written, the rest of the offset left over.
    EXPECT_EQ(zubCopyScatterGather(two, &count, source, 2, 33, &state), 0u);
    EXPECT_TRUE(state == (State{-1, 0, 2, 3, 0}) && count == 0);
    // An empty list on either side; the by-value form cuts entries too.
    for (int32_t empty : {-1, 0}) {
        count = empty;
        EXPECT_EQ(zubCopyScatterGather(two, &count, source, 3, 0, &state), 0u);
        EXPECT_TRUE(count == 0 && state == (State{0, 0, 0, 0, 0}));
    }
    EXPECT_EQ(zubCopyScatterGather(nullptr, nullptr, nullptr, 1, 0, nullptr), 0u);
    EXPECT_EQ(zubCopyScatterGather(nullptr, &count, source, 1, 0, nullptr), 0u);
    EXPECT_EQ(zubReadScatterGatherPart(two, 1, source, 3, 50), 10u);
    EXPECT_EQ(two[0].lengthAndKind, 10u);
}

TEST(ScatterGatherList, CreateListFromEachKindOfOffset)
{
    uint8_t a[10], b[20], c[30], d[5];
    Entry linked[2] = {data(c, 30), data(d, 5)};
    Entry source[4] = {data(a, 10), data(nullptr, 0), data(b, 20), link(linked, 2)};
    const struct {
        uint32_t offset;
        int32_t count;
        Entry first, second;
    } cases[] = {
        {0, 1, link(source, 4), {}},                 // the whole list
        {3, 2, data(a + 3, 7), link(source + 1, 3)}, // inside an earlier entry
        {10, 1, link(source + 2, 2), {}},            // at the start of an entry
        {30, 1, link(linked, 2), {}},                // at the start of a linked array
        {62, 1, data(d + 2, 3), {}},                 // inside the last entry of an array
        {65, 0, {}, {}},                             // exactly at the end
    };
    for (const auto &expected : cases) {
        SCOPED_TRACE(expected.offset);
        Entry result[3] = {};
        int32_t count = 3;
        ASSERT_EQ(zubScatterGatherCreateListFrom(result, &count, source, 4, expected.offset), 0);
        ASSERT_EQ(count, expected.count);
        EXPECT_TRUE(same(result[0], expected.first) && same(result[1], expected.second));
    }
    Entry result[2];
    int32_t count = 2;
    EXPECT_EQ(zubScatterGatherCreateListFrom(result, &count, source, 4, 66), -2);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(zubScatterGatherCreateListFrom(result, &count, source, 4, 62), -22); // no room
    EXPECT_EQ(zubScatterGatherCreateListFrom(nullptr, &count, source, 4, 0), -22);
    count = 2;
    EXPECT_TRUE(zubScatterGatherCreateListFrom(result, &count, source, 0, 5) == 0 && count == 0);
}

TEST(ScatterGatherList, TotalLengthFollowsLinksAndPassesOverOtherKinds)
{
    uint8_t bytes[12];
    Entry linked[2] = {{bytes, 0xC0000009u}, data(bytes + 7, 5)};
    Entry list[4] = {data(bytes, 3), {bytes, 0x80000005u}, data(bytes + 3, 4), link(linked, 2)};
    EXPECT_EQ(zubGetTotalLength(list, 4), 12u);
    linked[0] = link(nullptr, 3); // ends the list
    EXPECT_EQ(zubGetTotalLength(list, 4), 7u);
    EXPECT_EQ(zubGetTotalLength(nullptr, 3) + zubGetTotalLength(list, 0), 0u);
}

namespace {

// A random list with links, empty entries, kinds 2 and 3, terminating links
// and junk behind links, and what a walk must see: the data entries in
// order with their places, and where the walk ends (index, array count).
struct RandomList {
    struct Flat {
        Entry *entry;
        int32_t index, arrayCount;
        uint32_t start; // position of its first byte in the list's data
    };
    std::deque<std::vector<Entry>> arrays;
    std::vector<uint8_t> arena, bytes;
    std::vector<Flat> flat;
    int32_t endIndex = 0, endCount = 0;
    uint32_t used = 64; // arena[0, 64) is where junk entries point

    RandomList(std::mt19937 &rng, bool randomBytes) : arena(4096, 0xEE)
    {
        for (size_t i = 0; randomBytes && i < arena.size(); ++i) {
            arena[i] = static_cast<uint8_t>(rng());
        }
        build(rng, 1 + rng() % 5, 0);
    }
    Entry *first() { return arrays.front().data(); }
    int32_t count() const { return static_cast<int32_t>(arrays.front().size()); }
    const Flat *holding(uint32_t position) const // the non-empty entry holding that byte
    {
        for (const Flat &f : flat) {
            if (f.start <= position && position - f.start < f.entry->lengthAndKind) {
                return &f;
            }
        }
        return nullptr;
    }

private:
    void build(std::mt19937 &rng, uint32_t n, int depth)
    {
        auto &array = arrays.emplace_back(n, Entry{arena.data(), ZUB_SG_WORD(rng() % 4, 5)});
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t roll = rng() % 100, length = roll < 45 ? 0 : 1 + rng() % 40;
            if (roll < 20) {
                const size_t linked = arrays.size();
                if (roll < 13 && depth < 3) {
                    build(rng, 1 + rng() % 5, depth + 1);
                    array[i] =
                        link(arrays[linked].data(), static_cast<uint32_t>(arrays[linked].size()));
                } else {
                    array[i] = roll % 2 ? link(nullptr, 1 + rng() % 4) : link(first(), 0);
                    endIndex = static_cast<int32_t>(i), endCount = static_cast<int32_t>(n);
                }
                return;
            }
            if (roll < 30) {
                array[i] = {arena.data(), ZUB_SG_WORD(2 + rng() % 2, 1 + rng() % 9)};
                continue;
            }
            array[i] = data(length || roll % 2 ? arena.data() + used : nullptr, length);
            flat.push_back({&array[i], static_cast<int32_t>(i), static_cast<int32_t>(n),
                            static_cast<uint32_t>(bytes.size())});
            bytes.insert(bytes.end(), arena.data() + used, arena.data() + used + length);
            used += length + 1 + rng() % 3;
        }
        endIndex = endCount = static_cast<int32_t>(n);
    }
};

using zubtest::flatten;

} // namespace

// Differential test over random lists: the copy's bytes, count, cut entry
// and state, and the view from an offset, against references computed from
// the flattened lists.
TEST(ScatterGather, RandomListsMatchAFlattenedReference)
{
    const uint32_t firstSeed = zubtest::testSeed(0xC0DE0000u);
    for (int round = 0; round < 20000; ++round) {
        const uint32_t seed = firstSeed + static_cast<uint32_t>(round);
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        std::mt19937 rng(seed);
        RandomList src(rng, true), dst(rng, false);
        const auto S = static_cast<uint32_t>(src.bytes.size()),
                   D = static_cast<uint32_t>(dst.bytes.size());
        ASSERT_EQ(zubGetTotalLength(src.first(), src.count()), S);
        const uint32_t offset = rng() % 4 == 0 ? 0 : rng() % (S + 3);

        int32_t count = dst.count();
        State want = kUntouched;
        uint32_t total = 0;
        const RandomList::Flat *cut = nullptr;
        if (src.count() == 1 && count == 1 && ZUB_SG_KIND(src.first()[0]) == 0 &&
            ZUB_SG_KIND(dst.first()[0]) == 0) {
            total = offset < S ? std::min(D, S - offset) : 0;
            want = offset < S ? State{0, total, 0, offset + total, total} : kUntouched;
            cut = offset < S ? &dst.flat[0] : nullptr;
        } else if (S <= offset) {
            want = {-1, 0, src.endIndex, offset - S, 0};
            count = 0;
        } else if (D < S - offset) { // the destination runs out
            const auto *at = src.holding(offset + D);
            want = {dst.endIndex, 0, at->index, offset + D - at->start, total = D};
            count = dst.endCount;
        } else { // the source runs out
            total = S - offset;
            cut = dst.holding(total - 1);
            want = {cut->index, total - cut->start, src.endIndex, 0, total};
            count = cut->index + 1;
        }
        std::vector<uint8_t> arena = dst.arena;
        std::vector<uint32_t> lengths;
        for (const auto &f : dst.flat) {
            const auto at =
                static_cast<size_t>(static_cast<uint8_t *>(f.entry->data) - dst.arena.data());
            for (uint32_t i = f.start; i < std::min(total, f.start + f.entry->lengthAndKind); ++i) {
                arena[at + i - f.start] = src.bytes[offset + i];
            }
            lengths.push_back(&f == cut ? want.destinationPosition : f.entry->lengthAndKind);
        }
        int32_t gotCount = dst.count();
        State got = kUntouched;
        ASSERT_EQ(
            zubCopyScatterGather(dst.first(), &gotCount, src.first(), src.count(), offset, &got),
            total);
        ASSERT_EQ(gotCount, count);
        ASSERT_EQ(got, want);
        ASSERT_TRUE(dst.arena == arena);
        for (size_t k = 0; k < lengths.size(); ++k) {
            ASSERT_EQ(dst.flat[k].entry->lengthAndKind, lengths[k]) << "entry " << k;
        }

        // The view from the same offset describes exactly the tail.
        const auto *at = src.holding(offset);
        const int32_t needed = offset == 0                                              ? 1
                               : !at                                                    ? 0
                               : offset == at->start || at->index + 1 == at->arrayCount ? 1
                                                                                        : 2;
        const auto room = static_cast<int32_t>(rng() % 3);
        Entry view[2] = {data(nullptr, 7), data(nullptr, 7)};
        int32_t viewCount = room;
        const int32_t result =
            zubScatterGatherCreateListFrom(view, &viewCount, src.first(), src.count(), offset);
        if (needed > room) {
            ASSERT_TRUE(result == -22 && viewCount == room && view[0].lengthAndKind == 7 &&
                        view[1].lengthAndKind == 7);
            continue;
        }
        ASSERT_EQ(result, offset > S ? -2 : 0);
        ASSERT_EQ(viewCount, needed);
        std::vector<uint8_t> described;
        flatten(view, static_cast<uint32_t>(viewCount), described);
        ASSERT_EQ(described,
                  std::vector<uint8_t>(src.bytes.begin() + std::min(offset, S), src.bytes.end()));
    }
}
