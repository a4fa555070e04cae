#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "test_support.h"
#include "zub/scattergather.h"

namespace {

using Entry = zubScatterGatherEntry_t;
using State = zubScatterGatherCopyState_t;

Entry data(void *block, uint32_t length)
{
    return {block, ZUB_SG_WORD(ZUB_SG_KIND_DATA, length)};
}

Entry link(Entry *array, uint32_t count)
{
    return {array, ZUB_SG_WORD(ZUB_SG_KIND_LINK, count)};
}

std::vector<uint8_t> counting(uint8_t first, size_t n)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        v[i] = static_cast<uint8_t>(first + i);
    }
    return v;
}

void expect_state(const State &s, int32_t di, uint32_t dp, int32_t si, uint32_t sp, uint32_t total)
{
    EXPECT_EQ(s.destinationIndex, di);
    EXPECT_EQ(s.destinationPosition, dp);
    EXPECT_EQ(s.sourceIndex, si);
    EXPECT_EQ(s.sourcePosition, sp);
    EXPECT_EQ(s.total, total);
}

const State kUntouched = {111, 222, 333, 444, 555};

} // namespace

TEST(ScatterGatherCopy, OneBlockEachSideIsCutToWhatFits)
{
    auto src = counting(0, 100);
    Entry source = data(src.data(), 100);

    std::vector<uint8_t> small(50, 0xEE);
    Entry destination = data(small.data(), 50);
    int32_t count = 1;
    State state = kUntouched;
    EXPECT_EQ(zubCopyScatterGather(&destination, &count, &source, 1, 30, &state), 50u);
    EXPECT_EQ(ZUB_SG_LENGTH(destination), 50u);
    EXPECT_EQ(count, 1);
    expect_state(state, 0, 50, 0, 80, 50);
    EXPECT_EQ(small, counting(30, 50));

    std::vector<uint8_t> large(100, 0xEE);
    destination = data(large.data(), 100);
    EXPECT_EQ(zubCopyScatterGather(&destination, &count, &source, 1, 30, &state), 70u);
    EXPECT_EQ(destination.lengthAndKind, 70u);
    expect_state(state, 0, 70, 0, 100, 70);
    EXPECT_EQ(std::vector<uint8_t>(large.begin(), large.begin() + 70), counting(30, 70));
    EXPECT_EQ(large[70], 0xEE);
}

TEST(ScatterGatherCopy, OneBlockWithOffsetAtOrPastItsEndChangesNothing)
{
    auto src = counting(0, 20);
    Entry source = data(src.data(), 20);
    uint8_t block[8];
    for (uint32_t offset : {20u, 21u, 0xFFFFFFFFu}) {
        Entry destination = data(block, 8);
        int32_t count = 1;
        State state = kUntouched;
        EXPECT_EQ(zubCopyScatterGather(&destination, &count, &source, 1, offset, &state), 0u);
        EXPECT_EQ(count, 1);
        EXPECT_EQ(destination.lengthAndKind, 8u);
        expect_state(state, 111, 222, 333, 444, 555);
    }
}

TEST(ScatterGatherCopy, ThreeBlocksIntoTwoFromAnOffset)
{
    auto a = counting(0, 10), b = counting(10, 20), c = counting(30, 30);
    Entry source[3] = {data(a.data(), 10), data(b.data(), 20), data(c.data(), 30)};
    std::vector<uint8_t> x(25, 0xEE), y(25, 0xEE);
    Entry destination[2] = {data(x.data(), 25), data(y.data(), 25)};
    int32_t count = 2;
    State state = kUntouched;
    EXPECT_EQ(zubCopyScatterGather(destination, &count, source, 3, 15, &state), 45u);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(ZUB_SG_LENGTH(destination[0]), 25u);
    EXPECT_EQ(destination[1].lengthAndKind, 20u);
    expect_state(state, 1, 20, 3, 0, 45);
    EXPECT_EQ(x, counting(15, 25));
    EXPECT_EQ(std::vector<uint8_t>(y.begin(), y.begin() + 20), counting(40, 20));
    EXPECT_EQ(y[20], 0xEE);

    // The same without a state record, and through the by-value variant.
    Entry again[2] = {data(x.data(), 25), data(y.data(), 25)};
    EXPECT_EQ(zubReadScatterGatherPart(again, 2, source, 3, 15), 45u);
    EXPECT_EQ(again[1].lengthAndKind, 20u);
}

TEST(ScatterGatherCopy, SourceEndingBeforeTheOffsetWritesNothing)
{
    uint8_t a[4], b[6];
    Entry source[2] = {data(a, 4), data(b, 6)};
    uint8_t block[8];
    std::memset(block, 0xEE, sizeof block);
    Entry destination[1] = {data(block, 8)};
    int32_t count = 1;
    State state = kUntouched;
    EXPECT_EQ(zubCopyScatterGather(destination, &count, source, 2, 13, &state), 0u);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(destination[0].lengthAndKind, 8u);
    expect_state(state, -1, 0, 2, 3, 0);
    EXPECT_EQ(block[0], 0xEE);

    // Ending exactly at the offset: nothing left over.
    count = 1;
    EXPECT_EQ(zubCopyScatterGather(destination, &count, source, 2, 10, &state), 0u);
    EXPECT_EQ(count, 0);
    expect_state(state, -1, 0, 2, 0, 0);
}

TEST(ScatterGatherCopy, EmptyListsGiveAZeroStateAndCount)
{
    uint8_t a[4];
    Entry source[1] = {data(a, 4)};
    Entry destination[1] = {data(a, 4)};
    for (int32_t destinationCount : {0, -3, 1}) {
        for (int32_t sourceCount : {0, -1, 1}) {
            if (destinationCount == 1 && sourceCount == 1) {
                continue;
            }
            int32_t count = destinationCount;
            State state = kUntouched;
            EXPECT_EQ(zubCopyScatterGather(destination, &count, source, sourceCount, 0, &state), 0u);
            EXPECT_EQ(count, 0);
            expect_state(state, 0, 0, 0, 0, 0);
        }
    }
    // Null arrays count as empty lists; a null count is not written.
    int32_t count = 1;
    State state = kUntouched;
    EXPECT_EQ(zubCopyScatterGather(nullptr, &count, source, 1, 0, &state), 0u);
    EXPECT_EQ(count, 0);
    count = 1;
    EXPECT_EQ(zubCopyScatterGather(destination, &count, nullptr, 1, 0, &state), 0u);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(zubCopyScatterGather(destination, nullptr, source, 1, 0, &state), 0u);
    expect_state(state, 0, 0, 0, 0, 0);
    EXPECT_EQ(destination[0].lengthAndKind, 4u);
}

// A destination that continues through a link reports its count and index
// within the linked array, both when the source runs out and when the
// destination does.
TEST(ScatterGatherCopy, DestinationThroughALinkCountsInTheLinkedArray)
{
    auto src = counting(1, 30);
    uint8_t blocks[16];
    std::memset(blocks, 0xEE, sizeof blocks);
    Entry tail[3] = {data(blocks + 4, 4), data(blocks + 8, 4), data(blocks + 12, 4)};
    Entry head[3] = {data(blocks, 4), link(tail, 3), data(blocks, 99)}; // behind the link: not part of the list

    // The source runs out inside the linked array.
    Entry tenBytes[2] = {data(src.data(), 6), data(src.data() + 6, 4)};
    int32_t count = 3;
    State state = kUntouched;
    EXPECT_EQ(zubCopyScatterGather(head, &count, tenBytes, 2, 0, &state), 10u);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(tail[1].lengthAndKind, 2u);
    EXPECT_EQ(tail[2].lengthAndKind, 4u);
    expect_state(state, 1, 2, 2, 0, 10);
    EXPECT_EQ(zubtest::hex(blocks, 12), "01 02 03 04 05 06 07 08 09 0a ee ee");

    // The destination runs out: the count is the linked array's.
    Entry source[2] = {data(src.data(), 6), data(src.data() + 6, 24)};
    tail[1] = data(blocks + 8, 4);
    count = 3;
    EXPECT_EQ(zubCopyScatterGather(head, &count, source, 2, 10, &state), 16u);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(head[2].lengthAndKind, 99u);
    expect_state(state, 3, 0, 1, 20, 16);
    EXPECT_EQ(blocks[0], 11);
    EXPECT_EQ(blocks[15], 26);

    // Both run out together: the source is looked at first, so the walk
    // ends on the source side with the last destination entry full.
    count = 3;
    EXPECT_EQ(zubCopyScatterGather(head, &count, source, 2, 14, &state), 16u);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(tail[2].lengthAndKind, 4u);
    expect_state(state, 2, 4, 2, 0, 16);
}

// Links with a null pointer or a count of 0 end a list; entries of kinds 2
// and 3 and empty data entries add nothing on either side.
TEST(ScatterGatherCopy, TerminatingLinksAndForeignKindsArePassedOver)
{
    auto src = counting(0x30, 8);
    Entry more[2] = {{nullptr, 0x80000005u}, data(src.data() + 5, 3)};
    Entry source[4] = {data(src.data(), 5), {src.data(), 0xC0000009u}, data(nullptr, 0), link(more, 2)};
    EXPECT_EQ(zubGetTotalLength(source, 4), 8u);

    uint8_t blocks[12];
    std::memset(blocks, 0xEE, sizeof blocks);
    Entry destination[4] = {data(blocks, 0), {blocks, 0x80000004u}, data(blocks, 6), {nullptr, ZUB_SG_WORD(1, 0)}};
    int32_t count = 4;
    State state = kUntouched;
    EXPECT_EQ(zubCopyScatterGather(destination, &count, source, 4, 1, &state), 6u);
    EXPECT_EQ(count, 4); // ended at the terminating link: the array's count
    expect_state(state, 3, 0, 1, 2, 6);
    EXPECT_EQ(zubtest::hex(blocks, 7), "31 32 33 34 35 36 ee");
    EXPECT_EQ(destination[1].lengthAndKind, 0x80000004u);

    Entry ends[2] = {data(blocks, 2), link(nullptr, 5)};
    EXPECT_EQ(zubGetTotalLength(ends, 2), 2u);
}

TEST(ScatterGatherList, CreateListFromEachKindOfOffset)
{
    uint8_t a[10], b[20], c[30], d[5];
    Entry linked[2] = {data(c, 30), data(d, 5)};
    Entry source[4] = {data(a, 10), data(nullptr, 0), data(b, 20), link(linked, 2)};
    Entry result[2];
    int32_t count = 2;

    ASSERT_EQ(zubScatterGatherCreateListFrom(result, &count, source, 4, 0), 0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(result[0].data, source);
    EXPECT_EQ(result[0].lengthAndKind, ZUB_SG_WORD(1, 4));

    count = 2; // inside an earlier entry: its tail and a link to the rest
    ASSERT_EQ(zubScatterGatherCreateListFrom(result, &count, source, 4, 3), 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(result[0].data, a + 3);
    EXPECT_EQ(result[0].lengthAndKind, 7u);
    EXPECT_EQ(result[1].data, &source[1]);
    EXPECT_EQ(result[1].lengthAndKind, ZUB_SG_WORD(1, 3));
    EXPECT_EQ(zubGetTotalLength(result, count), 62u);

    count = 2; // exactly at the start of an entry: one link
    ASSERT_EQ(zubScatterGatherCreateListFrom(result, &count, source, 4, 10), 0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(result[0].data, &source[2]);
    EXPECT_EQ(result[0].lengthAndKind, ZUB_SG_WORD(1, 2));

    count = 2; // inside the last entry of the linked array: one data entry
    ASSERT_EQ(zubScatterGatherCreateListFrom(result, &count, source, 4, 62), 0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(result[0].data, d + 2);
    EXPECT_EQ(result[0].lengthAndKind, 3u);

    count = 2; // at the start of the linked array
    ASSERT_EQ(zubScatterGatherCreateListFrom(result, &count, source, 4, 30), 0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(result[0].data, linked);
    EXPECT_EQ(result[0].lengthAndKind, ZUB_SG_WORD(1, 2));
}

TEST(ScatterGatherList, CreateListFromEndsRoomAndNullArguments)
{
    uint8_t a[10], b[20];
    Entry source[2] = {data(a, 10), data(b, 20)};
    Entry result[2] = {data(nullptr, 77), data(nullptr, 77)};
    int32_t count = 2;
    EXPECT_EQ(zubScatterGatherCreateListFrom(result, &count, source, 2, 30), 0);
    EXPECT_EQ(count, 0);
    count = 2;
    EXPECT_EQ(zubScatterGatherCreateListFrom(result, &count, source, 2, 31), -2);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(result[0].lengthAndKind, 77u);

    count = 1; // two entries needed
    EXPECT_EQ(zubScatterGatherCreateListFrom(result, &count, source, 2, 4), -22);
    EXPECT_EQ(count, 1);
    count = 0;
    EXPECT_EQ(zubScatterGatherCreateListFrom(result, &count, source, 2, 0), -22);
    EXPECT_EQ(zubScatterGatherCreateListFrom(result, &count, source, 2, 12), -22);
    EXPECT_EQ(zubScatterGatherCreateListFrom(result, &count, source, 2, 10), -22);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(result[0].lengthAndKind, 77u);
    EXPECT_EQ(result[1].lengthAndKind, 77u);
    count = 1; // inside the last entry, one suffices
    EXPECT_EQ(zubScatterGatherCreateListFrom(result, &count, source, 2, 12), 0);
    EXPECT_EQ(count, 1);

    EXPECT_EQ(zubScatterGatherCreateListFrom(nullptr, &count, source, 2, 0), -22);
    EXPECT_EQ(zubScatterGatherCreateListFrom(result, nullptr, source, 2, 0), -22);
    count = 2;
    EXPECT_EQ(zubScatterGatherCreateListFrom(result, &count, nullptr, 2, 5), 0);
    EXPECT_EQ(count, 0);
    count = 2;
    EXPECT_EQ(zubScatterGatherCreateListFrom(result, &count, source, 0, 5), 0);
    EXPECT_EQ(count, 0);
}

TEST(ScatterGatherList, TotalLengthFollowsLinks)
{
    uint8_t bytes[12];
    Entry linked[1] = {data(bytes + 7, 5)};
    Entry list[3] = {data(bytes, 3), data(bytes + 3, 4), link(linked, 1)};
    EXPECT_EQ(zubGetTotalLength(list, 3), 12u);
    EXPECT_EQ(zubGetTotalLength(list, 2), 7u);
    EXPECT_EQ(zubGetTotalLength(nullptr, 3), 0u);
    EXPECT_EQ(zubGetTotalLength(list, 0), 0u);
    EXPECT_EQ(zubGetTotalLength(list, -1), 0u);
}

namespace {

// A random list with links, empty entries, entries of kinds 2 and 3,
// terminating links and unreachable entries behind links, together with
// what its walk must see: the data entries in order and where the walk ends.
struct FlatEntry {
    Entry *entry;
    Entry *array;
    int32_t index;
    int32_t arrayCount;
    uint32_t start; // position of its first byte in the list's data
};

class RandomList {
public:
    RandomList(std::mt19937 &rng, uint8_t fill, bool randomBytes) : rng_(rng)
    {
        arena_.assign(4096, fill);
        poison_.assign(64, 0x99);
        if (randomBytes) {
            for (auto &b : arena_) {
                b = static_cast<uint8_t>(rng_());
            }
        }
        const int32_t n = 1 + pick(5);
        first_ = newArray(n);
        count_ = n;
        build(first_, n, 0);
        for (const FlatEntry &f : flat_) {
            const auto *p = static_cast<const uint8_t *>(f.entry->data);
            bytes_.insert(bytes_.end(), p, p + ZUB_SG_LENGTH(*f.entry));
        }
    }

    Entry *first() { return first_; }
    int32_t count() const { return count_; }
    const std::vector<FlatEntry> &flat() const { return flat_; }
    const std::vector<uint8_t> &bytes() const { return bytes_; }
    int32_t endIndex() const { return endIndex_; }
    int32_t endArrayCount() const { return endArrayCount_; }
    std::vector<uint8_t> &arena() { return arena_; }
    const std::vector<uint8_t> &poison() const { return poison_; }

    // The non-empty entry holding byte `position`.
    const FlatEntry *holding(uint64_t position) const
    {
        for (const FlatEntry &f : flat_) {
            if (f.start <= position && position < f.start + ZUB_SG_LENGTH(*f.entry)) {
                return &f;
            }
        }
        return nullptr;
    }

private:
    int32_t pick(int32_t n) { return static_cast<int32_t>(rng_() % static_cast<uint32_t>(n)); }

    Entry *newArray(int32_t n)
    {
        arrays_.push_back(std::make_unique<Entry[]>(static_cast<size_t>(n)));
        return arrays_.back().get();
    }

    Entry junk() { return {poison_.data(), ZUB_SG_WORD(pick(4), 5)}; }

    void build(Entry *array, int32_t n, int depth)
    {
        for (int32_t i = 0; i < n; ++i) {
            const int32_t roll = pick(100);
            if (roll < 15 && depth < 3) {
                const int32_t m = 1 + pick(5);
                Entry *linked = newArray(m);
                array[i] = link(linked, static_cast<uint32_t>(m));
                fillJunk(array, i + 1, n);
                build(linked, m, depth + 1);
                return;
            }
            if (roll < 20) {
                array[i] = pick(2) ? link(nullptr, 1 + static_cast<uint32_t>(pick(4))) : link(first_, 0);
                fillJunk(array, i + 1, n);
                endIndex_ = i;
                endArrayCount_ = n;
                return;
            }
            if (roll < 30) {
                array[i] = {poison_.data(), ZUB_SG_WORD(2 + pick(2), 1 + pick(9))};
                continue;
            }
            const uint32_t length = roll < 45 ? 0 : 1 + static_cast<uint32_t>(pick(40));
            array[i] = data(length == 0 && pick(2) ? nullptr : arena_.data() + used_, length);
            flat_.push_back({&array[i], array, i, n, total_});
            used_ += length + 1 + static_cast<uint32_t>(pick(3)); // gaps between blocks
            total_ += length;
        }
        endIndex_ = n;
        endArrayCount_ = n;
    }

    void fillJunk(Entry *array, int32_t from, int32_t n)
    {
        for (int32_t j = from; j < n; ++j) {
            array[j] = junk();
        }
    }

    std::mt19937 &rng_;
    std::vector<std::unique_ptr<Entry[]>> arrays_;
    std::vector<uint8_t> arena_;
    std::vector<uint8_t> poison_;
    std::vector<FlatEntry> flat_;
    std::vector<uint8_t> bytes_;
    Entry *first_ = nullptr;
    int32_t count_ = 0;
    int32_t endIndex_ = 0;
    int32_t endArrayCount_ = 0;
    uint32_t used_ = 0;
    uint32_t total_ = 0;
};

// The bytes a list describes, by a plain recursive walk.
void flatten(const Entry *array, int32_t count, std::vector<uint8_t> &out)
{
    for (int32_t i = 0; i < count; ++i) {
        const Entry &e = array[i];
        if (ZUB_SG_KIND(e) == ZUB_SG_KIND_DATA) {
            const auto *p = static_cast<const uint8_t *>(e.data);
            out.insert(out.end(), p, p + ZUB_SG_LENGTH(e));
        } else if (ZUB_SG_KIND(e) == ZUB_SG_KIND_LINK) {
            if (e.data != nullptr && ZUB_SG_LENGTH(e) != 0) {
                flatten(static_cast<const Entry *>(e.data), static_cast<int32_t>(ZUB_SG_LENGTH(e)), out);
            }
            return;
        }
    }
}

#if defined(__arm__)
const int kRandomRounds = 3000;
#else
const int kRandomRounds = 20000;
#endif

} // namespace

// Differential test: the copy's bytes, count, cut entry and state against a
// reference computed from the flattened lists.
TEST(ScatterGatherCopy, RandomListsMatchAFlattenedCopy)
{
    for (int round = 0; round < kRandomRounds; ++round) {
        const unsigned seed = 0xC0DE0000u + static_cast<unsigned>(round);
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        std::mt19937 rng(seed);
        RandomList source(rng, 0, true);
        RandomList destination(rng, 0xEE, false);
        const auto S = static_cast<uint32_t>(source.bytes().size());
        const auto D = static_cast<uint32_t>(destination.bytes().size());
        ASSERT_EQ(zubGetTotalLength(source.first(), source.count()), S);
        const uint32_t offset = static_cast<uint32_t>(rng() % (S + 10));

        // Expected destination: arena bytes and entries.
        std::vector<uint8_t> expectedArena = destination.arena();
        std::vector<Entry> entriesBefore;
        for (const FlatEntry &f : destination.flat()) {
            entriesBefore.push_back(*f.entry);
        }
        std::vector<uint32_t> expectedLengths;
        for (const Entry &e : entriesBefore) {
            expectedLengths.push_back(ZUB_SG_LENGTH(e));
        }
        int32_t expectedCount;
        State expectedState;
        uint32_t expectedTotal;
        const bool single = source.count() == 1 && destination.count() == 1 &&
                            ZUB_SG_KIND(source.first()[0]) == 0 && ZUB_SG_KIND(destination.first()[0]) == 0;
        if (single) {
            const uint32_t sourceLength = ZUB_SG_LENGTH(source.first()[0]);
            if (sourceLength <= offset) {
                expectedTotal = 0;
                expectedCount = destination.count();
                expectedState = kUntouched;
            } else {
                expectedTotal = std::min(D, sourceLength - offset);
                expectedCount = 1;
                expectedLengths[0] = expectedTotal;
                expectedState = {0, expectedTotal, 0, offset + expectedTotal, expectedTotal};
            }
        } else if (S <= offset) {
            expectedTotal = 0;
            expectedCount = 0;
            expectedState = {-1, 0, source.endIndex(), offset - S, 0};
        } else if (D < S - offset) {
            expectedTotal = D;
            expectedCount = destination.endArrayCount();
            const FlatEntry *at = source.holding(offset + D);
            ASSERT_NE(at, nullptr);
            expectedState = {destination.endIndex(), 0, at->index, offset + D - at->start, D};
        } else {
            expectedTotal = S - offset;
            const FlatEntry *last = destination.holding(expectedTotal - 1);
            ASSERT_NE(last, nullptr);
            const uint32_t q = expectedTotal - last->start;
            expectedCount = last->index + 1;
            expectedLengths[static_cast<size_t>(last - destination.flat().data())] = q;
            expectedState = {last->index, q, source.endIndex(), 0, expectedTotal};
        }
        for (uint32_t i = 0; i < expectedTotal; ++i) {
            const FlatEntry *f = destination.holding(i);
            const auto *block = static_cast<uint8_t *>(f->entry->data);
            expectedArena[static_cast<size_t>(block - destination.arena().data()) + (i - f->start)] =
                source.bytes()[offset + i];
        }

        int32_t count = destination.count();
        State state = kUntouched;
        ASSERT_EQ(zubCopyScatterGather(destination.first(), &count, source.first(), source.count(), offset, &state),
                  expectedTotal);
        ASSERT_EQ(count, expectedCount);
        ASSERT_EQ(state.destinationIndex, expectedState.destinationIndex);
        ASSERT_EQ(state.destinationPosition, expectedState.destinationPosition);
        ASSERT_EQ(state.sourceIndex, expectedState.sourceIndex);
        ASSERT_EQ(state.sourcePosition, expectedState.sourcePosition);
        ASSERT_EQ(state.total, expectedState.total);
        ASSERT_EQ(destination.arena(), expectedArena);
        ASSERT_EQ(destination.poison(), std::vector<uint8_t>(64, 0x99));
        for (size_t k = 0; k < entriesBefore.size(); ++k) {
            ASSERT_EQ(destination.flat()[k].entry->data, entriesBefore[k].data);
            ASSERT_EQ(destination.flat()[k].entry->lengthAndKind, expectedLengths[k]) << "entry " << k;
        }
    }
}

// Differential test: the view built from an offset describes exactly the
// source's bytes from there on, in the documented shape.
TEST(ScatterGatherList, RandomViewsDescribeTheTail)
{
    for (int round = 0; round < kRandomRounds; ++round) {
        const unsigned seed = 0xFACE0000u + static_cast<unsigned>(round);
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        std::mt19937 rng(seed);
        RandomList source(rng, 0, true);
        const auto S = static_cast<uint32_t>(source.bytes().size());
        const uint32_t offset = rng() % 4 == 0 ? 0 : static_cast<uint32_t>(rng() % (S + 3));
        const int32_t room = static_cast<int32_t>(rng() % 3);

        int32_t expectedResult = 0;
        int32_t needed = 0;
        int32_t expectedCount = 0;
        if (offset == 0) {
            needed = expectedCount = 1;
        } else if (offset > S) {
            expectedResult = -2;
        } else if (offset < S) {
            const FlatEntry *at = source.holding(offset);
            ASSERT_NE(at, nullptr);
            needed = expectedCount = (offset == at->start || at->index + 1 == at->arrayCount) ? 1 : 2;
        }
        if (needed > room) {
            expectedResult = -22;
            expectedCount = room;
        }

        Entry result[2] = {{nullptr, 0x3FFFFFFFu}, {nullptr, 0x3FFFFFFFu}};
        int32_t count = room;
        ASSERT_EQ(zubScatterGatherCreateListFrom(result, &count, source.first(), source.count(), offset),
                  expectedResult);
        ASSERT_EQ(count, expectedCount);
        if (expectedResult == -22) {
            ASSERT_EQ(result[0].lengthAndKind, 0x3FFFFFFFu);
            ASSERT_EQ(result[1].lengthAndKind, 0x3FFFFFFFu);
            continue;
        }
        std::vector<uint8_t> described;
        flatten(result, count, described);
        ASSERT_EQ(described, std::vector<uint8_t>(source.bytes().begin() + std::min(offset, S), source.bytes().end()));
        if (count == 2) {
            ASSERT_EQ(ZUB_SG_KIND(result[0]), ZUB_SG_KIND_DATA);
            ASSERT_EQ(ZUB_SG_KIND(result[1]), ZUB_SG_KIND_LINK);
        }
    }
}
