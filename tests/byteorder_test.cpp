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

TEST(ByteOrder, ChainsConvertAtAnyDepthAndCyclesReturn)
{
    // 300 distinct tables, each a 16-bit member after its nested structure:
    // every member swapped, no message.
    constexpr size_t kLevels = 300;
    std::vector<zubEndianTable_t> tables(kLevels);
    std::vector<std::vector<zubEndianInfoEntry_t>> lists(kLevels);
    for (size_t k = kLevels; k-- > 0;) {
        const auto own = static_cast<size_t>(2 * (kLevels - 1 - k));
        lists[k] = {ZUB_ENTRY_RAW(own, ZUB_DESER_TYPE_U16, 0), ZUB_ENTRY_END};
        if (k + 1 < kLevels)
            lists[k].insert(lists[k].begin(),
                            ZUB_ENTRY_RAW(0, ZUB_DESER_TYPE_TABLE, &tables[k + 1]));
        tables[k] = {static_cast<uint32_t>(own + 2), lists[k].data()};
    }
    std::vector<uint8_t> data = zubtest::seq(0, 2 * kLevels), expected = data;
    for (size_t i = 0; i < expected.size(); i += 2)
        std::swap(expected[i], expected[i + 1]);
    zubtest::DebugCapture capture;
    zubProtocolToHost(data.data(), data.data(), &tables[0]);
    EXPECT_EQ(data, expected);

    // {U16 at 0, B at 2} and {U16 at 0, A at 2}, and a table holding itself
    // at 1: each table is converted once, and nothing past it is touched.
    static zubEndianInfoEntry_t a[] = {ZUB_ENTRY_RAW(0, ZUB_DESER_TYPE_U16, 0),
                                       ZUB_ENTRY_RAW(2, ZUB_DESER_TYPE_TABLE, 0), ZUB_ENTRY_END};
    static zubEndianInfoEntry_t b[] = {ZUB_ENTRY_RAW(0, ZUB_DESER_TYPE_U16, 0),
                                       ZUB_ENTRY_RAW(2, ZUB_DESER_TYPE_TABLE, 0), ZUB_ENTRY_END};
    static zubEndianInfoEntry_t self[] = {ZUB_ENTRY_RAW(0, ZUB_DESER_TYPE_U16, 0),
                                          ZUB_ENTRY_RAW(1, ZUB_DESER_TYPE_TABLE, 0), ZUB_ENTRY_END};
    static const zubEndianTable_t tableA = {4, a}, tableB = {4, b}, tableSelf = {2, self};
    a[1].argument.table = &tableB;
    b[1].argument.table = &tableA;
    self[1].argument.table = &tableSelf;
    uint8_t bytes[8] = {0, 1, 2, 3, 4, 5, 6, 7};
    zubProtocolToHost(bytes, bytes, &tableA);
    EXPECT_EQ(zubtest::hex(bytes, 8), "01 00 03 02 04 05 06 07");
    zubHostToProtocol(bytes, bytes, &tableSelf);
    EXPECT_EQ(zubtest::hex(bytes, 8), "00 01 03 02 04 05 06 07");
    EXPECT_TRUE(capture.messages().empty());
    // A null pointer or table leaves the data alone.
    zubProtocolToHost(bytes, nullptr, &tableA);
    zubProtocolToHost(nullptr, bytes, &tableA);
    zubHostToProtocol(bytes, bytes, nullptr);
    EXPECT_EQ(bytes[0], 0);
}
