#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "deser_test_util.h"
#include "serial_random.h"
#include "test_support.h"
#include "zub/serialization.h"

using deser::Walk;
using zubtest::bytes;
using zubtest::DebugCapture;
using zubtest::hex;

namespace {

// The worked example: {u16 id; u8 n; Element *elements} with elements
// {u32 value; u8 small}.
struct Element {
    uint32_t value;
    uint8_t small;
};
struct Message {
    uint16_t id;
    uint8_t n;
    Element *elements;
};
constexpr zubEndianInfoEntry_t elementEntries[] = {ZUB_ENTRY_U32(Element, value),
                                                   ZUB_ENTRY_U8(Element, small), ZUB_ENTRY_END};
constexpr zubEndianTable_t elementTable = ZUB_ENDIAN_TABLE(Element, elementEntries);
constexpr zubEndianInfoEntry_t messageEntries[] = {
    ZUB_ENTRY_U16(Message, id), ZUB_ENTRY_VAR8_TABLE(Message, n, elements, elementTable),
    ZUB_ENTRY_END};
constexpr zubEndianTable_t messageTable = ZUB_ENDIAN_TABLE(Message, messageEntries);

std::vector<uint8_t> simple(const zubEndianTable_t *table, const void *data, uint32_t room = 256)
{
    std::vector<uint8_t> out(room, 0xA5);
    const int32_t n = zubSimpleSerializeInto(out.data(), room, table, data);
    EXPECT_GE(n, 0);
    out.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return out;
}

// Field by field: struct copies need not carry the padding of 64-bit hosts.
bool same(const zubDeserTableState_t &x, const zubDeserTableState_t &y)
{
    return x.table == y.table && x.entry == y.entry && x.count == y.count && x.index == y.index &&
           x.multiplicity == y.multiplicity && x.base == y.base;
}

// Serializes through guarded buffers of `chunk` bytes and returns the bytes
// of all calls. Every call but the last must fill its buffer and stop with
// ZUB_DES_ERR_XRUN, write nothing outside it and count what it wrote.
std::vector<uint8_t> chunked(const zubEndianTable_t *table, const void *data, uint32_t chunk,
                             uint16_t capacity, int32_t &result, std::string &failure)
{
    Walk walk(table, data, nullptr, capacity);
    std::vector<uint8_t> stream;
    for (result = 0; walk.s.state <= 8 && result == 0 && failure.empty();) {
        zubtest::GuardedBuffer buffer(chunk);
        result = walk.put(buffer.data(), chunk);
        stream.insert(stream.end(), buffer.data(), buffer.data() + walk.s.bufferPosition);
        if (!buffer.guardsIntact() || walk.s.totalBytes != stream.size()) {
            failure =
                "wrote outside its buffer or miscounted at byte " + std::to_string(stream.size());
        } else if (walk.s.state <= 8 &&
                   (walk.s.errorCode != ZUB_DES_ERR_XRUN || walk.s.bufferPosition != chunk)) {
            failure = "stopped with space left at byte " + std::to_string(stream.size());
        }
    }
    return stream;
}

} // namespace

TEST(SerialTables, StackOperationsCopyWholeStatesAndRefuseAtTheEdges)
{
    zubDeserTableState_t stack[2];
    zubDeserState_t s;
    std::memset(&s, 0, sizeof s);
    std::memset(stack, 0x11, sizeof stack);
    s.stack = stack;
    s.stackCapacity = 2;
    EXPECT_EQ(_zubDeserStatePopTable(&s), -9);
    EXPECT_EQ(_zubDeserStatePeekTable(&s), -9);

    std::memset(&s.current, 0x41, sizeof s.current);
    const zubDeserTableState_t first = s.current;
    ASSERT_EQ(_zubDeserStatePushTable(&s), 0);
    std::memset(&s.current, 0x42, sizeof s.current);
    const zubDeserTableState_t second = s.current;
    ASSERT_EQ(_zubDeserStatePushTable(&s), 0);
    EXPECT_EQ(_zubDeserStatePushTable(&s), -12);
    EXPECT_TRUE(s.stackDepth == 2 && same(s.current, second));

    // Peek copies the top record back and keeps it; pop takes it off.
    std::memset(&s.current, 0, sizeof s.current);
    EXPECT_EQ(_zubDeserStatePeekTable(&s), 0);
    EXPECT_TRUE(s.stackDepth == 2 && same(s.current, second));
    std::memset(&s.current, 0, sizeof s.current);
    EXPECT_EQ(_zubDeserStatePopTable(&s), 0);
    EXPECT_TRUE(s.stackDepth == 1 && same(s.current, second));
    EXPECT_EQ(_zubDeserStatePeekTable(&s), 0);
    EXPECT_TRUE(same(s.current, first));
    EXPECT_STREQ(_zubDeserGetFieldName(), "ZUB_DESER_NODEBUG");
}

TEST(Serializer, WorkedExampleAndPredefinedTypesGiveTheirLiteralStreams)
{
    Element elements[2] = {{0x0A0B0C0D, 0x0E}, {1, 2}};
    Message message = {0x0102, 2, elements};
    EXPECT_EQ(simple(&messageTable, &message), bytes("01 02 02 0a 0b 0c 0d 0e 00 00 00 01 02"));

    // Every predefined array of atoms, holding one atom of the bytes 01 to 08.
    uint8_t atom[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const zubDeserBlobUint8_t one = {1, atom};
    const zubEndianTable_t *counted[] = {
        &__zub_EndianTable_zubDeserBlobInt8_t,   &__zub_EndianTable_zubDeserBlobUint8_t,
        &__zub_EndianTable_zubDeserVectorU8_t,   &__zub_EndianTable_zubDeserString_t,
        &__zub_EndianTable_zubDeserBlobInt16_t,  &__zub_EndianTable_zubDeserBlobUint16_t,
        &__zub_EndianTable_zubDeserVectorU16_t,  &__zub_EndianTable_zubDeserBlobInt32_t,
        &__zub_EndianTable_zubDeserBlobUint32_t, &__zub_EndianTable_zubDeserVectorU32_t,
        &__zub_EndianTable_zubDeserBlobInt64_t,  &__zub_EndianTable_zubDeserBlobUint64_t};
    const size_t atoms[] = {1, 1, 1, 1, 2, 2, 2, 4, 4, 4, 8, 8};
    for (size_t i = 0; i < 12; ++i) {
        std::vector<uint8_t> expected = bytes("00 00 00 01");
        for (size_t b = atoms[i]; b-- > 0;)
            expected.push_back(atom[b]);
        EXPECT_EQ(simple(counted[i], &one), expected) << i;
    }

    zubOsalTime_t time;
    std::memset(&time, 0xEE, sizeof time); // the padding must not be sent
    time.seconds = 1;
    time.nanoseconds = 2;
    EXPECT_EQ(simple(&__zub_EndianTable_zubOsalTime_t, &time),
              bytes("00 00 00 00 00 00 00 01 00 00 00 02"));

    char abc[] = {'a', 'b', 'c'};
    zubDeserString_t text = {3, abc};
    zubDeserBlobString_t strings = {1, &text};
    EXPECT_EQ(simple(&__zub_EndianTable_zubDeserBlobString_t, &strings),
              bytes("00 00 00 01 00 00 00 03 61 62 63"));

    // A count of 0 sends the count only; the pointer is never read. The null
    // data mark of a 32-bit count goes out as a count of 0, with a message.
    zubDeserBlobUint64_t empty = {0, nullptr};
    EXPECT_EQ(simple(&__zub_EndianTable_zubDeserBlobUint64_t, &empty), bytes("00 00 00 00"));
    DebugCapture capture;
    strings.count = 0xFFFFFFFFu;
    EXPECT_EQ(simple(&__zub_EndianTable_zubDeserBlobString_t, &strings), bytes("00 00 00 00"));
    EXPECT_EQ(
        capture.messages(),
        std::vector<std::string>{
            "NULL pointers not supported except on strings. transmitting zero length instead.\n"});
    const zubEndianInfoEntry_t nothing[] = {ZUB_ENTRY_END};
    const zubEndianTable_t nothingTable = {4, nothing};
    EXPECT_TRUE(simple(&nothingTable, &time).empty());

    // A short buffer cuts the stream and is not reported. A walk that
    // pauses at the second element's first member holds that element's index.
    zubtest::GuardedBuffer buffer(8);
    EXPECT_EQ(zubSimpleSerializeInto(buffer.data(), 7, &messageTable, &message), 7);
    EXPECT_EQ(hex(buffer.data(), 8), "01 02 02 0a 0b 0c 0d a5");
    EXPECT_TRUE(buffer.guardsIntact());
    Walk paused(&messageTable, &message);
    EXPECT_EQ(paused.put(buffer.data(), 8), 0);
    EXPECT_TRUE(paused.s.errorCode == ZUB_DES_ERR_XRUN && paused.s.current.index == 1);
    EXPECT_EQ(zubSimpleSerializeInto(buffer.data(), 7, nullptr, &message), -22);
}

TEST(Serializer, RandomStructuresGiveTheirStreamThroughEveryBufferSize)
{
    // The random type generator's stream is built from the structure alone;
    // a stack one level short fails with -1000 after a prefix of it where
    // the value nests that deep (an empty array is not entered).
    const uint32_t first = zubtest::testSeed(1);
    for (uint32_t seed = first; seed < first + 300; ++seed) {
        zubtest::RandomSchema schema(seed);
        zubtest::RandomValueOptions options;
        options.nullMarks = true;
        zubtest::RandomValue value(schema, seed, options);
        const std::vector<uint8_t> expected = value.expectedStream();
        ASSERT_EQ(zubSerializedSize(schema.table(), value.data()),
                  static_cast<int64_t>(expected.size()))
            << "seed " << seed;
        const auto capacity = static_cast<uint16_t>(schema.nesting() + 1);
        for (uint32_t chunk : {1u, 2u, 3u, 7u, 64u, 100000u}) {
            std::string failure;
            int32_t result;
            const auto stream =
                chunked(schema.table(), value.data(), chunk, capacity, result, failure);
            ASSERT_TRUE(failure.empty() && result == 0 && stream == expected)
                << "seed " << seed << " chunk " << chunk << ": " << failure << "\n"
                << hex(stream.data(), stream.size());
        }
        if (schema.nesting() > 0) {
            std::string failure;
            int32_t result;
            const auto stream =
                chunked(schema.table(), value.data(), 5, capacity - 1, result, failure);
            ASSERT_TRUE(failure.empty() && (result == -1000 || (result == 0 && stream == expected)))
                << "seed " << seed << " " << failure;
            ASSERT_TRUE(std::equal(stream.begin(), stream.end(), expected.begin()))
                << "seed " << seed;
        }
    }
}
