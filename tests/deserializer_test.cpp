#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "deser_test_util.h"
#include "test_support.h"
#include "zub/bounded_allocator.h"
#include "zub/serialization.h"

using deser::Stream;
using deser::TrackingAllocator;
using deser::Walk;
using zubtest::DebugCapture;

namespace {

// A message with every kind: nested structure, counted arrays of 8-, 4-
// and 1-byte atoms, an array of structures holding a fixed array and a
// string, a multiplicity, and a plain integer last.
struct Elem {
    uint32_t v;
    uint16_t fixed[3];
    uint16_t len;
    char *text;
};
struct Pair {
    uint8_t b;
    uint64_t q;
};
struct Msg {
    uint16_t id;
    Pair pair;
    uint8_t n64;
    uint64_t *q64;
    uint16_t n32;
    uint32_t *w32;
    uint32_t nElem;
    Elem *elems;
    uint16_t nText;
    char *text;
    uint32_t tail;
};

const zubEndianInfoEntry_t elemEntries[] = {ZUB_ENTRY_U32(Elem, v), ZUB_ENTRY_FIXED_ARRAY(Elem, fixed),
                                            ZUB_ENTRY_STRING(Elem, len, text), ZUB_ENTRY_END};
const zubEndianTable_t elemTable = ZUB_ENDIAN_TABLE(Elem, elemEntries);
const zubEndianInfoEntry_t pairEntries[] = {ZUB_ENTRY_U8(Pair, b), ZUB_ENTRY_U64(Pair, q), ZUB_ENTRY_END};
const zubEndianTable_t pairTable = ZUB_ENDIAN_TABLE(Pair, pairEntries);
const zubEndianInfoEntry_t msgEntries[] = {
    ZUB_ENTRY_U16(Msg, id),
    ZUB_ENTRY_TABLE(Msg, pair, pairTable),
    ZUB_ENTRY_VAR8(Msg, n64, q64, 8),
    ZUB_ENTRY_VAR16(Msg, n32, w32, 4),
    ZUB_ENTRY_MULTIPLICITY(5),
    ZUB_ENTRY_VAR32_TABLE(Msg, nElem, elems, elemTable),
    ZUB_ENTRY_STRING(Msg, nText, text),
    ZUB_ENTRY_U32(Msg, tail),
    ZUB_ENTRY_END};
const zubEndianTable_t msgTable = ZUB_ENDIAN_TABLE(Msg, msgEntries);

std::vector<uint8_t> msgStream()
{
    Stream s;
    s.be(0x0102, 2).be(0x33, 1).be(0x1122334455667788ull, 8);
    s.be(2, 1).be(0x0102030405060708ull, 8).be(0x1112131415161718ull, 8);
    s.be(3, 2).be(0xA1A2A3A4, 4).be(0xB1B2B3B4, 4).be(0xC1C2C3C4, 4);
    s.be(2, 4);
    s.be(0xDEADBEEF, 4).be(0x0102, 2).be(0x0304, 2).be(0x0506, 2).be(2, 2).text("hi");
    s.be(7, 4).be(0xA, 2).be(0xB, 2).be(0xC, 2).be(0, 2);
    s.be(5, 2).text("hello").be(0x99887766, 4);
    return s.bytes;
}

void expectMsg(const Msg &m)
{
    EXPECT_EQ(m.id, 0x0102);
    EXPECT_EQ(m.pair.b, 0x33);
    EXPECT_EQ(m.pair.q, 0x1122334455667788ull);
    ASSERT_EQ(m.n64, 2);
    EXPECT_EQ(m.q64[1], 0x1112131415161718ull);
    ASSERT_EQ(m.n32, 3);
    EXPECT_EQ(m.w32[2], 0xC1C2C3C4u);
    ASSERT_EQ(m.nElem, 2u);
    EXPECT_EQ(m.elems[0].v, 0xDEADBEEFu);
    EXPECT_EQ(m.elems[0].fixed[2], 0x0506);
    ASSERT_EQ(m.elems[0].len, 2);
    EXPECT_EQ(std::memcmp(m.elems[0].text, "hi", 2), 0);
    EXPECT_EQ(m.elems[1].fixed[0], 0xA);
    EXPECT_EQ(m.elems[1].len, 0);
    EXPECT_EQ(m.elems[1].text, nullptr);
    ASSERT_EQ(m.nText, 5);
    EXPECT_EQ(std::memcmp(m.text, "hello", 5), 0);
    EXPECT_EQ(m.tail, 0x99887766u);
}

// Blocks of a TrackingAllocator are plain malloc blocks: the release frees them.
void release(const zubEndianTable_t *table, void *record)
{
    EXPECT_EQ(_zubDeserMemoryDealloc(table, record, -1), 0);
}

} // namespace

TEST(Deserializer, ReadsTheDocumentedExampleStreams)
{
    struct Element {
        uint32_t value;
        uint8_t small;
    };
    struct Outer {
        uint16_t id;
        uint8_t n;
        Element *elements;
    };
    static const zubEndianInfoEntry_t elementEntries[] = {ZUB_ENTRY_U32(Element, value),
                                                          ZUB_ENTRY_U8(Element, small), ZUB_ENTRY_END};
    static const zubEndianTable_t elementTable = ZUB_ENDIAN_TABLE(Element, elementEntries);
    static const zubEndianInfoEntry_t outerEntries[] = {
        ZUB_ENTRY_U16(Outer, id), ZUB_ENTRY_VAR8_TABLE(Outer, n, elements, elementTable), ZUB_ENTRY_END};
    static const zubEndianTable_t outerTable = ZUB_ENDIAN_TABLE(Outer, outerEntries);

    Outer outer{};
    Walk a(&outerTable, &outer);
    EXPECT_EQ(a.feed(zubtest::bytes("01 02 02 0A 0B 0C 0D 0E 00 00 00 01 02")), 0);
    EXPECT_EQ(a.s.state, ZUB_DIS_DONE);
    EXPECT_EQ(a.s.errorCode, ZUB_DES_ERR_XRUN);
    EXPECT_EQ(a.s.totalBytes, 13u);
    EXPECT_EQ(outer.id, 0x0102);
    ASSERT_EQ(outer.n, 2);
    EXPECT_EQ(outer.elements[0].value, 0x0A0B0C0Du);
    EXPECT_EQ(outer.elements[0].small, 0x0E);
    EXPECT_EQ(outer.elements[1].value, 1u);
    EXPECT_EQ(outer.elements[1].small, 2);
    release(&outerTable, &outer);

    zubDeserBlobUint16_t blob{};
    Walk b(&__zub_EndianTable_zubDeserBlobUint16_t, &blob);
    b.feed(zubtest::bytes("00 00 00 02 01 02 03 04"));
    EXPECT_EQ(b.s.state, ZUB_DIS_DONE);
    ASSERT_EQ(blob.count, 2u);
    EXPECT_EQ(blob.data[0], 0x0102);
    EXPECT_EQ(blob.data[1], 0x0304);
    release(&__zub_EndianTable_zubDeserBlobUint16_t, &blob);

    // An array of strings: exact blocks, no terminating zero byte.
    TrackingAllocator tracking;
    zubDeserBlobString_t strings{};
    Walk c(&__zub_EndianTable_zubDeserBlobString_t, &strings, &tracking.record);
    c.feed(zubtest::bytes("00 00 00 01 00 00 00 03 61 62 63"));
    EXPECT_EQ(c.s.state, ZUB_DIS_DONE);
    ASSERT_EQ(strings.count, 1u);
    ASSERT_EQ(tracking.blocks.size(), 2u);
    EXPECT_EQ(tracking.blocks[0].second, sizeof(zubDeserString_t));
    EXPECT_EQ(tracking.blocks[1].second, 3u);
    EXPECT_EQ(strings.data[0].count, 3u);
    EXPECT_EQ(std::memcmp(strings.data[0].data, "abc", 3), 0);
    release(&__zub_EndianTable_zubDeserBlobString_t, &strings);

    // A time is 12 bytes; its padding is never written.
    zubOsalTime_t time;
    std::memset(&time, 0xEE, sizeof time);
    Walk d(&__zub_EndianTable_zubOsalTime_t, &time);
    d.feed(zubtest::bytes("00 00 00 00 00 00 00 01 00 00 00 02 ff"));
    EXPECT_EQ(d.s.bufferPosition, 12u);
    EXPECT_EQ(time.seconds, 1);
    EXPECT_EQ(time.nanoseconds, 2u);
    EXPECT_EQ(reinterpret_cast<uint8_t *>(&time)[15], 0xEE);
}

TEST(Deserializer, EveryCutGivesTheRecordOfTheByteAtATimeWalk)
{
    // After any prefix of the stream, one chunk and one-byte chunks leave
    // identical records, structures and blocks (0x75 filling included);
    // the rest in one chunk then completes identically.
    const std::vector<uint8_t> stream = msgStream();
    std::string complete;
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        TrackingAllocator ta, tb;
        ta.fill = tb.fill = 0xA5;
        Msg ma{}, mb{};
        Walk a(&msgTable, &ma, &ta.record);
        Walk b(&msgTable, &mb, &tb.record);
        a.feedChunks(stream, 0, cut, stream.size());
        b.feedChunks(stream, 0, cut, 1);
        ASSERT_EQ(deser::recordText(a.s, &ma, sizeof ma, ta), deser::recordText(b.s, &mb, sizeof mb, tb))
            << "cut " << cut;
        ASSERT_EQ(deser::dump(&msgTable, reinterpret_cast<uint8_t *>(&ma), ta),
                  deser::dump(&msgTable, reinterpret_cast<uint8_t *>(&mb), tb))
            << "cut " << cut;
        a.feedChunks(stream, cut, stream.size(), stream.size());
        b.feedChunks(stream, cut, stream.size(), 3);
        ASSERT_EQ(a.s.state, ZUB_DIS_DONE) << "cut " << cut;
        const std::string final = deser::recordText(a.s, &ma, sizeof ma, ta) +
                                  deser::dump(&msgTable, reinterpret_cast<uint8_t *>(&ma), ta);
        ASSERT_EQ(final, deser::recordText(b.s, &mb, sizeof mb, tb) +
                             deser::dump(&msgTable, reinterpret_cast<uint8_t *>(&mb), tb))
            << "cut " << cut;
        if (cut == 0) {
            complete = final;
            expectMsg(ma);
        }
        EXPECT_EQ(final, complete) << "cut " << cut;
        EXPECT_EQ(a.s.totalBytes, stream.size());
        release(&msgTable, &ma);
        release(&msgTable, &mb);
    }
}

TEST(Deserializer, FailedAllocationLeavesTheRecordOfTheByteAtATimeWalk)
{
    // The k-th block refused: one chunk and one-byte chunks fail at the
    // same place with the same record, structure and blocks.
    const std::vector<uint8_t> stream = msgStream();
    for (long k = 0; k < 5; ++k) { // five blocks: q64, w32, elems, "hi", "hello"
        TrackingAllocator ta, tb;
        ta.failAfter = tb.failAfter = k;
        Msg ma{}, mb{};
        Walk a(&msgTable, &ma, &ta.record);
        Walk b(&msgTable, &mb, &tb.record);
        a.feedChunks(stream, 0, stream.size(), stream.size());
        b.feedChunks(stream, 0, stream.size(), 1);
        ASSERT_EQ(a.s.errorCode, ZUB_DES_ERR_NOMEM) << "block " << k;
        EXPECT_EQ(deser::recordText(a.s, &ma, sizeof ma, ta), deser::recordText(b.s, &mb, sizeof mb, tb))
            << "block " << k;
        EXPECT_EQ(a.s.bufferPosition + 0u, a.s.totalBytes);
        EXPECT_EQ(deser::dump(&msgTable, reinterpret_cast<uint8_t *>(&ma), ta),
                  deser::dump(&msgTable, reinterpret_cast<uint8_t *>(&mb), tb))
            << "block " << k;
        for (auto &block : ta.blocks) std::free(block.first);
        for (auto &block : tb.blocks) std::free(block.first);
    }
}

TEST(Deserializer, ChunkEdges)
{
    const std::vector<uint8_t> stream = msgStream();
    std::vector<uint8_t> longer = stream;
    longer.insert(longer.end(), {0xEE, 0xEE, 0xEE});

    // A longer chunk: the walk stops just behind the stream.
    Msg m{};
    Walk a(&msgTable, &m);
    EXPECT_EQ(a.feed(longer), 0);
    EXPECT_EQ(a.s.state, ZUB_DIS_DONE);
    EXPECT_EQ(a.s.bufferPosition, stream.size());
    expectMsg(m);

    // A finished walk changes nothing, errorCode included.
    zubDeserState_t before = a.s;
    a.s.errorCode = 77;
    before.errorCode = 77;
    EXPECT_EQ(a.feed(longer), 0);
    before.bufferPosition = 0;
    EXPECT_EQ(std::memcmp(&before, &a.s, sizeof before), 0);
    release(&msgTable, &m);

    // An empty chunk consumes nothing but takes the steps that need none;
    // a chunk ending with a count of 0 ends the walk without another call.
    zubDeserString_t text{3, reinterpret_cast<char *>(1)};
    Walk b(&__zub_EndianTable_zubDeserString_t, &text);
    EXPECT_EQ(b.feed(nullptr, 0), 0);
    EXPECT_EQ(b.s.errorCode, ZUB_DES_ERR_XRUN);
    EXPECT_EQ(b.s.state, ZUB_DIS_READING_INTEGRAL);
    EXPECT_EQ(b.s.totalBytesOfMember, 4u);
    EXPECT_EQ(b.feed(zubtest::bytes("00 00 00 00")), 0);
    EXPECT_EQ(b.s.state, ZUB_DIS_DONE);
    EXPECT_EQ(text.count, 0u);
    EXPECT_EQ(text.data, nullptr);

    // A table without members is complete at once; so is an empty chunk.
    static const zubEndianInfoEntry_t none[] = {ZUB_ENTRY_END};
    static const zubEndianTable_t emptyTable = {4, none};
    uint32_t untouched = 0x12345678;
    Walk c(&emptyTable, &untouched);
    EXPECT_EQ(c.feed(nullptr, 0), 0);
    EXPECT_EQ(c.s.state, ZUB_DIS_DONE);
    EXPECT_EQ(c.s.totalBytes, 0u);
    EXPECT_EQ(untouched, 0x12345678u);

    // A position past the chunk's end reads nothing.
    zubDeserBlobUint8_t blob{};
    Walk d(&__zub_EndianTable_zubDeserBlobUint8_t, &blob);
    const std::vector<uint8_t> bytes = zubtest::bytes("00 00 00 01 55");
    d.s.buffer = const_cast<uint8_t *>(bytes.data());
    d.s.bufferLength = 2;
    d.s.bufferPosition = 4;
    EXPECT_EQ(_zubDeserializeTableFrom(&d.s), 0);
    EXPECT_EQ(d.s.errorCode, ZUB_DES_ERR_XRUN);
    EXPECT_EQ(d.s.bufferPosition, 4u);
    EXPECT_EQ(d.s.totalBytes, 0u);
    EXPECT_EQ(_zubDeserializeTableFrom(nullptr), -22);
}

TEST(Deserializer, AtomBlocksReadAsFreshFillUntilTheirBytesArrive)
{
    zubDeserBlobUint32_t blob{};
    Walk w(&__zub_EndianTable_zubDeserBlobUint32_t, &blob);
    const auto stream = zubtest::bytes("00 00 00 02 11 22 33 44 55 66");
    w.feed(stream);
    EXPECT_EQ(w.s.state, ZUB_DIS_READ_ARRAY);
    EXPECT_EQ(w.s.bytesOfMemberDone, 6u);
    EXPECT_EQ(w.s.srcval, reinterpret_cast<uint8_t *>(blob.data));
    // The second atom's bytes land at 7 and 6; 5 and 4 are still fresh.
    EXPECT_EQ(zubtest::hex(blob.data, 8), "44 33 22 11 75 75 66 55");
    w.feed(zubtest::bytes("77 88"));
    EXPECT_EQ(blob.data[1], 0x55667788u);
    release(&__zub_EndianTable_zubDeserBlobUint32_t, &blob);
}

TEST(Deserializer, MultiplicityLimitsOnlyTheNextCount)
{
    struct Two {
        uint8_t na;
        uint8_t *a;
        uint8_t nb;
        uint8_t *b;
    };
    static const zubEndianInfoEntry_t entries[] = {ZUB_ENTRY_MULTIPLICITY(3), ZUB_ENTRY_VAR8(Two, na, a, 1),
                                                   ZUB_ENTRY_VAR8(Two, nb, b, 1), ZUB_ENTRY_END};
    static const zubEndianTable_t table = ZUB_ENDIAN_TABLE(Two, entries);

    Two ok{};
    Walk pass(&table, &ok);
    pass.feed(zubtest::bytes("03 61 62 63 09 01 02 03 04 05 06 07 08 09"));
    EXPECT_EQ(pass.s.state, ZUB_DIS_DONE);
    EXPECT_EQ(ok.nb, 9);
    release(&table, &ok);

    DebugCapture capture;
    zubtest::CountingAllocator counting;
    Two over{};
    over.a = reinterpret_cast<uint8_t *>(0x1234);
    Walk fail(&table, &over, counting.record());
    EXPECT_EQ(fail.feed(zubtest::bytes("04 61 62 63 64")), 0);
    EXPECT_EQ(fail.s.state, ZUB_DIS_FAILED);
    EXPECT_EQ(fail.s.errorCode, ZUB_DES_ERR_MULTIPLICITY);
    EXPECT_EQ(fail.s.bufferPosition, 1u);
    EXPECT_EQ(over.na, 4);
    EXPECT_EQ(over.a, reinterpret_cast<uint8_t *>(0x1234));
    EXPECT_EQ(counting.allocations(), 0u);
    ASSERT_EQ(capture.messages().size(), 1u);
    EXPECT_EQ(capture.messages()[0], "Incoming data exceeded multiplicity (4>3).\n");
    EXPECT_EQ(capture.site(0), (std::vector<uint32_t>{0x00020BB8u, 3, 0}));
}

TEST(Deserializer, PendingLimitReturnsAfterANestedStructure)
{
    // The limit set before a nested structure does not bind inside it (each
    // table starts without one) but is in force again for the next count.
    struct Inner {
        uint8_t n;
        uint8_t *d;
    };
    struct Outer {
        Inner inner;
        uint8_t n;
        uint8_t *d;
    };
    static const zubEndianInfoEntry_t innerEntries[] = {ZUB_ENTRY_VAR8(Inner, n, d, 1), ZUB_ENTRY_END};
    static const zubEndianTable_t innerTable = ZUB_ENDIAN_TABLE(Inner, innerEntries);
    static const zubEndianInfoEntry_t outerEntries[] = {
        ZUB_ENTRY_MULTIPLICITY(1), ZUB_ENTRY_TABLE(Outer, inner, innerTable), ZUB_ENTRY_VAR8(Outer, n, d, 1),
        ZUB_ENTRY_END};
    static const zubEndianTable_t outerTable = ZUB_ENDIAN_TABLE(Outer, outerEntries);

    Outer o{};
    Walk w(&outerTable, &o);
    w.feed(zubtest::bytes("02 aa bb 02 cc dd"));
    EXPECT_EQ(w.s.state, ZUB_DIS_FAILED);
    EXPECT_EQ(w.s.errorCode, ZUB_DES_ERR_MULTIPLICITY);
    EXPECT_EQ(o.inner.n, 2);
    EXPECT_EQ(o.n, 2);
    EXPECT_EQ(o.d, nullptr);
    release(&outerTable, &o);
}

TEST(Deserializer, FailedAllocationsAndNullStructures)
{
    for (int which = 0; which < 2; ++which) {
        // which 0: the atom array fails; 1: the array of strings fails.
        struct Both {
            zubDeserString_t text;
            zubDeserStringArray_t list;
        };
        static const zubEndianInfoEntry_t entries[] = {
            ZUB_ENTRY_TABLE(Both, text, __zub_EndianTable_zubDeserString_t),
            ZUB_ENTRY_TABLE(Both, list, __zub_EndianTable_zubDeserStringArray_t), ZUB_ENTRY_END};
        static const zubEndianTable_t table = ZUB_ENDIAN_TABLE(Both, entries);
        zubtest::CountingAllocator counting;
        counting.failAfter = which;
        Both both{};
        Walk w(&table, &both, counting.record());
        EXPECT_EQ(w.feed(zubtest::bytes("00 00 00 01 41 00 00 00 02")), 0);
        EXPECT_EQ(w.s.state, ZUB_DIS_FAILED);
        EXPECT_EQ(w.s.errorCode, ZUB_DES_ERR_NOMEM);
        EXPECT_EQ(both.text.count, 1u);
        EXPECT_EQ(both.list.count, which == 1 ? 2u : 0u);
        EXPECT_EQ(both.list.data, nullptr);
    }

    // A count of 0xFFFFFFFF asks for its true size, never a wrapped block.
    zubtest::CountingAllocator counting;
    counting.failAbove = 1u << 20;
    zubDeserStringArray_t list{};
    Walk w(&__zub_EndianTable_zubDeserStringArray_t, &list, counting.record());
    w.feed(zubtest::bytes("ff ff ff ff"));
    EXPECT_EQ(w.s.errorCode, ZUB_DES_ERR_NOMEM);
    EXPECT_EQ(list.count, 0xFFFFFFFFu);
    if (sizeof(size_t) > 4) {
        EXPECT_EQ(counting.lastSize(), 0xFFFFFFFFull * sizeof(zubDeserString_t));
    } else {
        EXPECT_TRUE(counting.sizes().empty()); // does not fit size_t: no call at all
    }

    // The bounded allocator refuses what exceeds its budget.
    zubBoundedAllocator_t bounded;
    zubAllocator_t *record = zubBoundedAllocatorInit(&bounded, 2 * sizeof(zubDeserString_t));
    zubDeserStringArray_t capped{};
    Walk b(&__zub_EndianTable_zubDeserStringArray_t, &capped, record);
    b.feed(zubtest::bytes("00 00 00 03"));
    EXPECT_EQ(b.s.errorCode, ZUB_DES_ERR_NOMEM);
    EXPECT_EQ(bounded.used, 0u);

    // A null structure address fails at the start of its table.
    Walk n(&__zub_EndianTable_zubDeserString_t, nullptr);
    EXPECT_EQ(n.feed(nullptr, 0), 0);
    EXPECT_EQ(n.s.state, ZUB_DIS_FAILED);
    EXPECT_EQ(n.s.errorCode, ZUB_DES_ERR_NOMEM);
}

TEST(Deserializer, AtomArraysStopAboveTwoMebibytes)
{
    DebugCapture capture;
    std::vector<uint8_t> stream = zubtest::bytes("00 20 00 00");
    stream.resize(4 + 0x200000, 0x5A);
    zubDeserBlobUint8_t blob{};
    Walk ok(&__zub_EndianTable_zubDeserBlobUint8_t, &blob);
    ok.feed(stream);
    EXPECT_EQ(ok.s.state, ZUB_DIS_DONE);
    EXPECT_EQ(blob.data[0x1FFFFF], 0x5A);
    release(&__zub_EndianTable_zubDeserBlobUint8_t, &blob);
    EXPECT_TRUE(capture.messages().empty());

    for (const char *count : {"00 20 00 01", "ff ff ff ff"}) {
        zubtest::CountingAllocator counting;
        zubDeserBlobUint64_t big{};
        big.data = reinterpret_cast<uint64_t *>(0x40);
        Walk w(&__zub_EndianTable_zubDeserBlobUint64_t, &big, counting.record());
        std::vector<uint8_t> chunk = zubtest::bytes(count);
        chunk.insert(chunk.end(), 8, 0x11);
        EXPECT_EQ(w.feed(chunk), -1);
        EXPECT_EQ(w.s.state, ZUB_DIS_FAILED);
        EXPECT_EQ(w.s.errorCode, -1);
        EXPECT_EQ(w.s.bufferPosition, 4u);
        EXPECT_EQ(big.data, reinterpret_cast<uint64_t *>(0x40));
        EXPECT_TRUE(counting.sizes().empty());
        EXPECT_EQ(w.feed(chunk), 0); // the walk is over: feeding more never loops
    }
    ASSERT_EQ(capture.messages().size(), 2u);
    EXPECT_EQ(capture.messages()[0],
              "Test for \"s->totalBytesOfMember>0x200000\"was true: \"member length is unexpected\"");
    EXPECT_EQ(capture.site(0), (std::vector<uint32_t>{0x000103E8u, 0, 0}));
}

TEST(Deserializer, InvalidEntriesStatesAndAtomSizes)
{
    uint8_t host[64];
    for (unsigned kind : {0u, 5u, 12u, 13u, 14u}) {
        const zubEndianInfoEntry_t entries[] = {ZUB_ENTRY_RAW(0, 1, 0), ZUB_ENTRY_RAW(1, kind, 0), ZUB_ENTRY_END};
        const zubEndianTable_t table = {8, entries};
        DebugCapture capture;
        std::memset(host, 0, sizeof host);
        Walk w(&table, host);
        EXPECT_EQ(w.feed(zubtest::bytes("42 43")), -14);
        EXPECT_EQ(w.s.state, ZUB_DIS_FAILED);
        EXPECT_EQ(host[0], 0x42);
        EXPECT_EQ(w.s.bufferPosition, 1u);
        ASSERT_EQ(capture.messages().size(), 1u);
        EXPECT_EQ(capture.messages()[0], "Invalid endian table entry " + std::to_string(kind) + ".\n");
    }
    // Entries that cannot be read: a fixed array of a table, a nested
    // structure without a table, a counted member without a count field.
    static const zubEndianInfoEntry_t unusable[][2] = {
        {ZUB_ENTRY_RAW(0, ZUB_ENDIAN_PACK(11, 2), &__zub_EndianTable_zubOsalTime_t), ZUB_ENTRY_END},
        {ZUB_ENTRY_RAW(0, 3, 4), ZUB_ENTRY_END},
        {ZUB_ENTRY_RAW(0xFFFF, ZUB_ENDIAN_PACK(10, 1028), 1), ZUB_ENTRY_END}};
    for (const auto &entries : unusable) {
        const zubEndianTable_t table = {8, entries};
        std::memset(host, 0, sizeof host);
        Walk w(&table, host);
        EXPECT_EQ(w.feed(zubtest::bytes("00 02 61 62")), -14);
        EXPECT_EQ(w.s.bufferPosition, 0u);
    }

    DebugCapture capture;
    Walk bad(&__zub_EndianTable_zubOsalTime_t, host);
    bad.s.state = 5;
    EXPECT_EQ(bad.feed(zubtest::bytes("00")), -14);
    EXPECT_EQ(bad.s.state, ZUB_DIS_FAILED);
    EXPECT_EQ(bad.s.errorCode, -14);
    ASSERT_EQ(capture.messages().size(), 1u);
    EXPECT_EQ(capture.messages()[0], "Invalid internal state 5.\n");
    capture.clear();

    // Atom size 3: the bytes are consumed but not stored, once per piece.
    struct Odd {
        uint8_t n;
        uint8_t *d;
        uint8_t fixed[6];
    };
    const zubEndianInfoEntry_t oddEntries[] = {ZUB_ENTRY_RAW(offsetof(Odd, n), ZUB_ENDIAN_PACK(6, 1024 + offsetof(Odd, d)), 3),
                                               ZUB_ENTRY_RAW(offsetof(Odd, fixed), ZUB_ENDIAN_PACK(11, 2), 3), ZUB_ENTRY_END};
    const zubEndianTable_t oddTable = ZUB_ENDIAN_TABLE(Odd, oddEntries);
    Odd odd{};
    std::memset(odd.fixed, 0x99, sizeof odd.fixed);
    Walk w(&oddTable, &odd);
    const auto stream = zubtest::bytes("02 01 02 03 04 05 06 07 08 09 0a 0b 0c");
    w.feed(stream.data(), 4);
    w.feed(stream.data() + 4, stream.size() - 4);
    EXPECT_EQ(w.s.state, ZUB_DIS_DONE);
    EXPECT_EQ(w.s.totalBytes, stream.size());
    EXPECT_EQ(zubtest::hex(odd.d, 6), "75 75 75 75 75 75");
    EXPECT_EQ(zubtest::hex(odd.fixed, 6), "99 99 99 99 99 99");
    EXPECT_EQ(capture.messages(), (std::vector<std::string>(3, "Invalid atom size 3 in table found.\n")));
    std::free(odd.d);
}

TEST(Deserializer, StackOfNRecordsHoldsNMinusOneLevels)
{
    // Level k: one byte, then the structure of level k + 1 (kind 3), or an
    // array of one such structure; the deepest level is one byte.
    for (bool arrays : {false, true}) {
        constexpr int kLevels = 8;
        const size_t stride = arrays ? 1 + sizeof(void *) + 1 : 1;
        std::vector<zubEndianTable_t> tables(kLevels + 1);
        std::vector<std::vector<zubEndianInfoEntry_t>> entries(kLevels + 1);
        for (int k = kLevels; k >= 0; --k) {
            entries[k].push_back(ZUB_ENTRY_RAW(0, 1, 0));
            if (k < kLevels) {
                entries[k].push_back(arrays ? zubEndianInfoEntry_t ZUB_ENTRY_RAW(1, ZUB_ENDIAN_PACK(6, 1025), &tables[k + 1])
                                            : zubEndianInfoEntry_t ZUB_ENTRY_RAW(1, 3, &tables[k + 1]));
            }
            entries[k].push_back(ZUB_ENTRY_END);
            tables[k] = {static_cast<uint32_t>(arrays ? stride : kLevels - k + 1), entries[k].data()};
        }
        Stream s;
        for (int k = 0; k <= kLevels; ++k) {
            s.be(k, 1);
            if (arrays && k < kLevels) {
                s.be(1, 1);
            }
        }
        for (uint16_t capacity : {uint16_t(kLevels + 1), uint16_t(kLevels)}) {
            std::vector<uint8_t> host(64, 0);
            Walk w(&tables[0], host.data(), nullptr, capacity);
            const int32_t result = w.feed(s.bytes);
            EXPECT_EQ(result, capacity > kLevels ? 0 : -1000) << arrays;
            EXPECT_EQ(w.s.state, capacity > kLevels ? ZUB_DIS_DONE : ZUB_DIS_FAILED);
            EXPECT_EQ(_zubDeserMemoryDealloc(&tables[0], host.data(), kLevels), 0);
        }
    }
}

TEST(Deserializer, ReadsWhatTheSerializerWrites)
{
    // The literal stream is the serializer's, and the structure read from
    // it serializes back to the same bytes.
    const std::vector<uint8_t> stream = msgStream();
    Msg m{};
    Walk w(&msgTable, &m);
    w.feed(stream);
    ASSERT_EQ(w.s.state, ZUB_DIS_DONE);
    std::vector<uint8_t> again(stream.size() + 8, 0);
    ASSERT_EQ(zubSimpleSerializeInto(again.data(), static_cast<uint32_t>(again.size()), &msgTable, &m),
              static_cast<int32_t>(stream.size()));
    again.resize(stream.size());
    EXPECT_EQ(zubtest::hex(again.data(), again.size()), zubtest::hex(stream.data(), stream.size()));
    release(&msgTable, &m);
}
