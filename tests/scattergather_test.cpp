#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "test_support.h"
#include "zub/scattergather.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

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
std::vector<int64_t> fields(const State &s)
{
    return {s.destinationIndex, s.destinationPosition, s.sourceIndex, s.sourcePosition, s.total};
}

} // namespace

TEST(ScatterGatherCopy, WorkedExamples)
{
    auto src = seq(0, 100);
    std::vector<uint8_t> small(50), large(100);
    Entry one = data(src.data(), 100), destination = data(small.data(), 50);
    int32_t count = 1;
    State state = {111, 222, 333, 444, 555};
    // One block each side: a single cut copy; an offset past the source block changes nothing.
    EXPECT_EQ(zubCopyScatterGather(&destination, &count, &one, 1, 100, &state), 0u);
    EXPECT_EQ(fields(state), (std::vector<int64_t>{111, 222, 333, 444, 555}));
    EXPECT_EQ(zubCopyScatterGather(&destination, &count, &one, 1, 30, &state), 50u);
    EXPECT_EQ(fields(state), (std::vector<int64_t>{0, 50, 0, 80, 50}));
    EXPECT_TRUE(destination.lengthAndKind == 50 && small == seq(30, 50));
    destination = data(large.data(), 100);
    EXPECT_EQ(zubCopyScatterGather(&destination, &count, &one, 1, 30, &state), 70u);
    EXPECT_TRUE(destination.lengthAndKind == 70 && count == 1);

    // Three source blocks from offset 15 into two blocks of 25.
    Entry source[3] = {data(src.data(), 10), data(src.data() + 10, 20), data(src.data() + 30, 30)};
    Entry two[2] = {data(small.data(), 25), data(large.data(), 25)};
    count = 2;
    EXPECT_EQ(zubCopyScatterGather(two, &count, source, 3, 15, &state), 45u);
    EXPECT_EQ(fields(state), (std::vector<int64_t>{1, 20, 3, 0, 45}));
    EXPECT_TRUE(count == 2 && two[1].lengthAndKind == 20 && large[0] == 40 && large[19] == 59);
    // The source's data end before the offset: nothing written, the rest of the offset left over.
    EXPECT_EQ(zubCopyScatterGather(two, &count, source, 2, 33, &state), 0u);
    EXPECT_EQ(fields(state), (std::vector<int64_t>{-1, 0, 2, 3, 0}));
    EXPECT_EQ(count, 0);
    // An empty list on either side; the by-value form cuts entries too.
    for (int32_t empty : {-1, 0}) {
        count = empty;
        EXPECT_EQ(zubCopyScatterGather(two, &count, source, 3, 0, &state), 0u);
        EXPECT_EQ(fields(state), (std::vector<int64_t>{0, 0, 0, 0, 0}));
        EXPECT_EQ(count, 0);
    }
    EXPECT_EQ(zubCopyScatterGather(nullptr, nullptr, nullptr, 1, 0, nullptr), 0u);
    count = 2; // a null destination list is empty whatever its count says
    EXPECT_TRUE(zubCopyScatterGather(nullptr, &count, source, 1, 0, nullptr) == 0u && count == 0);
    EXPECT_EQ(zubReadScatterGatherPart(two, 1, source, 3, 50), 10u);
    EXPECT_EQ(two[0].lengthAndKind, 10u);
}

TEST(ScatterGatherList, CreateListFromEachKindOfOffsetAndTotalLength)
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
        EXPECT_TRUE(result[0].data == expected.first.data &&
                    result[1].data == expected.second.data &&
                    result[0].lengthAndKind == expected.first.lengthAndKind &&
                    result[1].lengthAndKind == expected.second.lengthAndKind);
    }
    Entry result[2];
    int32_t count = 2;
    EXPECT_EQ(zubScatterGatherCreateListFrom(result, &count, source, 4, 66), -2);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(zubScatterGatherCreateListFrom(result, &count, source, 4, 62), -22); // no room
    EXPECT_EQ(zubScatterGatherCreateListFrom(nullptr, &count, source, 4, 0), -22);
    count = 2;
    EXPECT_TRUE(zubScatterGatherCreateListFrom(result, &count, source, 0, 5) == 0 && count == 0);

    // Total length: links followed, kinds 2 and 3 passed over, a null link ends the list.
    linked[0] = {b, 0xC0000009u};
    Entry list[4] = {data(a, 3), {b, 0x80000005u}, data(a + 3, 4), link(linked, 2)};
    EXPECT_EQ(zubGetTotalLength(list, 4), 12u);
    linked[0] = link(nullptr, 3);
    EXPECT_EQ(zubGetTotalLength(list, 4), 7u);
    EXPECT_EQ(zubGetTotalLength(list, 1), 3u);
    EXPECT_EQ(zubGetTotalLength(nullptr, 3) + zubGetTotalLength(list, 0), 0u);
}

// Copy, read-part, create-list and total length on lists with links,
// terminating links and other kinds, against a flattened model (the fuzz
// harness).
TEST(ScatterGather, MatchesTheFlattenedModel)
{
    EXPECT_GT(zubtest::replayHarness("scattergather", LLVMFuzzerTestOneInput, 300, 600, 0x56u), 0u);
}
