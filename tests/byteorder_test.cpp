#include <gtest/gtest.h>

#include <cstring>

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
    ZUB_ENTRY_U16(Header, a), ZUB_ENTRY_U32(Header, b), ZUB_ENTRY_U64(Header, c), ZUB_ENTRY_U8(Header, d),
    ZUB_ENTRY_TABLE(Header, when, __zub_EndianTable_zubOsalTime_t),
    ZUB_ENTRY_VAR32(Header, blob.count, blob.data, 4), ZUB_ENTRY_END};
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
    EXPECT_EQ(destination.blob.count, 0x22222222u);        // counted members are not copied
}
