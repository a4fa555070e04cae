#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "deser_test_util.h"
#include "serial_random.h"
#include "test_support.h"
#include "zub/bounded_allocator.h"
#include "zub/serialization.h"

using deser::Walk;
using zubtest::bytes;
using zubtest::DebugCapture;
using Messages = std::vector<std::string>;

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {
const std::vector<uint32_t> kWalkerSite = {0x00020BB8u, 3, 0};
} // namespace

TEST(Deserializer, ReadsTheDocumentedExampleStreams)
{
    // The byte behind the stream is not looked at.
    zubDeserBlobUint16_t blob{};
    Walk b(&__zub_EndianTable_zubDeserBlobUint16_t, &blob);
    EXPECT_EQ(b.feed(bytes("00 00 00 02 01 02 03 04 ff")), 0);
    EXPECT_TRUE(b.s.state == ZUB_DIS_DONE && b.s.errorCode == ZUB_DES_ERR_XRUN &&
                b.s.bufferPosition == 8);
    EXPECT_TRUE(blob.count == 2 && blob.data[0] == 0x0102 && blob.data[1] == 0x0304);
    std::free(blob.data);

    // Exact blocks: no terminating zero byte after a string.
    zubtest::CountingAllocator counting;
    zubDeserBlobString_t strings{};
    Walk c(&__zub_EndianTable_zubDeserBlobString_t, &strings, counting.record());
    c.feed(bytes("00 00 00 01 00 00 00 03 61 62 63"));
    EXPECT_EQ(counting.sizes(), (std::vector<size_t>{sizeof(zubDeserString_t), 3}));
    EXPECT_TRUE(strings.data[0].count == 3 && std::memcmp(strings.data[0].data, "abc", 3) == 0);

    // Atoms read so far stand in a block filled with 0x75; the rest arrives.
    const auto stream =
        bytes("01 02 33 11 22 33 44 55 66 77 88 02 01 02 03 04 05 06 07 08 11 12 13 14 15 16 "
              "17 18 00 03 a1 a2 a3 a4 b1 b2 b3 b4 c1 c2 c3 c4 00 00 00 02 de ad be ef 01 02 "
              "03 04 05 06 00 02 68 69 00 00 00 07 00 0a 00 0b 00 0c 00 00 00 05 68 65 6c 6c "
              "6f 99 88 77 66");
    deser::Msg m{};
    Walk w(&deser::msgTable, &m);
    w.feed(stream.data(), 36);
    EXPECT_EQ(zubtest::hex(m.w32, 12), "a4 a3 a2 a1 75 75 b2 b1 75 75 75 75");
    w.feed(stream.data() + 36, stream.size() - 36);
    EXPECT_TRUE(m.elems[0].fixed[2] == 0x0506 && m.elems[1].text == nullptr &&
                m.tail == 0x99887766u);
    // Done: srcval one below the last integer, where the byte steps leave it.
    EXPECT_EQ(w.s.srcval, reinterpret_cast<uint8_t *>(&m.tail) - 1);
    EXPECT_EQ(_zubDeserMemoryDealloc(&deser::msgTable, &m, -1), 0);
}

TEST(Deserializer, MultiplicityBindsTheNextCountAndReturnsAfterNesting)
{
    struct Outer {
        zubDeserBlobUint8_t inner;
        uint8_t n;
        uint8_t *d;
        uint8_t m;
        uint8_t *e;
    };
    static const zubEndianInfoEntry_t outerEntries[] = {
        ZUB_ENTRY_MULTIPLICITY(3),
        ZUB_ENTRY_TABLE(Outer, inner, __zub_EndianTable_zubDeserBlobUint8_t),
        ZUB_ENTRY_VAR8(Outer, n, d, 1), ZUB_ENTRY_VAR8(Outer, m, e, 1), ZUB_ENTRY_END};
    static const zubEndianTable_t outerTable = ZUB_ENDIAN_TABLE(Outer, outerEntries);
    // The nested table starts without a limit; the pending one binds the
    // next count after it, and only that one.
    Outer ok{};
    Walk pass(&outerTable, &ok);
    pass.feed(bytes("00 00 00 05 01 02 03 04 05 03 61 62 63 09 01 02 03 04 05 06 07 08 09"));
    EXPECT_EQ(pass.s.state, ZUB_DIS_DONE);
    EXPECT_EQ(_zubDeserMemoryDealloc(&outerTable, &ok, -1), 0);
    // Over it: the count is stored, its data pointer is not written, nothing is allocated.
    DebugCapture capture;
    zubtest::CountingAllocator counting;
    Outer over{};
    over.d = reinterpret_cast<uint8_t *>(0x1234);
    Walk fail(&outerTable, &over, counting.record());
    EXPECT_EQ(fail.feed(bytes("00 00 00 00 04 61 62 63 64")), 0);
    EXPECT_TRUE(fail.s.state == ZUB_DIS_FAILED && fail.s.errorCode == ZUB_DES_ERR_MULTIPLICITY);
    EXPECT_TRUE(fail.s.bufferPosition == 5 && over.n == 4 && counting.allocations() == 0);
    EXPECT_EQ(over.d, reinterpret_cast<uint8_t *>(0x1234));
    EXPECT_EQ(capture.messages(), Messages{"Incoming data exceeded multiplicity (4>3).\n"});
    EXPECT_EQ(capture.site(0), kWalkerSite);
}

TEST(Deserializer, RefusedBlocksHugeCountsEmptyChunksAndNullStructures)
{
    zubtest::CountingAllocator counting;
    counting.failAbove = 1u << 20;
    zubDeserStringArray_t list{};
    Walk w(&__zub_EndianTable_zubDeserStringArray_t, &list, counting.record());
    w.feed(bytes("ff ff ff ff"));
    EXPECT_TRUE(w.s.state == ZUB_DIS_FAILED && w.s.errorCode == ZUB_DES_ERR_NOMEM);
    EXPECT_TRUE(list.count == 0xFFFFFFFFu && list.data == nullptr);
    // The true size is asked for, never a wrapped one; on 32 bits it does not fit: no call.
    if (sizeof(size_t) > 4)
        EXPECT_EQ(counting.lastSize(), 0xFFFFFFFFull * sizeof(zubDeserString_t));
    else
        EXPECT_TRUE(counting.sizes().empty());
    zubBoundedAllocator_t bounded;
    zubDeserBlobUint32_t capped{};
    Walk b(&__zub_EndianTable_zubDeserBlobUint32_t, &capped, zubBoundedAllocatorInit(&bounded, 8));
    b.feed(bytes("00 00 00 03"));
    EXPECT_TRUE(b.s.errorCode == ZUB_DES_ERR_NOMEM && bounded.used == 0);
    Walk n(&__zub_EndianTable_zubDeserString_t, nullptr);
    EXPECT_TRUE(n.feed(nullptr, 0) == 0 && n.s.errorCode == ZUB_DES_ERR_NOMEM);

    // An empty chunk, or a position past the end of the chunk, reads
    // nothing; a count of 0 ends the walk at once; a finished walk reads nothing more.
    zubDeserString_t text{3, reinterpret_cast<char *>(1)};
    Walk e(&__zub_EndianTable_zubDeserString_t, &text);
    EXPECT_EQ(e.feed(nullptr, 0), 0);
    EXPECT_TRUE(e.s.errorCode == ZUB_DES_ERR_XRUN && e.s.state == ZUB_DIS_READING_INTEGRAL);
    const auto zero = bytes("00 00 00 00");
    e.s.buffer = const_cast<uint8_t *>(zero.data());
    e.s.bufferLength = 2;
    e.s.bufferPosition = 4;
    EXPECT_EQ(_zubDeserializeTableFrom(&e.s), 0);
    EXPECT_TRUE(e.s.bufferPosition == 4 && e.s.totalBytes == 0);
    EXPECT_EQ(e.feed(zero), 0);
    EXPECT_TRUE(e.s.state == ZUB_DIS_DONE && text.data == nullptr);
    EXPECT_EQ(e.feed(bytes("00 00 00 05")), 0);
    EXPECT_TRUE(e.s.bufferPosition == 0 && e.s.totalBytes == 4);
}

// Entries no walker can take, after a first member of one byte: kinds 0, 5
// and 12 to 14, a fixed array of a table, a nested structure without one and
// a string without a count field. The serializer, the size and the
// deserializer stop there with -14 and the message; a call after the
// failure changes nothing.
TEST(Walkers, InvalidEntriesStatesAndEndlessNestingFailTheWalk)
{
    const zubEndianInfoEntry_t bad[] = {
        ZUB_ENTRY_RAW(1, 0, 0),  ZUB_ENTRY_RAW(1, 5, 0),
        ZUB_ENTRY_RAW(1, 12, 0), ZUB_ENTRY_RAW(1, 13, 0),
        ZUB_ENTRY_RAW(1, 14, 0), ZUB_ENTRY_RAW(0, ZUB_ENDIAN_PACK(11, 2), &deser::pairTable),
        ZUB_ENTRY_RAW(1, 3, 4),  ZUB_ENTRY_RAW(0xFFFF, ZUB_ENDIAN_PACK(10, 1028), 1)};
    uint8_t host[8] = {0x42}, out[8] = {};
    for (const zubEndianInfoEntry_t &second : bad) {
        const zubEndianInfoEntry_t entries[] = {ZUB_ENTRY_RAW(0, 1, 0), second, ZUB_ENTRY_END};
        const zubEndianTable_t table = {8, entries};
        DebugCapture capture;
        Walk put(&table, host);
        EXPECT_EQ(put.put(out, sizeof out), -14);
        EXPECT_TRUE(put.s.state == ZUB_SIS_FAILED && put.s.bufferPosition == 1 && out[0] == 0x42);
        const zubDeserState_t over = put.s;
        EXPECT_EQ(_zubSerializeTableInto(&put.s), 0);
        EXPECT_EQ(std::memcmp(&over, &put.s, sizeof over), 0);
        EXPECT_EQ(zubSerializedSize(&table, host), -14);
        Walk get(&table, host);
        EXPECT_EQ(get.feed(bytes("42 00 02 61 62")), -14);
        EXPECT_TRUE(get.s.state == ZUB_DIS_FAILED && get.s.bufferPosition == 1);
        EXPECT_EQ(get.feed(bytes("42")), 0);
        EXPECT_EQ(capture.messages(), Messages(3, "Invalid endian table entry " +
                                                      std::to_string(second.packed & 15u) + ".\n"));
        EXPECT_EQ(capture.site(2), kWalkerSite);
    }
    EXPECT_EQ(_zubSerializeTableInto(nullptr), -22);
    EXPECT_EQ(_zubDeserializeTableFrom(nullptr), -22);
    EXPECT_EQ(zubSerializedSize(nullptr, host), -22);
    EXPECT_EQ(zubSerializedSize(&deser::pairTable, nullptr), -22);

    // States that no walk reaches: 5 and 8 in the serializer, 5 in the deserializer.
    DebugCapture capture;
    Walk five(&deser::pairTable, host), eight(&deser::pairTable, host),
        get(&deser::pairTable, host);
    five.s.state = get.s.state = 5;
    eight.s.state = 8;
    EXPECT_TRUE(five.put(out, sizeof out) == -14 && five.s.errorCode == -14);
    EXPECT_TRUE(eight.put(out, sizeof out) == -14 && eight.s.errorCode == -14);
    EXPECT_TRUE(get.feed(bytes("00")) == -14 && get.s.errorCode == -14);
    EXPECT_EQ(capture.messages(),
              (Messages{"Invalid internal state 5.\n", "Invalid internal state 8.\n",
                        "Invalid internal state 5.\n"}));

    // A table that holds itself nests until the stack is full: a byte on each of the 20 levels.
    zubEndianInfoEntry_t selfEntries[] = {ZUB_ENTRY_RAW(0, 1, 0), ZUB_ENTRY_END, ZUB_ENTRY_END};
    const zubEndianTable_t self = {1, selfEntries};
    selfEntries[1] = {0, ZUB_DESER_TYPE_TABLE, {.table = &self}};
    EXPECT_EQ(zubSerializedSize(&self, host), -1000);
    Walk nested(&self, host);
    EXPECT_EQ(nested.feed(std::vector<uint8_t>(32, 7)), -1000);
    EXPECT_EQ(nested.s.bufferPosition, 20u);
}

// Atom sizes other than 1, 2, 4 and 8 (3 in a counted and in a fixed array,
// 0 in an empty fixed array): the serializer counts the bytes but leaves
// them unwritten, the deserializer consumes them without storing them, so
// the stream keeps its length; each piece gets the message.
TEST(Walkers, OddAtomSizesKeepTheStreamLength)
{
    struct Odd {
        uint8_t n;
        uint8_t *d;
        uint8_t fixed[6];
    };
    const zubEndianInfoEntry_t oddEntries[] = {
        ZUB_ENTRY_RAW(0, ZUB_ENDIAN_PACK(6, 1024 + offsetof(Odd, d)), 3),
        ZUB_ENTRY_RAW(offsetof(Odd, fixed), ZUB_ENDIAN_PACK(11, 2), 3),
        ZUB_ENTRY_RAW(offsetof(Odd, fixed), ZUB_ENDIAN_PACK(11, 5), 0), ZUB_ENTRY_END};
    const zubEndianTable_t oddTable = ZUB_ENDIAN_TABLE(Odd, oddEntries);
    const std::string three = "Invalid atom size 3 in table found.\n",
                      zero = "Invalid atom size 0 in table found.\n";
    uint8_t six[6] = {1, 2, 3, 4, 5, 6};
    Odd odd = {2, six, {}};
    DebugCapture capture;
    zubtest::GuardedBuffer out(14);
    EXPECT_EQ(zubSimpleSerializeInto(out.data(), 14, &oddTable, &odd), 13);
    EXPECT_EQ(zubtest::hex(out.data(), 14), "02 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5");
    EXPECT_EQ(capture.messages(), (Messages{three, three, zero}));
    capture.clear();
    std::memset(odd.fixed, 0x99, sizeof odd.fixed);
    Walk w(&oddTable, &odd);
    const auto stream = bytes("02 01 02 03 04 05 06 07 08 09 0a 0b 0c");
    w.feed(stream.data(), 4);
    w.feed(stream.data() + 4, stream.size() - 4);
    EXPECT_TRUE(w.s.state == ZUB_DIS_DONE && w.s.totalBytes == stream.size());
    EXPECT_EQ(zubtest::hex(odd.d, 6), "75 75 75 75 75 75");
    EXPECT_EQ(zubtest::hex(odd.fixed, 6), "99 99 99 99 99 99");
    EXPECT_EQ(capture.messages(), (Messages{three, three, three, zero}));
    std::free(odd.d);
}

// Hostile streams in any chunks against fixed tables (the deserializer's
// fuzz harness): both walks alike, round trips, every block released once.
TEST(Deserializer, HostileStreamsInChunksEndAlikeAndReleaseEveryBlock)
{
    LLVMFuzzerInitialize(nullptr, nullptr);
    EXPECT_GT(zubtest::replayHarness("deserializer", LLVMFuzzerTestOneInput, 600, 256, 1), 0u);
}
