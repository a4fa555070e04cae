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

using zubtest::RandomSchema;
using zubtest::RandomValue;

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
