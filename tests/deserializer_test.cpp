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
using Messages = std::vector<std::string>;

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

const std::vector<uint32_t> kWalkerSite = {0x00020BB8u, 3, 0};

// A limit before a nested table binds the first count after it, and only that one.
struct Outer {
    zubDeserBlobUint8_t inner;
    uint8_t n;
    uint8_t *d;
    uint8_t m;
    uint8_t *e;
};
const zubEndianInfoEntry_t outerEntries[] = {
    ZUB_ENTRY_MULTIPLICITY(3), ZUB_ENTRY_TABLE(Outer, inner, __zub_EndianTable_zubDeserBlobUint8_t),
    ZUB_ENTRY_VAR8(Outer, n, d, 1), ZUB_ENTRY_VAR8(Outer, m, e, 1), ZUB_ENTRY_END};
const zubEndianTable_t outerTable = ZUB_ENDIAN_TABLE(Outer, outerEntries);

// Atom sizes other than 1, 2, 4 and 8: 3 in a counted and in a fixed
// array, 0 in an empty fixed array. Their bytes are counted, not stored.
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
const std::string kThree = "Invalid atom size 3 in table found.\n",
                  kZero = "Invalid atom size 0 in table found.\n";

const zubEndianInfoEntry_t nothing[] = {ZUB_ENTRY_END};
const zubEndianTable_t nothingTable = {4, nothing};

} // namespace

// Streams read into a zero-filled structure in two chunks cut at `split`:
// the walk's end, the blocks it made (each released once afterwards) and
// the messages. A complete walk's structure serializes back to the stream.
TEST(Deserializer, LiteralStreams)
{
    struct Case {
        const zubEndianTable_t *table;
        const char *stream;
        size_t split;
        uint32_t state;
        int16_t errorCode; // the result too, when negative
        uint32_t total;
        std::vector<size_t> blocks;
        Messages messages = {};
        uint32_t start = ZUB_DIS_START_TABLE;
    };
    const zubEndianTable_t *u16 = &__zub_EndianTable_zubDeserBlobUint16_t,
                           *text = &__zub_EndianTable_zubDeserString_t,
                           *strings = &__zub_EndianTable_zubDeserBlobString_t,
                           *list = &__zub_EndianTable_zubDeserStringArray_t;
    constexpr uint32_t kDone = ZUB_DIS_DONE, kFailed = ZUB_DIS_FAILED;
    constexpr int16_t kXrun = ZUB_DES_ERR_XRUN, kNomem = ZUB_DES_ERR_NOMEM,
                      kLimit = ZUB_DES_ERR_MULTIPLICITY;
    const size_t kString = sizeof(zubDeserString_t);
    const Messages kOver = {"Incoming data exceeded multiplicity (4>3).\n"},
                   kOdd = {kThree, kThree, kThree, kZero};
    const Case cases[] = {
        {u16, "00 00 00 02 01 02 03 04 ff", 9, kDone, kXrun, 8, {4}}, // the last byte is not read
        // Exact blocks: no terminating zero byte after a string.
        {strings, "00 00 00 01 00 00 00 03 61 62 63", 6, kDone, kXrun, 11, {kString, 3}},
        {&outerTable, "00 00 00 01 aa 03 61 62 63 04 01 02 03 04", 7, kDone, kXrun, 14, {1, 3, 4}},
        // Over the limit: the count is stored, nothing is allocated.
        {&outerTable, "00 00 00 00 04 61 62 63 64", 2, kFailed, kLimit, 5, {}, kOver},
        {list, "ff ff ff ff", 3, kFailed, kNomem, 4, {}}, // too large for the heap or for 32 bits
        {&nothingTable, "01", 1, kDone, kXrun, 0, {}},
        // Empty chunks wait; a count of 0 ends the walk, nothing is allocated.
        {text, "", 0, ZUB_DIS_READING_INTEGRAL, kXrun, 0, {}},
        {text, "00 00 00 00 05", 2, kDone, kXrun, 4, {}},
        {&oddTable, "02 01 02 03 04 05 06 07 08 09 0a 0b 0c", 4, kDone, kXrun, 13, {6}, kOdd},
        {text,
         "00",
         1,
         kFailed,
         -14,
         0,
         {},
         {"Invalid internal state 5.\n"},
         5}, // no walk gets there
    };
    static zubfuzz::BlockLog log;
    for (const Case &c : cases) {
        DebugCapture capture;
        std::vector<uint8_t> host(c.table->size, 0), stream = bytes(c.stream);
        log.clear();
        Walk w(c.table, host.data());
        w.log = &log;
        w.s.state = c.start;
        const std::vector<uint8_t> first(stream.begin(), stream.begin() + c.split),
            second(stream.begin() + c.split, stream.end());
        const int32_t result = w.feed(first);
        EXPECT_EQ(std::min(result, w.feed(second)), std::min<int32_t>(c.errorCode, 0));
        EXPECT_TRUE(w.s.state == c.state && w.s.errorCode == c.errorCode &&
                    w.s.totalBytes == c.total)
            << c.stream << " " << w.s.state << " " << w.s.errorCode << " " << w.s.totalBytes;
        EXPECT_EQ(capture.messages(), c.messages) << c.stream;
        EXPECT_TRUE(c.messages.empty() || capture.site(0) == kWalkerSite);
        if (c.state == ZUB_DIS_DONE && c.messages.empty()) {
            zubtest::GuardedBuffer out(c.total);
            EXPECT_EQ(zubSimpleSerializeInto(out.data(), c.total, c.table, host.data()),
                      int32_t(c.total));
            EXPECT_EQ(zubtest::hex(out.data(), c.total), zubtest::hex(stream.data(), c.total));
        }
        // The blocks of the messages stay with the capture.
        const size_t made = log.count;
        const int32_t released = zubfuzz::recorded(
            &log, [&] { return _zubDeserMemoryDealloc(c.table, host.data(), -1); });
        std::vector<size_t> sizes;
        for (size_t i = 0; i < made; ++i) {
            if (!log.blocks[i].live)
                sizes.push_back(log.blocks[i].size);
        }
        EXPECT_EQ(sizes, c.blocks) << c.stream;
        EXPECT_TRUE(released == 0 && (log.live == 0 || !c.messages.empty()) && log.foreign == 0);
    }

    // Atoms read so far stand in a block filled with 0x75; a refused count
    // leaves the data pointer alone.
    zubDeserBlobUint32_t blob{};
    Walk part(&__zub_EndianTable_zubDeserBlobUint32_t, &blob);
    part.feed(bytes("00 00 00 03 a1 a2 a3 a4 b1 b2"));
    EXPECT_EQ(zubtest::hex(blob.data, 12), "a4 a3 a2 a1 75 75 b2 b1 75 75 75 75");
    EXPECT_EQ(part.s.srcval, reinterpret_cast<uint8_t *>(blob.data));
    std::free(blob.data);
    Outer over{};
    over.d = reinterpret_cast<uint8_t *>(0x1234);
    Walk fail(&outerTable, &over);
    fail.feed(bytes("00 00 00 00 04"));
    EXPECT_TRUE(over.n == 4 && over.d == reinterpret_cast<uint8_t *>(0x1234));
    zubBoundedAllocator_t bounded;
    Walk capped(&__zub_EndianTable_zubDeserBlobUint32_t, &blob,
                zubBoundedAllocatorInit(&bounded, 8));
    capped.feed(bytes("00 00 00 03"));
    EXPECT_TRUE(capped.s.errorCode == ZUB_DES_ERR_NOMEM && bounded.used == 0);
    Walk null(&__zub_EndianTable_zubDeserString_t, nullptr);
    EXPECT_TRUE(null.feed({}) == 0 && null.s.errorCode == ZUB_DES_ERR_NOMEM);
}

// Entries no walker can take, after a first member of one byte: kinds 0, 5
// and 12 to 14, a fixed array of a table, a nested structure without one and
// a string without a count field. The serializer, the size and the
// deserializer stop there with -14 and the message; a call after the
// failure changes nothing.
TEST(Walkers, InvalidEntriesAndEndlessNestingFailTheWalk)
{
    const zubEndianInfoEntry_t bad[] = {
        ZUB_ENTRY_RAW(1, 0, 0),  ZUB_ENTRY_RAW(1, 5, 0),
        ZUB_ENTRY_RAW(1, 12, 0), ZUB_ENTRY_RAW(1, 13, 0),
        ZUB_ENTRY_RAW(1, 14, 0), ZUB_ENTRY_RAW(0, ZUB_ENDIAN_PACK(11, 2), &nothingTable),
        ZUB_ENTRY_RAW(1, 3, 4),  ZUB_ENTRY_RAW(0xFFFF, ZUB_ENDIAN_PACK(10, 1028), 1)};
    uint8_t host[8] = {0x42}, out[8] = {};
    for (const zubEndianInfoEntry_t &second : bad) {
        const zubEndianInfoEntry_t entries[] = {ZUB_ENTRY_RAW(0, 1, 0), second, ZUB_ENTRY_END};
        const zubEndianTable_t table = {8, entries};
        DebugCapture capture;
        Walk put(&table, host);
        EXPECT_EQ(put.call(out, sizeof out, true), -14);
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
    EXPECT_EQ(zubSerializedSize(&nothingTable, nullptr), -22);

    // States that no walk reaches: 5 and 8 in the serializer.
    DebugCapture capture;
    for (uint32_t state : {5u, 8u}) {
        Walk put(&nothingTable, host);
        put.s.state = state;
        EXPECT_TRUE(put.call(out, sizeof out, true) == -14 && put.s.errorCode == -14);
    }
    EXPECT_EQ(capture.messages(),
              (Messages{"Invalid internal state 5.\n", "Invalid internal state 8.\n"}));

    // A table that holds itself nests until the stack is full: a byte on each of the 20 levels.
    zubEndianInfoEntry_t selfEntries[] = {ZUB_ENTRY_RAW(0, 1, 0), ZUB_ENTRY_END, ZUB_ENTRY_END};
    const zubEndianTable_t self = {1, selfEntries};
    selfEntries[1] = {0, ZUB_DESER_TYPE_TABLE, {.table = &self}};
    EXPECT_EQ(zubSerializedSize(&self, host), -1000);
    Walk nested(&self, host);
    EXPECT_EQ(nested.feed(std::vector<uint8_t>(32, 7)), -1000);
    EXPECT_EQ(nested.s.bufferPosition, 20u);
}

// Hostile streams in any chunks against fixed tables (the deserializer's
// fuzz harness): both walks alike, round trips, every block released once.
TEST(Deserializer, HostileStreamsInChunksEndAlikeAndReleaseEveryBlock)
{
    LLVMFuzzerInitialize(nullptr, nullptr);
    EXPECT_GT(zubtest::replayHarness("deserializer", LLVMFuzzerTestOneInput, 600, 256, 1), 0u);
}
