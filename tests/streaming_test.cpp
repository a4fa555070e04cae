// Streams around the serializer without new exports: the header-only size
// before writing, and decoding straight out of a ring buffer that wraps.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "deser_test_util.h"
#include "serial_random.h"
#include "test_support.h"
#include "zub/ringbuffer.h"
#include "zub/serialization.h"

namespace {

using zubtest::RandomSchema;
using zubtest::RandomValue;

// What zubSimpleSerializeInto really writes, in a buffer with room to spare.
int64_t written(const zubEndianTable_t *table, const void *data)
{
    static std::vector<uint8_t> out(1 << 20);
    const int32_t n =
        zubSimpleSerializeInto(out.data(), static_cast<uint32_t>(out.size()), table, data);
    EXPECT_LT(n, static_cast<int32_t>(out.size()));
    return n;
}

TEST(SerializedSize, EveryPredefinedTypeMatchesItsStream)
{
    int8_t i8[3] = {1, 2, 3};
    int16_t i16[2] = {};
    int32_t i32[1] = {};
    int64_t i64[2] = {};
    uint8_t u8[200] = {};  // 204 bytes: over three scratch refills
    uint16_t u16[65] = {}; // 134 bytes, a refill inside an atom
    uint32_t u32[4] = {};
    uint64_t u64[9] = {};
    char abc[] = "abc";
    zubDeserString_t strings[3] = {{3, abc}, {0, nullptr}, {2, abc}};
    zubDeserBlobInt8_t bi8 = {3, i8};
    zubDeserBlobInt16_t bi16 = {2, i16};
    zubDeserBlobInt32_t bi32 = {1, i32};
    zubDeserBlobInt64_t bi64 = {2, i64};
    zubDeserBlobUint8_t bu8 = {200, u8};
    zubDeserBlobUint16_t bu16 = {65, u16};
    zubDeserBlobUint32_t bu32 = {0xFFFFFFFFu, nullptr}; // the null mark: sent as a count of 0
    zubDeserBlobUint64_t bu64 = {9, u64};
    zubDeserVectorU8_t vu8 = {0, nullptr};
    zubDeserVectorU16_t vu16 = {1, u16};
    zubDeserVectorU32_t vu32 = {4, u32};
    zubDeserString_t string = {3, abc};
    zubDeserBlobString_t blobString = {3, strings};
    zubDeserStringArray_t stringArray = {0, nullptr};
    zubOsalTime_t time = {1, 2};
    const struct {
        const zubEndianTable_t *table;
        const void *data;
        int64_t size;
    } cases[] = {
        {&__zub_EndianTable_zubDeserBlobInt8_t, &bi8, 4 + 3},
        {&__zub_EndianTable_zubDeserBlobInt16_t, &bi16, 4 + 4},
        {&__zub_EndianTable_zubDeserBlobInt32_t, &bi32, 4 + 4},
        {&__zub_EndianTable_zubDeserBlobInt64_t, &bi64, 4 + 16},
        {&__zub_EndianTable_zubDeserBlobUint8_t, &bu8, 4 + 200},
        {&__zub_EndianTable_zubDeserBlobUint16_t, &bu16, 4 + 130},
        {&__zub_EndianTable_zubDeserBlobUint32_t, &bu32, 4},
        {&__zub_EndianTable_zubDeserBlobUint64_t, &bu64, 4 + 72},
        {&__zub_EndianTable_zubDeserVectorU8_t, &vu8, 4},
        {&__zub_EndianTable_zubDeserVectorU16_t, &vu16, 4 + 2},
        {&__zub_EndianTable_zubDeserVectorU32_t, &vu32, 4 + 16},
        {&__zub_EndianTable_zubDeserString_t, &string, 4 + 3},
        {&__zub_EndianTable_zubDeserBlobString_t, &blobString, 4 + (4 + 3) + 4 + (4 + 2)},
        {&__zub_EndianTable_zubDeserStringArray_t, &stringArray, 4},
        {&__zub_EndianTable_zubOsalTime_t, &time, 12},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "table size " << c.table->size << ", stream " << c.size);
        EXPECT_EQ(zubSerializedSize(c.table, c.data), c.size);
        EXPECT_EQ(written(c.table, c.data), c.size);
    }
}

TEST(SerializedSize, RandomTypesMatchTheirExpectedStream)
{
    const uint32_t first = zubtest::testSeed(1);
    for (uint32_t seed = first; seed < first + 200; ++seed) {
        RandomSchema schema(seed);
        zubtest::RandomValueOptions options;
        options.nullMarks = seed % 2 == 0;
        RandomValue value(schema, seed, options);
        EXPECT_EQ(zubSerializedSize(schema.table(), value.data()),
                  static_cast<int64_t>(value.expectedStream().size()))
            << "seed " << seed;
    }
}

TEST(SerializedSize, FailuresGiveTheWalksResult)
{
    zubDeserBlobUint8_t blob = {0, nullptr};
    EXPECT_EQ(zubSerializedSize(nullptr, &blob), -22);
    EXPECT_EQ(zubSerializedSize(&__zub_EndianTable_zubDeserBlobUint8_t, nullptr), -22);

    // An invalid kind after 9 bytes of members.
    struct Bad {
        uint8_t a;
        uint64_t b;
    } bad = {1, 2};
    const zubEndianInfoEntry_t badEntries[] = {ZUB_ENTRY_U8(Bad, a), ZUB_ENTRY_U64(Bad, b),
                                               ZUB_ENTRY_RAW(0, 12, 0), ZUB_ENTRY_END};
    const zubEndianTable_t badTable = ZUB_ENDIAN_TABLE(Bad, badEntries);
    EXPECT_EQ(zubSerializedSize(&badTable, &bad), -14);

    // 0x200001 bytes of atom data: refused before any is read.
    zubDeserBlobUint8_t huge = {0x200001u, reinterpret_cast<uint8_t *>(&blob)};
    EXPECT_EQ(zubSerializedSize(&__zub_EndianTable_zubDeserBlobUint8_t, &huge), -1);

    // A table that holds itself nests without end: the stack runs out.
    zubEndianInfoEntry_t selfEntries[] = {ZUB_ENTRY_RAW(0, ZUB_DESER_TYPE_U8, 0), ZUB_ENTRY_END,
                                          ZUB_ENTRY_END};
    const zubEndianTable_t self = {1, selfEntries};
    selfEntries[1] = {0, ZUB_DESER_TYPE_TABLE, {.table = &self}};
    uint8_t byte = 7;
    EXPECT_EQ(zubSerializedSize(&self, &byte), -1000);
}

// A stream enqueued into a ring at every start position, so that it wraps
// at every byte, comes out as one or two parts that the deserializer takes
// as chunks in place: the structure it builds equals the one serialized.
TEST(RingToDeserializer, WrappedStreamsDecodeFromTheirParts)
{
    const uint32_t first = zubtest::testSeed(1);
    for (uint32_t seed = first; seed < first + 40; ++seed) {
        RandomSchema schema(seed);
        RandomValue value(schema, seed);
        const std::vector<uint8_t> stream = value.expectedStream();
        if (stream.empty())
            continue; // nothing to hand out
        const uint32_t capacity = (static_cast<uint32_t>(stream.size()) + 7) / 8 * 8 + 8;
        std::vector<uint8_t> area(capacity), filler(capacity);
        for (uint32_t start = 0; start < capacity; ++start) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << ", start " << start);
            zubRingBuffer_t ring;
            ASSERT_EQ(zubRingBufferInit(&ring, area.data(), capacity), 0);
            zubRingBufferEnqueue(&ring, filler.data(), start);
            zubRingBufferDequeue(&ring, nullptr, start);
            ASSERT_EQ(
                zubRingBufferEnqueue(&ring, stream.data(), static_cast<uint32_t>(stream.size())),
                static_cast<int32_t>(stream.size()));
            zubScatterGatherEntry_t parts[2];
            int32_t partCount = 0;
            ASSERT_EQ(zubRingBufferDequeueAllParts(&ring, parts, &partCount, capacity),
                      static_cast<int32_t>(stream.size()));
            EXPECT_EQ(partCount, start + stream.size() > capacity ? 2 : 1);

            std::vector<uint8_t> copy(schema.types()[0].size);
            deser::Walk walk(schema.table(), copy.data());
            for (int32_t i = 0; i < partCount; ++i) {
                EXPECT_EQ(walk.feed(static_cast<uint8_t *>(parts[i].data), ZUB_SG_LENGTH(parts[i])),
                          0);
            }
            EXPECT_EQ(walk.s.state, ZUB_DIS_DONE);
            EXPECT_EQ(walk.s.totalBytes, stream.size());
            EXPECT_EQ(value.compare(copy.data()), "");
            _zubDeserMemoryDealloc(schema.table(), copy.data(), -1);
        }
    }
}

} // namespace
