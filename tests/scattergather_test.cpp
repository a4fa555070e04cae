#include <gtest/gtest.h>

#include "test_support.h"
#include "zub/scattergather.h"

namespace {

using Entry = zubScatterGatherEntry_t;

Entry data(void *block, uint32_t length)
{
    return {block, ZUB_SG_WORD(ZUB_SG_KIND_DATA, length)};
}
// A copy with a count and a state filled in beforehand: what it returns,
// the count after it and the five state fields.
std::vector<int64_t> copy(Entry *to, int32_t count, const Entry *from, int32_t n, uint32_t offset)
{
    zubScatterGatherCopyState_t s = {111, 222, 333, 444, 555};
    const uint32_t copied = zubCopyScatterGather(to, &count, from, n, offset, &s);
    return {copied,           count,  s.destinationIndex, s.destinationPosition, s.sourceIndex,
            s.sourcePosition, s.total};
}
using V = std::vector<int64_t>;

} // namespace

TEST(ScatterGather, WorkedCopiesAndViews)
{
    auto src = zubtest::seq(0, 100);
    std::vector<uint8_t> small(50), large(100);
    Entry one = data(src.data(), 100), destination = data(small.data(), 50);
    // One block each side: a single cut copy; an offset past the source block changes nothing.
    EXPECT_EQ(copy(&destination, 1, &one, 1, 100), (V{0, 1, 111, 222, 333, 444, 555}));
    EXPECT_EQ(copy(&destination, 1, &one, 1, 30), (V{50, 1, 0, 50, 0, 80, 50}));
    destination = data(large.data(), 100);
    EXPECT_EQ(copy(&destination, 1, &one, 1, 30), (V{70, 1, 0, 70, 0, 100, 70}));
    EXPECT_EQ(destination.lengthAndKind, 70u);

    // Three source blocks: the source's data end before the offset, nothing
    // written, the rest of the offset left over.
    Entry source[3] = {data(src.data(), 10), data(src.data() + 10, 20), data(src.data() + 30, 30)};
    Entry two[2] = {data(small.data(), 25), data(large.data(), 25)};
    EXPECT_EQ(copy(two, 2, source, 2, 33), (V{0, 0, -1, 0, 2, 3, 0}));
    // An empty list on either side (a null destination list whatever its count says).
    EXPECT_EQ(copy(two, -1, source, 3, 0), copy(two, 0, source, 3, 0));
    EXPECT_EQ(copy(two, 0, source, 3, 0), V(7, 0));
    EXPECT_EQ(copy(nullptr, 2, source, 1, 0), V(7, 0));
    // The by-value form cuts entries too.
    EXPECT_EQ(zubReadScatterGatherPart(two, 1, source, 3, 50), 10u);
    EXPECT_EQ(two[0].lengthAndKind, 10u);

    // A view from the start is a link to the whole list; from inside an
    // entry, the entry's tail and a link to the rest.
    Entry view[3];
    int32_t count = 3;
    EXPECT_TRUE(zubScatterGatherCreateListFrom(view, &count, source, 3, 0) == 0 && count == 1 &&
                view[0].data == source &&
                view[0].lengthAndKind == ZUB_SG_WORD(ZUB_SG_KIND_LINK, 3));
    count = 3;
    EXPECT_TRUE(zubScatterGatherCreateListFrom(view, &count, source, 3, 3) == 0 && count == 2 &&
                view[0].data == src.data() + 3 && view[0].lengthAndKind == 7 &&
                view[1].data == source + 1 &&
                view[1].lengthAndKind == ZUB_SG_WORD(ZUB_SG_KIND_LINK, 2));
    EXPECT_TRUE(zubScatterGatherCreateListFrom(view, &count, source, 0, 5) == 0 && count == 0);
    EXPECT_EQ(zubGetTotalLength(nullptr, 3) + zubGetTotalLength(source, 0), 0u);
    // Entries of the two kinds the library never makes are passed over by a copy.
    Entry odd[3] = {
        {src.data(), ZUB_SG_WORD(2, 5)}, data(src.data() + 7, 4), {src.data(), ZUB_SG_WORD(3, 5)}};
    destination = data(small.data(), 50);
    EXPECT_TRUE(copy(&destination, 1, odd, 3, 0)[0] == 4 && small[0] == 7 && small[3] == 10);
}
