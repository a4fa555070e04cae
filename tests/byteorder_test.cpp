#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "serial_random.h"
#include "test_support.h"
#include "zub/serialization.h"

namespace {

struct Header {
    uint16_t a;
    uint32_t b;
    uint64_t c;
    uint8_t d;
    zubOsalTime_t when;
    zubDeserBlobUint32_t blob;
};
const zubEndianInfoEntry_t headerEntries[] = {
    ZUB_ENTRY_U16(Header, a),
    ZUB_ENTRY_U32(Header, b),
    ZUB_ENTRY_U64(Header, c),
    ZUB_ENTRY_U8(Header, d),
    ZUB_ENTRY_TABLE(Header, when, __zub_EndianTable_zubOsalTime_t),
    ZUB_ENTRY_VAR32(Header, blob.count, blob.data, 4),
    ZUB_ENTRY_END};
const zubEndianTable_t headerTable = ZUB_ENDIAN_TABLE(Header, headerEntries);

} // namespace

TEST(ByteOrder, InPlaceSwapsIntegersAndNestedMembersOnly)
{
    uint32_t data[2] = {0xAABBCCDD, 0x11223344};
    Header h;
    std::memset(&h, 0x77, sizeof h); // padding and undescribed bytes stay
    h.a = 0x1234;
    h.b = 0x11223344;
    h.c = 0x0102030405060708ull;
    h.d = 0x9F;
    h.when.seconds = 0x0A0B0C0D0E0F1011ll; // members one by one: padding keeps its marks
    h.when.nanoseconds = 0x01020304;
    h.blob.count = 2;
    h.blob.data = data;
    Header original, expected;
    std::memcpy(&original, &h, sizeof h);
    std::memcpy(&expected, &h, sizeof h);
    expected.a = 0x3412;
    expected.b = 0x44332211u;
    expected.c = 0x0807060504030201ull;
    expected.when.seconds = static_cast<int64_t>(0x11100F0E0D0C0B0Aull);
    expected.when.nanoseconds = 0x04030201u;

    zubProtocolToHost(&h, &h, &headerTable);
    EXPECT_EQ(std::memcmp(&h, &expected, sizeof h), 0);
    EXPECT_EQ(data[0], 0xAABBCCDDu); // counted members: neither count nor elements
    zubHostToProtocol(&h, &h, &headerTable);
    EXPECT_EQ(std::memcmp(&h, &original, sizeof h), 0);

    const zubEndianInfoEntry_t nothing[] = {ZUB_ENTRY_END};
    const zubEndianTable_t empty = {sizeof h, nothing};
    zubProtocolToHost(&h, &h, &empty);
    EXPECT_EQ(std::memcmp(&h, &original, sizeof h), 0);

    // Only kind 0 ends the table here: an integer entry whose argument is
    // the other walkers' end mark is converted, and so is what follows; a
    // nested entry without a table is passed over.
    uint16_t pair[2] = {0x0102, 0x0304};
    const zubEndianInfoEntry_t marked[] = {ZUB_ENTRY_RAW(0, ZUB_DESER_TYPE_U16, UINTPTR_MAX),
                                           ZUB_ENTRY_RAW(0, ZUB_DESER_TYPE_TABLE, 0),
                                           ZUB_ENTRY_RAW(2, ZUB_DESER_TYPE_U16, 0), ZUB_ENTRY_END};
    const zubEndianTable_t markedTable = {sizeof pair, marked};
    zubProtocolToHost(pair, pair, &markedTable);
    EXPECT_EQ(pair[0], 0x0201);
    EXPECT_EQ(pair[1], 0x0403);
}

TEST(ByteOrder, DistinctBuffersConvertFromSourceAndNestedWithinDestination)
{
    Header source, destination;
    std::memset(&source, 0x11, sizeof source);
    std::memset(&destination, 0x22, sizeof destination);
    source.a = 0x0102;
    source.d = 0x33;
    destination.when.nanoseconds = 0x0A0B0C0D;
    zubProtocolToHost(&destination, &source, &headerTable);
    EXPECT_EQ(destination.a, 0x0201);
    EXPECT_EQ(destination.b, 0x11111111u);
    EXPECT_EQ(destination.d, 0x33);
    EXPECT_EQ(destination.when.nanoseconds, 0x0D0C0B0Au); // the destination's own nested member
    EXPECT_EQ(destination.blob.count, 0x22222222u);       // counted members are not copied
}

namespace {

// The documented rule: integers reversed in place, nested structures too,
// nothing inside counted members.
void reverseIntegers(const zubtest::RandomSchema &schema, int type, uint8_t *structure)
{
    for (const zubtest::RandomField &f : schema.types()[static_cast<size_t>(type)].fields) {
        if (f.kind == ZUB_DESER_TYPE_TABLE) {
            reverseIntegers(schema, f.type, structure + f.offset);
        } else if (f.kind == 1 || f.kind == 2 || f.kind == 4 || f.kind == 8) {
            std::reverse(structure + f.offset, structure + f.offset + f.kind);
        }
    }
}

} // namespace

TEST(ByteOrder, RandomStructuresHaveEveryIntegerReversed)
{
    const uint32_t first = zubtest::testSeed(1);
    for (uint32_t seed = first; seed < first + 200; ++seed) {
        zubtest::RandomSchema schema(seed);
        zubtest::RandomValue value(schema, seed);
        auto *data = static_cast<uint8_t *>(value.data());
        std::vector<uint8_t> expected(data, data + schema.types()[0].size);
        reverseIntegers(schema, 0, expected.data());
        zubProtocolToHost(data, data, schema.table());
        ASSERT_EQ(std::vector<uint8_t>(data, data + expected.size()), expected) << "seed " << seed;
    }
}

TEST(ByteOrder, ATableThatContainsItselfStopsAtTheDefaultDepth)
{
    // {U16 at 0, itself at 1}: level k swaps bytes k and k + 1, so byte 0
    // travels one place per level: to 20 after the top and 19 levels below.
    static zubEndianInfoEntry_t entries[] = {ZUB_ENTRY_RAW(0, ZUB_DESER_TYPE_U16, 0),
                                             ZUB_ENTRY_RAW(1, ZUB_DESER_TYPE_TABLE, 0),
                                             ZUB_ENTRY_END};
    static const zubEndianTable_t table = {2, entries};
    entries[1].argument.table = &table;
    uint8_t data[24];
    for (uint8_t i = 0; i < 24; ++i)
        data[i] = i;
    zubtest::DebugCapture capture;
    zubProtocolToHost(data, data, &table);
    EXPECT_EQ(zubtest::hex(data, 24),
              "01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10 11 12 13 14 00 15 16 17");
    EXPECT_EQ(capture.messages(),
              std::vector<std::string>{"Endian table nested deeper than 19 levels.\n"});
    EXPECT_EQ(capture.site(0), (std::vector<uint32_t>{0x00020BB8u, 3, 0}));
    // A null pointer or table leaves the data alone.
    zubProtocolToHost(data, nullptr, &table);
    zubProtocolToHost(nullptr, data, &table);
    zubHostToProtocol(data, data, nullptr);
    EXPECT_EQ(data[20], 0);
}
