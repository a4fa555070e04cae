#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "deser_test_util.h"
#include "test_support.h"
#include "zub/serialization.h"

namespace {

// Elements with a string and an array of strings.
struct Element {
    zubDeserString_t text;
    uint8_t n;
    zubDeserString_t *more;
};
const zubEndianInfoEntry_t elementEntries[] = {
    ZUB_ENTRY_VAR32(Element, text.count, text.data, 1),
    ZUB_ENTRY_VAR8_TABLE(Element, n, more, __zub_EndianTable_zubDeserString_t), ZUB_ENTRY_END};
const zubEndianTable_t elementTable = ZUB_ENDIAN_TABLE(Element, elementEntries);
struct Top {
    uint32_t count;
    Element *data;
};
const zubEndianInfoEntry_t topEntries[] = {ZUB_ENTRY_VAR32_TABLE(Top, count, data, elementTable),
                                           ZUB_ENTRY_END};
const zubEndianTable_t topTable = ZUB_ENDIAN_TABLE(Top, topEntries);

} // namespace

// Elements mark themselves with their index; the second one's nested array
// does not fit a one-level stack, so the walk stops inside the array, with
// both marks readable and the array not yet freed. With room, every block
// goes and the array's pointer reads 0x87 bytes; the array of strings left
// empty keeps its pointer. The stack comes from malloc: maxDepth + 1
// records, 20 by default, at most the 65535 a 16-bit capacity counts.
TEST(Dealloc, MarksWhatItFreedAndStopsWhereTheStackEnds)
{
    static zubfuzz::BlockLog log;
    for (const auto &[maxDepth, records] :
         {std::pair{1, 2u}, {2, 3u}, {-1, 20u}, {INT32_MAX, 65535u}, {65535, 65535u}}) {
        Top top{};
        log.clear();
        deser::Walk w(&topTable, &top);
        w.log = &log;
        w.feed(zubtest::bytes("00 00 00 02 00 00 00 01 61 00 00 00 00 01 62 01 00 00 00 00"));
        Element *elements = top.data;
        elements[0].more = reinterpret_cast<zubDeserString_t *>(0x10); // count 0: not followed
        const size_t made = log.count;
        const int32_t result = zubfuzz::recorded(
            &log, [&] { return _zubDeserMemoryDealloc(&topTable, &top, maxDepth); });
        EXPECT_EQ(log.blocks[made].size, records * sizeof(zubDeserTableState_t));
        EXPECT_TRUE(log.foreign == 0 && top.count == 2);
        if (maxDepth != 1) {
            EXPECT_TRUE(result == 0 && log.live == 0);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(top.data), UINTPTR_MAX / 255 * 0x87);
            continue;
        }
        EXPECT_TRUE(result == -1000 && log.live == 2 && top.data == elements);
        EXPECT_TRUE(elements[0].text.count == 0x57575700u && elements[1].text.count == 0x57575701u);
        EXPECT_EQ(elements[0].more, reinterpret_cast<zubDeserString_t *>(0x10));
        log.freeLeftovers();
    }

    // A string: freed, its count reads the marker, its pointer is kept.
    zubDeserString_t text{3, static_cast<char *>(std::malloc(3))};
    char *old = text.data;
    EXPECT_EQ(_zubDeserMemoryDealloc(&__zub_EndianTable_zubDeserString_t, &text, -1), 0);
    EXPECT_TRUE(text.count == 0x57575700u && text.data == old);
    EXPECT_EQ(_zubDeserMemoryDealloc(nullptr, &text, -1), -1);
    EXPECT_EQ(_zubDeserMemoryDealloc(&__zub_EndianTable_zubDeserString_t, nullptr, -1), -1);
}
