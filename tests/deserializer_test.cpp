#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "deser_test_util.h"
#include "test_support.h"
#include "zub/bounded_allocator.h"
#include "zub/serialization.h"

using deser::Walk;
using zubtest::bytes;
using zubtest::DebugCapture;

namespace {

using deser::Elem;
using deser::elemTable;
using deser::Msg;
using deser::msgTable;
using deser::Pair;
using deser::pairTable;

// The message of deser_test_util.h: id, pair, two 64-bit and three 32-bit
// atoms, two elements (the second with an empty string), "hello", tail.
std::vector<uint8_t> msgStream()
{
    return bytes("01 02 33 11 22 33 44 55 66 77 88 02 01 02 03 04 05 06 07 08 11 12 13 14 15 16 "
                 "17 18 00 03 a1 a2 a3 a4 b1 b2 b3 b4 c1 c2 c3 c4 00 00 00 02 de ad be ef 01 02 "
                 "03 04 05 06 00 02 68 69 00 00 00 07 00 0a 00 0b 00 0c 00 00 00 05 68 65 6c 6c "
                 "6f 99 88 77 66");
}

void release(const zubEndianTable_t *table, void *record)
{
    EXPECT_EQ(_zubDeserMemoryDealloc(table, record, -1), 0);
}

} // namespace

TEST(Deserializer, ReadsTheDocumentedExampleStreams)
{
    zubDeserBlobUint16_t blob{};
    Walk b(&__zub_EndianTable_zubDeserBlobUint16_t, &blob);
    EXPECT_EQ(b.feed(bytes("00 00 00 02 01 02 03 04 ff")), 0);
    EXPECT_TRUE(b.s.state == ZUB_DIS_DONE && b.s.errorCode == ZUB_DES_ERR_XRUN);
    EXPECT_EQ(b.s.bufferPosition, 8u); // the byte behind the stream is not looked at
    ASSERT_EQ(blob.count, 2u);
    EXPECT_EQ(std::vector<uint16_t>(blob.data, blob.data + 2),
              (std::vector<uint16_t>{0x0102, 0x0304}));
    release(&__zub_EndianTable_zubDeserBlobUint16_t, &blob);

    // Exact blocks: no terminating zero byte after a string.
    zubtest::CountingAllocator counting;
    zubDeserBlobString_t strings{};
    Walk c(&__zub_EndianTable_zubDeserBlobString_t, &strings, counting.record());
    c.feed(bytes("00 00 00 01 00 00 00 03 61 62 63"));
    EXPECT_EQ(counting.sizes(), (std::vector<size_t>{sizeof(zubDeserString_t), 3}));
    EXPECT_EQ(strings.data[0].count, 3u);
    EXPECT_EQ(std::memcmp(strings.data[0].data, "abc", 3), 0); // the allocator frees both
}

TEST(Deserializer, ArraysReadSoFarHoldTheFreshFillAndTheRestArrives)
{
    const std::vector<uint8_t> stream = msgStream();
    Msg m{};
    Walk w(&msgTable, &m);
    w.feed(stream.data(), 36); // 6 bytes into the 4-byte atoms: the rest still reads 0x75
    EXPECT_EQ(zubtest::hex(m.w32, 12), "a4 a3 a2 a1 75 75 b2 b1 75 75 75 75");
    w.feed(stream.data() + 36, stream.size() - 36);
    EXPECT_EQ(m.elems[0].fixed[2], 0x0506);
    EXPECT_EQ(std::memcmp(m.elems[0].text, "hi", 2), 0);
    EXPECT_EQ(m.elems[1].text, nullptr); // a count of 0: no block
    EXPECT_EQ(m.tail, 0x99887766u);
    // Done: srcval one below the last integer, where the byte steps leave it.
    EXPECT_EQ(w.s.srcval, reinterpret_cast<uint8_t *>(&m.tail) - 1);
    // The structure serializes back to the same stream.
    std::vector<uint8_t> again(stream.size());
    EXPECT_EQ(
        zubSimpleSerializeInto(again.data(), static_cast<uint32_t>(again.size()), &msgTable, &m),
        static_cast<int32_t>(stream.size()));
    EXPECT_EQ(again, stream);
    release(&msgTable, &m);
}

TEST(Deserializer, EmptyChunksFinishedWalksAndPositionsPastTheEnd)
{
    // An empty chunk, or a position past the end of the chunk, reads
    // nothing; a chunk ending with a count of 0 ends the walk in the same
    // call, and a finished walk reads nothing more.
    zubDeserString_t text{3, reinterpret_cast<char *>(1)};
    Walk w(&__zub_EndianTable_zubDeserString_t, &text);
    EXPECT_EQ(w.feed(nullptr, 0), 0);
    EXPECT_TRUE(w.s.errorCode == ZUB_DES_ERR_XRUN && w.s.state == ZUB_DIS_READING_INTEGRAL);
    const auto zero = bytes("00 00 00 00");
    w.s.buffer = const_cast<uint8_t *>(zero.data());
    w.s.bufferLength = 2;
    w.s.bufferPosition = 4;
    EXPECT_EQ(_zubDeserializeTableFrom(&w.s), 0);
    EXPECT_TRUE(w.s.bufferPosition == 4 && w.s.totalBytes == 0);
    EXPECT_EQ(w.feed(zero), 0);
    EXPECT_TRUE(w.s.state == ZUB_DIS_DONE && text.data == nullptr);
    EXPECT_EQ(w.feed(bytes("00 00 00 05")), 0);
    EXPECT_TRUE(w.s.bufferPosition == 0 && w.s.totalBytes == 4);
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
    release(&outerTable, &ok);

    DebugCapture capture;
    zubtest::CountingAllocator counting;
    Outer over{};
    over.d = reinterpret_cast<uint8_t *>(0x1234);
    Walk fail(&outerTable, &over, counting.record());
    EXPECT_EQ(fail.feed(bytes("00 00 00 00 04 61 62 63 64")), 0);
    EXPECT_TRUE(fail.s.state == ZUB_DIS_FAILED && fail.s.errorCode == ZUB_DES_ERR_MULTIPLICITY);
    // The count is stored; its data pointer is not written, nothing is allocated.
    EXPECT_TRUE(fail.s.bufferPosition == 5 && over.n == 4 && counting.allocations() == 0);
    EXPECT_EQ(over.d, reinterpret_cast<uint8_t *>(0x1234));
    EXPECT_EQ(capture.messages(),
              std::vector<std::string>{"Incoming data exceeded multiplicity (4>3).\n"});
    EXPECT_EQ(capture.site(0), (std::vector<uint32_t>{0x00020BB8u, 3, 0}));
}

TEST(Deserializer, RefusedBlocksHugeCountsAndNullStructures)
{
    zubtest::CountingAllocator counting;
    counting.failAbove = 1u << 20;
    zubDeserStringArray_t list{};
    Walk w(&__zub_EndianTable_zubDeserStringArray_t, &list, counting.record());
    w.feed(bytes("ff ff ff ff"));
    EXPECT_TRUE(w.s.state == ZUB_DIS_FAILED && w.s.errorCode == ZUB_DES_ERR_NOMEM);
    EXPECT_TRUE(list.count == 0xFFFFFFFFu && list.data == nullptr);
    if (sizeof(size_t) > 4) { // the true size is asked for, never a wrapped one
        EXPECT_EQ(counting.lastSize(), 0xFFFFFFFFull * sizeof(zubDeserString_t));
    } else {
        EXPECT_TRUE(counting.sizes().empty()); // does not fit size_t: no call
    }

    zubBoundedAllocator_t bounded;
    zubDeserBlobUint32_t capped{};
    Walk b(&__zub_EndianTable_zubDeserBlobUint32_t, &capped, zubBoundedAllocatorInit(&bounded, 8));
    b.feed(bytes("00 00 00 03"));
    EXPECT_EQ(b.s.errorCode, ZUB_DES_ERR_NOMEM);
    EXPECT_EQ(bounded.used, 0u);

    Walk n(&__zub_EndianTable_zubDeserString_t, nullptr);
    EXPECT_EQ(n.feed(nullptr, 0), 0);
    EXPECT_EQ(n.s.errorCode, ZUB_DES_ERR_NOMEM);
}

// Entries no walker can take, after a first member of one byte: kinds 0, 5
// and 12 to 14, a fixed array of a table, a nested structure without one and
// a string without a count field. The serializer, the size and the
// deserializer stop there with -14 and the message at the walkers' site; a
// call after the failure changes nothing. A table that holds itself nests
// until the stack is full.
TEST(Walkers, InvalidEntriesStatesAndEndlessNestingFailTheWalk)
{
    const zubEndianInfoEntry_t bad[] = {
        ZUB_ENTRY_RAW(1, 0, 0),  ZUB_ENTRY_RAW(1, 5, 0),
        ZUB_ENTRY_RAW(1, 12, 0), ZUB_ENTRY_RAW(1, 13, 0),
        ZUB_ENTRY_RAW(1, 14, 0), ZUB_ENTRY_RAW(0, ZUB_ENDIAN_PACK(11, 2), &pairTable),
        ZUB_ENTRY_RAW(1, 3, 4),  ZUB_ENTRY_RAW(0xFFFF, ZUB_ENDIAN_PACK(10, 1028), 1)};
    const std::vector<uint32_t> site = {0x00020BB8u, 3, 0};
    uint8_t host[8] = {0x42}, out[8] = {};
    for (const zubEndianInfoEntry_t &second : bad) {
        const zubEndianInfoEntry_t entries[] = {ZUB_ENTRY_RAW(0, 1, 0), second, ZUB_ENTRY_END};
        const zubEndianTable_t table = {8, entries};
        DebugCapture capture;
        Walk put(&table, host);
        EXPECT_EQ(put.put(out, sizeof out), -14);
        EXPECT_TRUE(put.s.state == ZUB_SIS_FAILED && put.s.bufferPosition == 1 && out[0] == 0x42);
        uint8_t over[sizeof put.s];
        std::memcpy(over, &put.s, sizeof over);
        EXPECT_EQ(_zubSerializeTableInto(&put.s), 0);
        EXPECT_EQ(std::memcmp(over, &put.s, sizeof over), 0);
        EXPECT_EQ(zubSerializedSize(&table, host), -14);
        Walk get(&table, host);
        EXPECT_EQ(get.feed(bytes("42 00 02 61 62")), -14);
        EXPECT_TRUE(get.s.state == ZUB_DIS_FAILED && get.s.bufferPosition == 1);
        EXPECT_EQ(get.feed(bytes("42")), 0);
        const std::string message =
            "Invalid endian table entry " + std::to_string(second.packed & 15u) + ".\n";
        EXPECT_EQ(capture.messages(), std::vector<std::string>(3, message));
        for (size_t i = 0; i < 3; ++i)
            EXPECT_EQ(capture.site(i), site);
    }
    EXPECT_EQ(host[0], 0x42);
    EXPECT_EQ(_zubSerializeTableInto(nullptr), -22);
    EXPECT_EQ(_zubDeserializeTableFrom(nullptr), -22);
    EXPECT_EQ(zubSerializedSize(nullptr, host), -22);
    EXPECT_EQ(zubSerializedSize(&pairTable, nullptr), -22);

    // States that no walk reaches: 5 and 8 in the serializer, 5 in the deserializer.
    DebugCapture capture;
    Walk five(&pairTable, host), eight(&pairTable, host), get(&pairTable, host);
    five.s.state = get.s.state = 5;
    eight.s.state = 8;
    EXPECT_TRUE(five.put(out, sizeof out) == -14 && five.s.errorCode == -14);
    EXPECT_TRUE(eight.put(out, sizeof out) == -14 && eight.s.errorCode == -14);
    EXPECT_TRUE(get.feed(bytes("00")) == -14 && get.s.errorCode == -14);
    EXPECT_EQ(capture.messages(), (std::vector<std::string>{"Invalid internal state 5.\n",
                                                            "Invalid internal state 8.\n",
                                                            "Invalid internal state 5.\n"}));

    zubEndianInfoEntry_t selfEntries[] = {ZUB_ENTRY_RAW(0, 1, 0), ZUB_ENTRY_END, ZUB_ENTRY_END};
    const zubEndianTable_t self = {1, selfEntries};
    selfEntries[1] = {0, ZUB_DESER_TYPE_TABLE, {.table = &self}};
    EXPECT_EQ(zubSerializedSize(&self, host), -1000);
    Walk nested(&self, host);
    EXPECT_EQ(nested.feed(std::vector<uint8_t>(32, 7)), -1000);
    EXPECT_EQ(nested.s.bufferPosition, 20u); // a byte on each of the 20 levels
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
    const std::string three = "Invalid atom size 3 in table found.\n";
    const std::string zero = "Invalid atom size 0 in table found.\n";
    uint8_t six[6] = {1, 2, 3, 4, 5, 6}, out[16];
    Odd odd = {2, six, {}};
    DebugCapture capture;
    std::memset(out, 0xA5, sizeof out);
    EXPECT_EQ(zubSimpleSerializeInto(out, sizeof out, &oddTable, &odd), 13);
    EXPECT_EQ(zubtest::hex(out, 14), "02 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5");
    EXPECT_EQ(capture.messages(), (std::vector<std::string>{three, three, zero}));
    capture.clear();

    std::memset(odd.fixed, 0x99, sizeof odd.fixed);
    Walk w(&oddTable, &odd);
    const auto stream = bytes("02 01 02 03 04 05 06 07 08 09 0a 0b 0c");
    w.feed(stream.data(), 4);
    w.feed(stream.data() + 4, stream.size() - 4);
    EXPECT_TRUE(w.s.state == ZUB_DIS_DONE && w.s.totalBytes == stream.size());
    EXPECT_EQ(zubtest::hex(odd.d, 6), "75 75 75 75 75 75");
    EXPECT_EQ(zubtest::hex(odd.fixed, 6), "99 99 99 99 99 99");
    EXPECT_EQ(capture.messages(), (std::vector<std::string>{three, three, three, zero}));
    std::free(odd.d);
}

// Atom data of exactly 0x200000 bytes pass every walker. More end the walk
// after the count, before any of the data is read, written or allocated
// (also where the byte count does not fit 32 bits), and a call after that
// returns at once.
TEST(Walkers, AtomDataAboveTwoMebibytesEndsTheWalkAfterTheCount)
{
    const zubEndianTable_t *table = &__zub_EndianTable_zubDeserBlobUint64_t;
    std::vector<uint8_t> data(0x200008, 0x5A), out(0x200010);
    for (uint32_t count : {0x40000u, 0x40001u, 0x20000001u}) {
        const bool over = count > 0x40000u;
        zubDeserBlobUint64_t blob = {count, reinterpret_cast<uint64_t *>(data.data())};
        EXPECT_EQ(zubSerializedSize(table, &blob), over ? -1 : 0x200004);
        DebugCapture capture;
        Walk put(table, &blob);
        EXPECT_EQ(put.put(out.data(), static_cast<uint32_t>(out.size())), over ? -1 : 0);
        EXPECT_EQ(put.s.totalBytes, over ? 4u : 0x200004u);

        zubtest::CountingAllocator counting;
        counting.failAbove = 1u << 24;
        zubDeserBlobUint64_t copy = {0, reinterpret_cast<uint64_t *>(0x40)};
        Walk get(table, &copy, counting.record());
        EXPECT_EQ(get.feed(out.data(), over ? 6 : 0x200004), over ? -1 : 0);
        EXPECT_EQ(get.s.bufferPosition, over ? 4u : 0x200004u);
        EXPECT_EQ(get.feed(out.data(), 8), 0);
        EXPECT_EQ(put.put(out.data(), 8), 0);
        if (!over) {
            EXPECT_TRUE(capture.messages().empty());
            EXPECT_EQ(std::memcmp(copy.data, data.data(), 0x200000), 0);
            continue;
        }
        EXPECT_TRUE(get.s.state == ZUB_DIS_FAILED && put.s.state == ZUB_SIS_FAILED);
        EXPECT_TRUE(copy.data == reinterpret_cast<uint64_t *>(0x40) && counting.sizes().empty());
        EXPECT_EQ(capture.messages(),
                  (std::vector<std::string>{"Test for \"1\"was true: \"Exceed size\"",
                                            "Test for \"s->totalBytesOfMember>0x200000\"was "
                                            "true: \"member length is unexpected\""}));
        for (size_t i = 0; i < 2; ++i)
            EXPECT_EQ(capture.site(i), (std::vector<uint32_t>{0x000103E8u, 0, 0}));
    }
}
