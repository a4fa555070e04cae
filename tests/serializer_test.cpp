#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "deser_test_util.h"
#include "serial_random.h"
#include "test_support.h"
#include "zub/serialization.h"

using zubtest::bytes;
using zubtest::DebugCapture;
using zubtest::hex;

namespace {

constexpr uint32_t kSite2[3] = {0x00020BB8u, 3, 0}; // level 2, class 3000, second word 3

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

// The deserializer tests' walk record, serialized into by `call`.
struct Walk : deser::Walk {
    Walk(const zubEndianTable_t *table, const void *data, uint16_t capacity = 20)
        : deser::Walk(table, const_cast<void *>(data), nullptr, capacity)
    {}
    int32_t call(uint8_t *buffer, uint32_t length, uint32_t position = 0)
    {
        s.buffer = buffer;
        s.bufferLength = length;
        s.bufferPosition = position;
        return _zubSerializeTableInto(&s);
    }
};

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
    Walk walk(table, data, capacity);
    std::vector<uint8_t> stream;
    for (result = 0; walk.s.state <= 8 && result == 0 && failure.empty();) {
        zubtest::GuardedBuffer buffer(chunk);
        result = walk.call(buffer.data(), chunk);
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

TEST(SerialTables, PredefinedEntriesHaveTheDocumentedPackedWords)
{
    const uint16_t countedUnit = sizeof(void *) == 4 ? 0x4049 : 0x4089;
    const zubEndianTable_t *counted[] = {
        &__zub_EndianTable_zubDeserBlobInt8_t,   &__zub_EndianTable_zubDeserBlobInt16_t,
        &__zub_EndianTable_zubDeserBlobInt32_t,  &__zub_EndianTable_zubDeserBlobInt64_t,
        &__zub_EndianTable_zubDeserBlobUint8_t,  &__zub_EndianTable_zubDeserBlobUint16_t,
        &__zub_EndianTable_zubDeserBlobUint32_t, &__zub_EndianTable_zubDeserBlobUint64_t,
        &__zub_EndianTable_zubDeserVectorU8_t,   &__zub_EndianTable_zubDeserVectorU16_t,
        &__zub_EndianTable_zubDeserVectorU32_t,  &__zub_EndianTable_zubDeserString_t,
        &__zub_EndianTable_zubDeserBlobString_t, &__zub_EndianTable_zubDeserStringArray_t};
    const uintptr_t atoms[] = {1, 2, 4, 8, 1, 2, 4, 8, 1, 2, 4, 1};
    for (size_t i = 0; i < sizeof counted / sizeof counted[0]; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(counted[i]->size, 2 * sizeof(void *));
        const zubEndianInfoEntry_t *e = counted[i]->entries;
        EXPECT_EQ(e[0].memberOffset, 0);
        EXPECT_EQ(e[0].packed, countedUnit);
        EXPECT_EQ(e[0].argument.value,
                  i < 12 ? atoms[i]
                         : reinterpret_cast<uintptr_t>(&__zub_EndianTable_zubDeserString_t));
        EXPECT_EQ(e[1].packed, 0);
        EXPECT_EQ(e[1].argument.value, ~uintptr_t{0});
    }
    EXPECT_EQ(__zub_EndianTable_zubDeserBlobUint8_t.entries,
              __zub_EndianInfoEntries_zubDeserBlobUint8_t);
    const zubEndianInfoEntry_t *t = __zub_EndianInfoEntries_zubOsalTime_t;
    EXPECT_EQ(__zub_EndianTable_zubOsalTime_t.size, 16u);
    EXPECT_EQ(t[0].memberOffset | (uint32_t{t[0].packed} << 16), 0x00080000u);
    EXPECT_EQ(t[1].memberOffset | (uint32_t{t[1].packed} << 16), 0x00040008u);
    EXPECT_EQ(t[0].argument.value | t[1].argument.value, 0u);
    EXPECT_TRUE(ZUB_ENDIAN_IS_END(&t[2]));
    EXPECT_STREQ(_zubDeserGetFieldName(), "ZUB_DESER_NODEBUG");
}

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

    std::memset(&s.current, 0x42, sizeof s.current);
    const zubDeserTableState_t saved = s.current;
    ASSERT_EQ(_zubDeserStatePushTable(&s), 0);
    ASSERT_EQ(_zubDeserStatePushTable(&s), 0);
    EXPECT_EQ(_zubDeserStatePushTable(&s), -12);
    EXPECT_TRUE(s.stackDepth == 2 && same(s.current, saved));

    std::memset(&s.current, 0, sizeof s.current);
    EXPECT_EQ(_zubDeserStatePeekTable(&s), 0);
    EXPECT_EQ(s.stackDepth, 2);
    EXPECT_TRUE(same(s.current, saved));
    std::memset(&s.current, 0, sizeof s.current);
    EXPECT_EQ(_zubDeserStatePopTable(&s), 0);
    EXPECT_EQ(s.stackDepth, 1);
    EXPECT_TRUE(same(s.current, saved));
}

TEST(Serializer, WorkedExampleAndPredefinedTypesGiveTheirLiteralStreams)
{
    Element elements[2] = {{0x0A0B0C0D, 0x0E}, {1, 2}};
    Message message = {0x0102, 2, elements};
    EXPECT_EQ(simple(&messageTable, &message), bytes("01 02 02 0a 0b 0c 0d 0e 00 00 00 01 02"));

    uint16_t u16[2] = {0x0102, 0x0304};
    zubDeserBlobUint16_t blob = {2, u16};
    EXPECT_EQ(simple(&__zub_EndianTable_zubDeserBlobUint16_t, &blob),
              bytes("00 00 00 02 01 02 03 04"));
    EXPECT_EQ(simple(&__zub_EndianTable_zubDeserBlobInt16_t, &blob),
              bytes("00 00 00 02 01 02 03 04"));

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

    // A count of 0 sends the count only; the pointer is never read.
    zubDeserBlobUint64_t empty = {0, nullptr};
    EXPECT_EQ(simple(&__zub_EndianTable_zubDeserBlobUint64_t, &empty), bytes("00 00 00 00"));
    const zubEndianInfoEntry_t nothing[] = {ZUB_ENTRY_END};
    const zubEndianTable_t nothingTable = {4, nothing};
    EXPECT_TRUE(simple(&nothingTable, &time).empty());

    // A short buffer cuts the stream and is not reported.
    zubtest::GuardedBuffer buffer(7);
    EXPECT_EQ(zubSimpleSerializeInto(buffer.data(), 7, &messageTable, &message), 7);
    EXPECT_EQ(hex(buffer.data(), 7), "01 02 02 0a 0b 0c 0d");
    EXPECT_TRUE(buffer.guardsIntact());
    EXPECT_EQ(zubSimpleSerializeInto(buffer.data(), 7, nullptr, &message), -22);
}

TEST(Serializer, FailuresStopTheWalkWithTheirMessages)
{
    struct Three {
        uint16_t a;
        uint32_t b;
        uint32_t c;
    } three = {0x0102, 0x03040506, 7};
    uint8_t out[16];
    for (unsigned kind : {0u, 5u, 12u, 13u, 14u}) {
        DebugCapture capture;
        const zubEndianInfoEntry_t entries[] = {ZUB_ENTRY_U16(Three, a), ZUB_ENTRY_U32(Three, b),
                                                ZUB_ENTRY_RAW(8, kind, 0), ZUB_ENTRY_END};
        const zubEndianTable_t table = {sizeof three, entries};
        Walk walk(&table, &three);
        EXPECT_EQ(walk.call(out, sizeof out), -14);
        EXPECT_TRUE(walk.s.state == ZUB_SIS_FAILED && walk.s.bufferPosition == 6);
        EXPECT_EQ(hex(out, 6), "01 02 03 04 05 06");
        EXPECT_EQ(capture.messages(), std::vector<std::string>{"Invalid endian table entry " +
                                                               std::to_string(kind) + ".\n"});
        EXPECT_EQ(capture.site(0), std::vector<uint32_t>(kSite2, kSite2 + 3));
        // Over: further calls change nothing and write nothing.
        uint8_t over[sizeof walk.s];
        std::memcpy(over, &walk.s, sizeof over);
        EXPECT_EQ(_zubSerializeTableInto(&walk.s), 0);
        EXPECT_EQ(std::memcmp(over, &walk.s, sizeof over), 0);
    }
    EXPECT_EQ(_zubSerializeTableInto(nullptr), -22);
    for (uint32_t state : {5u, 8u}) {
        DebugCapture capture;
        Walk walk(&messageTable, &three);
        walk.s.state = state;
        EXPECT_TRUE(walk.call(out, sizeof out) == -14 && walk.s.errorCode == -14);
        EXPECT_EQ(capture.messages(), std::vector<std::string>{"Invalid internal state " +
                                                               std::to_string(state) + ".\n"});
    }
    // Unsupported entries: a count without a count field, a table that is
    // an atom size, a fixed array whose atom is a table.
    const zubEndianInfoEntry_t bad[][2] = {
        {ZUB_ENTRY_RAW(0xFFFF, ZUB_ENDIAN_PACK(10, 1028), 1), ZUB_ENTRY_END},
        {ZUB_ENTRY_RAW(0, 3, 4), ZUB_ENTRY_END},
        {{0, ZUB_ENDIAN_PACK(11, 1), {.table = &messageTable}}, ZUB_ENTRY_END}};
    const char *expected[] = {"Invalid endian table entry 10.\n", "Invalid endian table entry 3.\n",
                              "Invalid endian table entry 11.\n"};
    for (size_t i = 0; i < 3; ++i) {
        DebugCapture capture;
        const zubEndianTable_t table = {8, bad[i]};
        EXPECT_EQ(zubSimpleSerializeInto(out, sizeof out, &table, &three), -14) << i;
        EXPECT_EQ(capture.messages(), std::vector<std::string>{expected[i]});
    }
}

TEST(Serializer, OddMembersKeepTheStreamLength)
{
    struct Counted {
        uint32_t count;
        uint8_t *data;
        uint8_t fixed[4];
    };
    uint8_t six[6] = {1, 2, 3, 4, 5, 6};
    uint8_t out[32];
    {
        // Atom size 3: the bytes are skipped, left as they were, but counted.
        DebugCapture capture;
        const zubEndianInfoEntry_t entries[] = {
            ZUB_ENTRY_RAW(0, ZUB_ENDIAN_PACK(9, 1024 + offsetof(Counted, data)), 3),
            ZUB_ENTRY_RAW(offsetof(Counted, fixed), ZUB_ENDIAN_PACK(11, 5), 0), ZUB_ENTRY_END};
        const zubEndianTable_t table = {sizeof(Counted), entries};
        Counted c = {2, six, {}};
        std::memset(out, 0xA5, sizeof out);
        EXPECT_EQ(zubSimpleSerializeInto(out, sizeof out, &table, &c), 10);
        EXPECT_EQ(hex(out, 11), "00 00 00 02 a5 a5 a5 a5 a5 a5 a5");
        EXPECT_EQ(capture.messages(),
                  (std::vector<std::string>{"Invalid atom size 3 in table found.\n",
                                            "Invalid atom size 0 in table found.\n"}));
    }
    {
        // The null data mark goes out as a zero count; the walk goes on.
        DebugCapture capture;
        Counted c = {0xFFFFFFFFu, nullptr, {}};
        zubDeserBlobUint8_t after = {1, six};
        struct Pair {
            zubDeserBlobUint8_t a, b;
        } pair;
        std::memcpy(&pair.a, &c, sizeof pair.a);
        pair.b = after;
        const zubEndianInfoEntry_t entries[] = {ZUB_ENTRY_VAR32(Pair, a.count, a.data, 1),
                                                ZUB_ENTRY_VAR32(Pair, b.count, b.data, 1),
                                                ZUB_ENTRY_END};
        const zubEndianTable_t table = ZUB_ENDIAN_TABLE(Pair, entries);
        EXPECT_EQ(simple(&table, &pair), bytes("00 00 00 00 00 00 00 01 01"));
        EXPECT_EQ(
            capture.messages(),
            std::vector<std::string>{
                "NULL pointers not supported except on strings. transmitting zero length instead.\n"});
    }
    // Atom data of exactly 0x200000 bytes pass; 2 bytes more fail after the count.
    std::vector<uint8_t> big(0x200002, 0x5A), room(0x200010);
    for (uint32_t count : {0x100000u, 0x100001u}) {
        DebugCapture capture;
        zubDeserBlobUint16_t blob = {count, reinterpret_cast<uint16_t *>(big.data())};
        Walk walk(&__zub_EndianTable_zubDeserBlobUint16_t, &blob);
        const int32_t r = walk.call(room.data(), static_cast<uint32_t>(room.size()));
        if (count == 0x100000u) {
            EXPECT_TRUE(r == 0 && walk.s.totalBytes == 0x200004u && capture.messages().empty());
        } else {
            EXPECT_TRUE(r == -1 && walk.s.state == ZUB_SIS_FAILED && walk.s.bufferPosition == 4);
            EXPECT_EQ(capture.messages(),
                      std::vector<std::string>{"Test for \"1\"was true: \"Exceed size\""});
            EXPECT_EQ(capture.site(0), (std::vector<uint32_t>{0x000103E8u, 0, 0}));
        }
    }
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

// An array of structures, each with a nested structure, whose element table
// ends early at an argument of all ones on an integer entry: each element
// sends two members, the next element follows, and the walk goes back to
// the parent after the last; through every small buffer.
TEST(Serializer, ArraysOfStructuresWithNestedMembersAndEarlyEnds)
{
    struct Inner {
        uint8_t a;
        uint16_t b;
    };
    struct Elem {
        uint16_t x;
        Inner in;
        uint32_t never;
    };
    struct Top {
        uint8_t n;
        Elem *elems;
        uint8_t tail;
    };
    static const zubEndianInfoEntry_t innerEntries[] = {ZUB_ENTRY_U8(Inner, a),
                                                        ZUB_ENTRY_U16(Inner, b), ZUB_ENTRY_END};
    static const zubEndianTable_t innerTable = ZUB_ENDIAN_TABLE(Inner, innerEntries);
    static const zubEndianInfoEntry_t elemEntries[] = {
        ZUB_ENTRY_U16(Elem, x),
        {offsetof(Elem, in), ZUB_DESER_TYPE_TABLE, {.table = &innerTable}},
        ZUB_ENTRY_RAW(offsetof(Elem, never), ZUB_DESER_TYPE_U32, 0xFFFFFFFFu),
        ZUB_ENTRY_U32(Elem, never),
        ZUB_ENTRY_END};
    static const zubEndianTable_t elemTable = ZUB_ENDIAN_TABLE(Elem, elemEntries);
    static const zubEndianInfoEntry_t topEntries[] = {
        ZUB_ENTRY_VAR8_TABLE(Top, n, elems, elemTable), ZUB_ENTRY_U8(Top, tail), ZUB_ENTRY_END};
    static const zubEndianTable_t topTable = ZUB_ENDIAN_TABLE(Top, topEntries);
    Elem elems[3] = {{0x0102, {0x03, 0x0405}, 0xEEEEEEEE},
                     {0x0607, {0x08, 0x090A}, 0xEEEEEEEE},
                     {0x0B0C, {0x0D, 0x0E0F}, 0xEEEEEEEE}};
    const Top top = {3, elems, 0x10};
    const std::vector<uint8_t> expected =
        bytes("03 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10");
    for (uint32_t chunk : {1u, 2u, 3u, 4u, 5u, 6u, 16u, 17u}) {
        std::string failure;
        int32_t result;
        EXPECT_EQ(chunked(&topTable, &top, chunk, 20, result, failure), expected) << chunk;
        EXPECT_TRUE(failure.empty() && result == 0) << chunk << failure;
        chunked(&topTable, &top, chunk, 2, result, failure);
        EXPECT_EQ(result, -1000) << "short stack, chunk " << chunk;
    }
}
