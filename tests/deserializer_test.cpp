#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "deser_test_util.h"
#include "test_support.h"
#include "zub/bounded_allocator.h"
#include "zub/serialization.h"

using deser::Stream;
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

std::vector<uint8_t> msgStream()
{
    Stream s;
    s.be(0x0102, 2).be(0x33, 1).be(0x1122334455667788ull, 8);
    s.be(2, 1).be(0x0102030405060708ull, 8).be(0x1112131415161718ull, 8);
    s.be(3, 2).be(0xA1A2A3A4, 4).be(0xB1B2B3B4, 4).be(0xC1C2C3C4, 4);
    s.be(2, 4).be(0xDEADBEEF, 4).be(0x0102, 2).be(0x0304, 2).be(0x0506, 2).be(2, 2).text("hi");
    s.be(7, 4).be(0xA, 2).be(0xB, 2).be(0xC, 2).be(0, 2);
    s.be(5, 2).text("hello").be(0x99887766, 4);
    return s.bytes;
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
    zubDeserString_t text{3, reinterpret_cast<char *>(1)};
    Walk w(&__zub_EndianTable_zubDeserString_t, &text);
    EXPECT_EQ(w.feed(nullptr, 0), 0);
    EXPECT_TRUE(w.s.errorCode == ZUB_DES_ERR_XRUN && w.s.state == ZUB_DIS_READING_INTEGRAL);
    // A chunk ending with a count of 0 ends the walk in the same call.
    EXPECT_EQ(w.feed(bytes("00 00 00 00")), 0);
    EXPECT_EQ(w.s.state, ZUB_DIS_DONE);
    EXPECT_EQ(text.data, nullptr);
    const zubDeserState_t before = w.s;
    EXPECT_EQ(w.feed(bytes("00 00 00 05")), 0);
    EXPECT_TRUE(w.s.bufferPosition == 0 && w.s.totalBytes == before.totalBytes &&
                w.s.state == ZUB_DIS_DONE);

    zubDeserBlobUint8_t blob{};
    Walk past(&__zub_EndianTable_zubDeserBlobUint8_t, &blob);
    const auto chunk = bytes("00 00 00 01");
    past.s.buffer = const_cast<uint8_t *>(chunk.data());
    past.s.bufferLength = 2;
    past.s.bufferPosition = 4; // nothing is read
    EXPECT_EQ(_zubDeserializeTableFrom(&past.s), 0);
    EXPECT_TRUE(past.s.bufferPosition == 4 && past.s.totalBytes == 0);
    EXPECT_EQ(_zubDeserializeTableFrom(nullptr), -22);
}

TEST(Deserializer, MultiplicityBindsTheNextCountAndReturnsAfterNesting)
{
    struct Inner {
        uint8_t n;
        uint8_t *d;
    };
    struct Outer {
        Inner inner;
        uint8_t n;
        uint8_t *d;
        uint8_t m;
        uint8_t *e;
    };
    static const zubEndianInfoEntry_t innerEntries[] = {ZUB_ENTRY_VAR8(Inner, n, d, 1),
                                                        ZUB_ENTRY_END};
    static const zubEndianTable_t innerTable = ZUB_ENDIAN_TABLE(Inner, innerEntries);
    static const zubEndianInfoEntry_t outerEntries[] = {
        ZUB_ENTRY_MULTIPLICITY(3), ZUB_ENTRY_TABLE(Outer, inner, innerTable),
        ZUB_ENTRY_VAR8(Outer, n, d, 1), ZUB_ENTRY_VAR8(Outer, m, e, 1), ZUB_ENTRY_END};
    static const zubEndianTable_t outerTable = ZUB_ENDIAN_TABLE(Outer, outerEntries);

    // The nested table starts without a limit; the pending one binds the
    // next count after it, and only that one.
    Outer ok{};
    Walk pass(&outerTable, &ok);
    pass.feed(bytes("05 01 02 03 04 05 03 61 62 63 09 01 02 03 04 05 06 07 08 09"));
    EXPECT_EQ(pass.s.state, ZUB_DIS_DONE);
    release(&outerTable, &ok);

    DebugCapture capture;
    zubtest::CountingAllocator counting;
    Outer over{};
    over.d = reinterpret_cast<uint8_t *>(0x1234);
    Walk fail(&outerTable, &over, counting.record());
    EXPECT_EQ(fail.feed(bytes("00 04 61 62 63 64")), 0);
    EXPECT_TRUE(fail.s.state == ZUB_DIS_FAILED && fail.s.errorCode == ZUB_DES_ERR_MULTIPLICITY);
    EXPECT_TRUE(fail.s.bufferPosition == 2 && over.n == 4);
    EXPECT_EQ(over.d, reinterpret_cast<uint8_t *>(0x1234)); // not written, nothing allocated
    EXPECT_EQ(counting.allocations(), 0u);
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

TEST(Deserializer, AtomArraysAboveTwoMebibytesEndTheWalk)
{
    DebugCapture capture;
    std::vector<uint8_t> stream = bytes("00 20 00 00");
    stream.resize(4 + 0x200000, 0x5A);
    zubDeserBlobUint8_t blob{};
    Walk ok(&__zub_EndianTable_zubDeserBlobUint8_t, &blob);
    ok.feed(stream);
    EXPECT_EQ(ok.s.state, ZUB_DIS_DONE);
    release(&__zub_EndianTable_zubDeserBlobUint8_t, &blob);

    for (const char *count : {"00 20 00 01 11 11", "ff ff ff ff 11 11"}) {
        zubtest::CountingAllocator counting;
        zubDeserBlobUint64_t big{0, reinterpret_cast<uint64_t *>(0x40)};
        Walk w(&__zub_EndianTable_zubDeserBlobUint64_t, &big, counting.record());
        EXPECT_EQ(w.feed(bytes(count)), -1);
        EXPECT_TRUE(w.s.state == ZUB_DIS_FAILED &&
                    w.s.bufferPosition == 4); // none of its bytes read
        EXPECT_TRUE(big.data == reinterpret_cast<uint64_t *>(0x40) && counting.sizes().empty());
        EXPECT_EQ(w.feed(bytes(count)), 0); // over: feeding more never loops
    }
    ASSERT_EQ(capture.messages().size(), 2u);
    EXPECT_EQ(
        capture.messages()[0],
        "Test for \"s->totalBytesOfMember>0x200000\"was true: \"member length is unexpected\"");
    EXPECT_EQ(capture.site(0), (std::vector<uint32_t>{0x000103E8u, 0, 0}));
}

TEST(Deserializer, InvalidEntriesStatesAndAtomSizes)
{
    uint8_t host[16] = {};
    const zubEndianInfoEntry_t tableArgument = ZUB_ENTRY_RAW(0, ZUB_ENDIAN_PACK(11, 2), &pairTable);
    for (const zubEndianInfoEntry_t second :
         {zubEndianInfoEntry_t ZUB_ENTRY_RAW(1, 0, 0), zubEndianInfoEntry_t ZUB_ENTRY_RAW(1, 5, 0),
          zubEndianInfoEntry_t ZUB_ENTRY_RAW(1, 14, 0), tableArgument,
          zubEndianInfoEntry_t ZUB_ENTRY_RAW(1, 3, 4), // a nested structure without a table
          zubEndianInfoEntry_t ZUB_ENTRY_RAW(0xFFFF, ZUB_ENDIAN_PACK(10, 1028),
                                             1)}) { // no count field
        const zubEndianInfoEntry_t entries[] = {ZUB_ENTRY_RAW(0, 1, 0), second, ZUB_ENTRY_END};
        const zubEndianTable_t table = {8, entries};
        DebugCapture capture;
        Walk w(&table, host);
        EXPECT_EQ(w.feed(bytes("42 00 02 61 62")), -14);
        EXPECT_TRUE(w.s.state == ZUB_DIS_FAILED && w.s.bufferPosition == 1);
        const std::string message =
            "Invalid endian table entry " + std::to_string(second.packed & 15u);
        EXPECT_EQ(capture.messages(), std::vector<std::string>{message + ".\n"});
        EXPECT_EQ(capture.site(0), (std::vector<uint32_t>{0x00020BB8u, 3, 0}));
    }
    EXPECT_EQ(host[0], 0x42);

    DebugCapture capture;
    Walk bad(&__zub_EndianTable_zubOsalTime_t, host);
    bad.s.state = 5;
    EXPECT_EQ(bad.feed(bytes("00")), -14);
    EXPECT_EQ(bad.s.errorCode, -14);
    EXPECT_EQ(capture.messages(), std::vector<std::string>{"Invalid internal state 5.\n"});
    capture.clear();

    // Atom size 3: each piece is consumed but not stored, with a message.
    struct Odd {
        uint8_t n;
        uint8_t *d;
        uint8_t fixed[6];
    };
    const zubEndianInfoEntry_t oddEntries[] = {
        ZUB_ENTRY_RAW(0, ZUB_ENDIAN_PACK(6, 1024 + offsetof(Odd, d)), 3),
        ZUB_ENTRY_RAW(offsetof(Odd, fixed), ZUB_ENDIAN_PACK(11, 2), 3), ZUB_ENTRY_END};
    const zubEndianTable_t oddTable = ZUB_ENDIAN_TABLE(Odd, oddEntries);
    Odd odd{};
    std::memset(odd.fixed, 0x99, sizeof odd.fixed);
    Walk w(&oddTable, &odd);
    const auto stream = bytes("02 01 02 03 04 05 06 07 08 09 0a 0b 0c");
    w.feed(stream.data(), 4);
    w.feed(stream.data() + 4, stream.size() - 4);
    EXPECT_TRUE(w.s.state == ZUB_DIS_DONE && w.s.totalBytes == stream.size());
    EXPECT_EQ(zubtest::hex(odd.d, 6), "75 75 75 75 75 75");
    EXPECT_EQ(zubtest::hex(odd.fixed, 6), "99 99 99 99 99 99");
    EXPECT_EQ(capture.messages(),
              (std::vector<std::string>(3, "Invalid atom size 3 in table found.\n")));
    std::free(odd.d);
}

TEST(Deserializer, StackOfNRecordsHoldsNMinusOneLevels)
{
    // Level k: a byte, then level k + 1 as a nested structure or as an
    // array of one; the deepest level is a byte.
    constexpr int kLevels = 8;
    for (bool arrays : {false, true}) {
        std::vector<zubEndianTable_t> tables(kLevels + 1);
        std::vector<std::vector<zubEndianInfoEntry_t>> entries(kLevels + 1);
        Stream s;
        for (int k = kLevels; k >= 0; --k) {
            entries[k] = {ZUB_ENTRY_RAW(0, 1, 0), ZUB_ENTRY_END};
            if (k < kLevels) {
                const zubEndianInfoEntry_t array =
                    ZUB_ENTRY_RAW(1, ZUB_ENDIAN_PACK(6, 1025), &tables[k + 1]);
                const zubEndianInfoEntry_t nested = ZUB_ENTRY_RAW(1, 3, &tables[k + 1]);
                entries[k].insert(entries[k].begin() + 1, arrays ? array : nested);
            }
            tables[k] = {static_cast<uint32_t>(arrays ? 2 + sizeof(void *) : kLevels - k + 1),
                         entries[k].data()};
        }
        for (int k = 0; k <= kLevels; ++k) {
            s.be(k, 1).be(1, arrays && k < kLevels ? 1 : 0);
        }
        for (uint16_t capacity : {uint16_t(kLevels + 1), uint16_t(kLevels)}) {
            std::vector<uint8_t> host(64, 0);
            Walk w(&tables[0], host.data(), nullptr, capacity);
            EXPECT_EQ(w.feed(s.bytes), capacity > kLevels ? 0 : -1000) << arrays;
            EXPECT_EQ(w.s.state, capacity > kLevels ? ZUB_DIS_DONE : ZUB_DIS_FAILED);
            EXPECT_EQ(_zubDeserMemoryDealloc(&tables[0], host.data(), kLevels), 0);
        }
    }
}
