#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

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
    Header h, original, expected;
    std::memset(&h, 0x77, sizeof h); // padding, counted members and the time's padding stay
    h.a = 0x1234;
    h.b = 0x11223344;
    h.c = 0x0102030405060708ull;
    h.when.seconds = 0x0A0B0C0D0E0F1011ll;
    h.when.nanoseconds = 0x01020304;
    h.blob = {2, data};
    std::memcpy(&original, &h, sizeof h);
    std::memcpy(&expected, &h, sizeof h);
    expected.a = 0x3412;
    expected.b = 0x44332211u;
    expected.c = 0x0807060504030201ull;
    expected.when.seconds = static_cast<int64_t>(0x11100F0E0D0C0B0Aull);
    expected.when.nanoseconds = 0x04030201u;
    zubProtocolToHost(&h, &h, &headerTable);
    EXPECT_EQ(std::memcmp(&h, &expected, sizeof h), 0);
    EXPECT_EQ(data[0], 0xAABBCCDDu);
    zubHostToProtocol(&h, &h, &headerTable);
    EXPECT_EQ(std::memcmp(&h, &original, sizeof h), 0);

    // Distinct buffers: integers from the source, a nested structure within
    // the destination, counted members not copied.
    Header source;
    std::memset(&source, 0x11, sizeof source);
    source.a = 0x0102;
    h.when.nanoseconds = 0x0A0B0C0D;
    zubProtocolToHost(&h, &source, &headerTable);
    EXPECT_TRUE(h.a == 0x0201 && h.b == 0x11111111u && h.d == 0x11);
    EXPECT_TRUE(h.when.nanoseconds == 0x0D0C0B0Au && h.blob.count == 2);

    // Only kind 0 ends the table here: an integer entry whose argument is
    // the other walkers' end mark is converted, and so is what follows; a
    // nested entry without a table is passed over.
    uint16_t pair[2] = {0x0102, 0x0304};
    const zubEndianInfoEntry_t marked[] = {ZUB_ENTRY_RAW(0, ZUB_DESER_TYPE_U16, UINTPTR_MAX),
                                           ZUB_ENTRY_RAW(0, ZUB_DESER_TYPE_TABLE, 0),
                                           ZUB_ENTRY_RAW(2, ZUB_DESER_TYPE_U16, 0), ZUB_ENTRY_END};
    const zubEndianTable_t markedTable = {sizeof pair, marked};
    zubProtocolToHost(pair, pair, &markedTable);
    EXPECT_TRUE(pair[0] == 0x0201 && pair[1] == 0x0403);
}

// The nesting limit of the conversion and its message, and the null
// arguments that leave the data alone.
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
    zubProtocolToHost(data, nullptr, &table);
    zubProtocolToHost(nullptr, data, &table);
    zubHostToProtocol(data, data, nullptr);
    EXPECT_EQ(data[20], 0);
}
