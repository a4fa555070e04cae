#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "deser_test_util.h"
#include "test_support.h"
#include "zub/serialization.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

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

} // namespace

TEST(SerialTables, StackOperationsCopyWholeStatesAndRefuseAtTheEdges)
{
    zubDeserTableState_t stack[2], pushed[2];
    zubDeserState_t s{};
    s.stack = stack;
    s.stackCapacity = 2;
    EXPECT_TRUE(_zubDeserStatePopTable(&s) == -9 && _zubDeserStatePeekTable(&s) == -9);
    for (int i = 0; i < 2; ++i) {
        std::memset(&s.current, 0x41 + i, sizeof s.current);
        pushed[i] = s.current;
        ASSERT_EQ(_zubDeserStatePushTable(&s), 0);
    }
    EXPECT_TRUE(_zubDeserStatePushTable(&s) == -12 && s.stackDepth == 2);
    // Peek copies the top record back and keeps it; pop takes it off.
    for (auto op : {_zubDeserStatePeekTable, _zubDeserStatePopTable, _zubDeserStatePeekTable}) {
        const uint16_t depth = s.stackDepth;
        std::memset(&s.current, 0, sizeof s.current);
        EXPECT_EQ(op(&s), 0);
        const zubDeserTableState_t &x = s.current, &y = pushed[depth - 1];
        EXPECT_TRUE(x.table == y.table && x.entry == y.entry && x.count == y.count &&
                    x.index == y.index && x.multiplicity == y.multiplicity && x.base == y.base);
    }
    EXPECT_EQ(s.stackDepth, 1);
    EXPECT_STREQ(_zubDeserGetFieldName(), "ZUB_DESER_NODEBUG");
}

// Each value with its table and the room given: the result, the bytes
// written (the rest of the room keeps its fill) and the message.
TEST(Serializer, LiteralStreams)
{
    Element elements[2] = {{0x0A0B0C0D, 0x0E}, {1, 2}};
    const Message message = {0x0102, 2, elements};
    zubDeserString_t text = {3, nullptr};
    const zubDeserBlobString_t nullMark = {0xFFFFFFFFu, &text};
    struct Case {
        const zubEndianTable_t *table;
        const void *data;
        uint32_t room;
        int32_t result;
        const char *stream;
        std::string message = "";
    } const cases[] = {
        {&messageTable, &message, 14, 13, "01 02 02 0a 0b 0c 0d 0e 00 00 00 01 02"},
        {&messageTable, &message, 7, 7, "01 02 02 0a 0b 0c 0d", // cut: the walk can go on
         "errorCode ZUB_DES_ERR_XRUN when ZUB_SIS_WRITING_INTEGRAL.\n"},
        {&__zub_EndianTable_zubDeserBlobString_t, &nullMark, 16, 4, "00 00 00 00",
         "NULL pointers not supported except on strings. transmitting zero length instead.\n"},
        {nullptr, &message, 16, -22, ""},
    };
    for (const Case &c : cases) {
        zubtest::DebugCapture capture;
        zubtest::GuardedBuffer buffer(c.room);
        EXPECT_EQ(zubSimpleSerializeInto(buffer.data(), c.room, c.table, c.data), c.result);
        std::vector<uint8_t> expected = zubtest::bytes(c.stream);
        expected.resize(c.room, 0xA5);
        EXPECT_EQ(zubtest::hex(buffer.data(), c.room), zubtest::hex(expected.data(), c.room));
        EXPECT_TRUE(buffer.guardsIntact());
        EXPECT_EQ(capture.messages(), c.message.empty() ? std::vector<std::string>{}
                                                        : std::vector<std::string>{c.message});
    }
    // A walk that pauses at the second element's first member holds that element's index.
    uint8_t out[8];
    deser::Walk paused(&messageTable, &message);
    EXPECT_EQ(paused.call(out, 8, true), 0);
    EXPECT_TRUE(paused.s.errorCode == ZUB_DES_ERR_XRUN && paused.s.current.index == 1);
}

// Random types and values against the model (the round-trip fuzz harness).
TEST(Serializer, RandomStructuresRoundTripThroughEveryWalker)
{
    EXPECT_GT(zubtest::replayHarness("roundtrip", LLVMFuzzerTestOneInput, 400, 64, 1), 0u);
}
