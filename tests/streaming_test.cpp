// Streams around the serializer without new exports: decoding straight out
// of a ring buffer that wraps.
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
            // Every block the walk took goes back once (the sanitizer's leak
            // and double-free checks).
            EXPECT_EQ(_zubDeserMemoryDealloc(schema.table(), copy.data(), -1), 0);
        }
    }
}
