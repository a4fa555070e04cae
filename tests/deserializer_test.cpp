#define ZUBFUZZ_HOOKS // this program's block log
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "deser_test_util.h"
#include "test_support.h"
#include "zub/serialization.h"

using deser::Walk;
using zubtest::bytes;
using Messages = std::vector<std::string>;

namespace {

const std::vector<uint32_t> kWalkerSite = {0x00020BB8u, 3, 0}, kSizeSite = {0x103E8, 0, 0};

// Structures below are described by offsets, in units of a pointer's size
// and alignment where pointers come before.
constexpr uint32_t P = sizeof(void *);

// The worked example, {u16 id; u8 n; Element *elements} with elements {u32
// value; u8 small}, as the compiler lays it out.
const zubEndianInfoEntry_t elementEntries[] = {ZUB_ENTRY_RAW(0, 4, 0), ZUB_ENTRY_RAW(4, 1, 0),
                                               ZUB_ENTRY_END};
const zubEndianTable_t elementTable = {8, elementEntries};
const zubEndianInfoEntry_t messageEntries[] = {
    ZUB_ENTRY_RAW(0, 2, 0), ZUB_ENTRY_RAW(2, ZUB_ENDIAN_PACK(6, P + 1022), &elementTable),
    ZUB_ENTRY_END};
const zubEndianTable_t messageTable = {2 * P, messageEntries};

// A limit before a nested table binds the first count after it, and only
// that one: {zubDeserBlobUint8_t; u8 n at 2P, its data at 3P; u8 m at 4P,
// its data at 5P}.
const zubEndianInfoEntry_t outerEntries[] = {
    ZUB_ENTRY_MULTIPLICITY(3),
    ZUB_ENTRY_RAW(0, ZUB_DESER_TYPE_TABLE, &__zub_EndianTable_zubDeserBlobUint8_t),
    ZUB_ENTRY_RAW(2 * P, ZUB_ENDIAN_PACK(6, 1024 + P), 1),
    ZUB_ENTRY_RAW(4 * P, ZUB_ENDIAN_PACK(6, 1024 + P), 1), ZUB_ENTRY_END};
const zubEndianTable_t outerTable = {6 * P, outerEntries};

// {u8 n; u8 *d at P; u8 fixed[6] at 2P}. Atom sizes other than 1, 2, 4
// and 8: 3 in a counted and in a fixed array, 0 in an empty fixed array.
// Their bytes are counted, not stored.
const zubEndianInfoEntry_t oddEntries[] = {ZUB_ENTRY_RAW(0, ZUB_ENDIAN_PACK(6, 1024 + P), 3),
                                           ZUB_ENTRY_RAW(2 * P, ZUB_ENDIAN_PACK(11, 2), 3),
                                           ZUB_ENTRY_RAW(2 * P, ZUB_ENDIAN_PACK(11, 5), 0),
                                           ZUB_ENTRY_END};
// A limit before a fixed array ends with it.
const zubEndianInfoEntry_t fixedEntries[] = {
    ZUB_ENTRY_MULTIPLICITY(1), ZUB_ENTRY_RAW(2 * P, ZUB_ENDIAN_PACK(11, 2), 1),
    ZUB_ENTRY_RAW(0, ZUB_ENDIAN_PACK(6, 1024 + P), 1), ZUB_ENTRY_END};
const zubEndianTable_t oddTable = {2 * P + 8, oddEntries}, fixedTable = {2 * P + 8, fixedEntries};
const std::string kThree = "Invalid atom size 3 in table found.\n",
                  kZero = "Invalid atom size 0 in table found.\n";

const zubEndianInfoEntry_t nothing[] = {ZUB_ENTRY_END};
const zubEndianTable_t nothingTable = {4, nothing};

// {u32 nList; u32 nBytes; u8 *bytes at 8; zubDeserString_t *list at 8 +
// P}: the element count lies in the first four bytes, listed after an
// array of atoms whose release marker covers it before it is read; also
// when the table claims just those four bytes.
const zubEndianInfoEntry_t coveredEntries[] = {
    ZUB_ENTRY_RAW(4, ZUB_ENDIAN_PACK(9, 1028), 1),
    ZUB_ENTRY_RAW(0, ZUB_ENDIAN_PACK(9, 1032 + P), &__zub_EndianTable_zubDeserString_t),
    ZUB_ENTRY_END};
const zubEndianTable_t covered = {8 + 2 * P, coveredEntries}, covered4 = {4, coveredEntries};

// A zubDeserBlobUint8_t described as {array of atoms, itself at offset 0},
// directly or through a second table at offset 0: every level shares the
// one data pointer field, whose block the release frees once.
extern const zubEndianTable_t self, loop, via;
const zubEndianInfoEntry_t selfEntries[] = {ZUB_ENTRY_VAR32(zubDeserBlobUint8_t, count, data, 1),
                                            ZUB_ENTRY_RAW(0, ZUB_DESER_TYPE_TABLE, &self),
                                            ZUB_ENTRY_END};
const zubEndianInfoEntry_t loopEntries[] = {ZUB_ENTRY_VAR32(zubDeserBlobUint8_t, count, data, 1),
                                            ZUB_ENTRY_RAW(0, ZUB_DESER_TYPE_TABLE, &via),
                                            ZUB_ENTRY_END};
const zubEndianInfoEntry_t viaEntries[] = {ZUB_ENTRY_RAW(0, ZUB_DESER_TYPE_TABLE, &loop),
                                           ZUB_ENTRY_END};
const zubEndianTable_t self = {2 * P, selfEntries}, loop = {2 * P, loopEntries},
                       via = {2 * P, viaEntries};

// Only a STRING at 0xFFFF lacks a count field; VAR8, VAR16 and VAR32
// counts lie there in structures above 64 KiB, for every walker (the
// serializer reports it, then reads there all the same).
constexpr uint32_t kFar = 0xFFFF, kFarData = 0x10008, kFarSize = kFarData + sizeof(void *);
const zubEndianInfoEntry_t
    far8[] = {ZUB_ENTRY_RAW(kFar, ZUB_ENDIAN_PACK(6, kFarData - kFar + 1024), 1), ZUB_ENTRY_END},
    far16[] = {ZUB_ENTRY_RAW(kFar, ZUB_ENDIAN_PACK(7, kFarData - kFar + 1024), 1), ZUB_ENTRY_END},
    far32[] = {ZUB_ENTRY_RAW(kFar, ZUB_ENDIAN_PACK(9, kFarData - kFar + 1024), 1), ZUB_ENTRY_END};
const zubEndianTable_t farTables[] = {{kFarSize, far8}, {kFarSize, far16}, {kFarSize, far32}};

// Entries no walker takes after a first member of one byte (kind 0, a fixed
// array of a table, a string without a count field) fail every walk with
// -14; a table holding itself nests a byte on each of the 20 levels.
const zubEndianInfoEntry_t badEntries[][3] = {
    {ZUB_ENTRY_RAW(0, 1, 0), ZUB_ENTRY_RAW(1, 0, 0), ZUB_ENTRY_END},
    {ZUB_ENTRY_RAW(0, 1, 0), ZUB_ENTRY_RAW(0, ZUB_ENDIAN_PACK(11, 2), &nothingTable),
     ZUB_ENTRY_END},
    {ZUB_ENTRY_RAW(0, 1, 0), ZUB_ENTRY_RAW(0xFFFF, ZUB_ENDIAN_PACK(10, 1028), 1), ZUB_ENTRY_END}};
extern const zubEndianTable_t endless;
const zubEndianInfoEntry_t endlessEntries[] = {
    ZUB_ENTRY_RAW(0, 1, 0), ZUB_ENTRY_RAW(0, ZUB_DESER_TYPE_TABLE, &endless), ZUB_ENTRY_END};
const zubEndianTable_t bad[] = {{8, badEntries[0]}, {8, badEntries[1]}, {8, badEntries[2]}},
                       endless = {1, endlessEntries};

#define T(type) &__zub_EndianTable_zub##type

} // namespace

// Streams read into a zero-filled structure in two chunks, cut at every
// point: the walk's end, the blocks it made (each released once afterwards)
// and the messages. A complete walk's structure serializes back to the
// stream; where the walk failed with a negative result, the serializer
// fails with it as well.
TEST(Deserializer, LiteralStreams)
{
    struct Case {
        const zubEndianTable_t *table;
        const char *stream;
        uint32_t state;
        int16_t errorCode; // the result too, when negative
        uint32_t total;
        std::vector<size_t> blocks;
        Messages messages = {};
        uint32_t start = ZUB_DIS_START_TABLE;
        std::vector<uint32_t> site = kWalkerSite;
    };
    constexpr uint32_t kDone = ZUB_DIS_DONE, kFailed = ZUB_DIS_FAILED, kStart = ZUB_DIS_START_TABLE;
    constexpr int16_t kXrun = ZUB_DES_ERR_XRUN, kNomem = ZUB_DES_ERR_NOMEM,
                      kLimit = ZUB_DES_ERR_MULTIPLICITY;
    const size_t kString = sizeof(zubDeserString_t);
    const Messages kOver = {"Incoming data exceeded multiplicity (4>3).\n"},
                   kOdd = {kThree, kThree, kThree, kZero,  kThree,
                           kThree, kZero,  kThree, kThree, kZero},
                   kNull = {"s->srcval is NULL ", "s->srcval is NULL "},
                   kLong = {"Test for \"s->totalBytesOfMember>0x200000\"was true: \"member "
                            "length is unexpected\"",
                            "Test for \"1\"was true: \"Exceed size\"",
                            "Test for \"1\"was true: \"Exceed size\""};
    const char *kSeven = "07 07 07 07 07 07 07 07 07 07 07 07 07 07 07 07 07 07 07 07 07 07";
    const char *kCovered = "00 00 00 01 7a 00 00 00 02 00 00 00 01 61 00 00 00 00";
    const Case cases[] = {
        {T(DeserBlobInt8_t), "00 00 00 01 01", kDone, kXrun, 5, {1}},
        {T(DeserBlobUint8_t), "00 00 00 01 01", kDone, kXrun, 5, {1}},
        {T(DeserVectorU8_t), "00 00 00 01 01", kDone, kXrun, 5, {1}},
        {T(DeserBlobInt16_t), "00 00 00 01 02 01", kDone, kXrun, 6, {2}},
        {T(DeserVectorU16_t), "00 00 00 01 02 01", kDone, kXrun, 6, {2}},
        {T(DeserBlobUint32_t), "00 00 00 01 04 03 02 01", kDone, kXrun, 8, {4}},
        {T(DeserBlobUint64_t), "00 00 00 01 08 07 06 05 04 03 02 01", kDone, kXrun, 12, {8}},
        {T(OsalTime_t), "00 00 00 00 00 00 00 01 00 00 00 02", kDone, kXrun, 12, {}},
        // The byte behind the stream is not looked at.
        {T(DeserBlobUint16_t), "00 00 00 02 01 02 03 04 ff", kDone, kXrun, 8, {4}},
        // Exact blocks: no terminating zero byte after a string.
        {T(DeserBlobString_t), "00 00 00 01 00 00 00 03 61 62 63", kDone, kXrun, 11, {kString, 3}},
        {&messageTable, "01 02 02 0a 0b 0c 0d 0e 00 00 00 01 02", kDone, kXrun, 13, {16}},
        {&outerTable, "00 00 00 01 aa 03 61 62 63 04 01 02 03 04", kDone, kXrun, 14, {1, 3, 4}},
        // Over the limit: the count is stored, nothing is allocated.
        {&outerTable, "00 00 00 00 04 61 62 63 64", kFailed, kLimit, 5, {}, kOver},
        // Atom data above 2 MiB: the walk ends after the count.
        {T(DeserBlobUint64_t), "00 04 00 01", kFailed, -1, 4, {}, kLong, kStart, kSizeSite},
        // Too large for the heap, or for 32 bits.
        {T(DeserStringArray_t), "ff ff ff ff", kFailed, kNomem, 4, {}},
        {&nothingTable, "01", kDone, kXrun, 0, {}},
        // Empty chunks wait; a count of 0 ends the walk, nothing is allocated.
        {T(DeserString_t), "", ZUB_DIS_READING_INTEGRAL, kXrun, 0, {}},
        {T(DeserString_t), "00 00 00 00 05", kDone, kXrun, 4, {}},
        {&fixedTable, "aa bb 02 61 62", kDone, kXrun, 5, {2}},
        // Odd atoms are neither stored nor written: the bytes of the output
        // buffer's fill stay.
        {&oddTable, "02 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5", kDone, kXrun, 13, {6}, kOdd},
        {&covered, kCovered, kDone, kXrun, 18, {1, 2 * kString, 1}},
        {&covered4, kCovered, kDone, kXrun, 18, {1, 2 * kString, 1}},
        // The next level waits for its count.
        {&self, "00 00 00 01 7a", ZUB_DIS_READING_INTEGRAL, kXrun, 5, {1}},
        {&loop, "00 00 00 01 7a", ZUB_DIS_READING_INTEGRAL, kXrun, 5, {1}},
        {&farTables[0], "02 61 62", kDone, kXrun, 3, {2}, kNull},
        {&farTables[1], "00 02 61 62", kDone, kXrun, 4, {2}, kNull},
        {&farTables[2], "00 00 00 02 61 62", kDone, kXrun, 6, {2}, kNull},
        {&bad[0], "42", kFailed, -14, 1, {}, Messages(3, "Invalid endian table entry 0.\n")},
        {&bad[1], "42", kFailed, -14, 1, {}, Messages(3, "Invalid endian table entry 11.\n")},
        {&bad[2], "42", kFailed, -14, 1, {}, Messages(3, "Invalid endian table entry 10.\n")},
        {&endless, kSeven, kFailed, -1000, 20, {}},
        // A state that no walk reaches.
        {T(DeserString_t), "00", kFailed, -14, 0, {}, {"Invalid internal state 5.\n"}, 5},
    };
    static zubfuzz::BlockLog log;
    for (const Case &c : cases) {
        const std::vector<uint8_t> stream = bytes(c.stream);
        for (size_t split = 0; split <= stream.size(); ++split) {
            zubtest::DebugCapture capture;
            // The four-byte table's structure is whole all the same.
            std::vector<uint8_t> host(c.table == &covered4 ? covered.size : c.table->size, 0);
            log.clear();
            Walk w(c.table, host.data());
            w.log = &log;
            w.s.state = c.start;
            const int32_t result = w.feed({stream.begin(), stream.begin() + split});
            EXPECT_EQ(std::min(result, w.feed({stream.begin() + split, stream.end()})),
                      std::min<int32_t>(c.errorCode, 0));
            EXPECT_TRUE(w.s.state == c.state && w.s.errorCode == c.errorCode &&
                        w.s.totalBytes == c.total)
                << c.stream << " cut at " << split;
            if (c.state == kDone || (c.errorCode < 0 && c.start == kStart)) {
                const int32_t size = c.state == kDone ? int32_t(c.total) : c.errorCode;
                zubtest::GuardedBuffer out(c.total);
                EXPECT_EQ(zubSerializedSize(c.table, host.data()), size);
                EXPECT_EQ(zubSimpleSerializeInto(out.data(), c.total, c.table, host.data()), size);
                EXPECT_EQ(zubtest::hex(out.data(), c.total), zubtest::hex(stream.data(), c.total));
            }
            // Odd atoms: a message for each piece.
            if (split == std::min<size_t>(4, stream.size())) {
                EXPECT_EQ(capture.messages(), c.messages) << c.stream;
                EXPECT_TRUE(c.messages.empty() || (capture.site(0) == c.site &&
                                                   capture.site(c.messages.size() - 1) == c.site));
            }
            // The blocks of the messages stay with the capture.
            const size_t made = log.count;
            const int32_t released = zubfuzz::recorded(
                &log, [&] { return _zubDeserMemoryDealloc(c.table, host.data(), -1); });
            std::vector<size_t> sizes;
            for (size_t i = 0; i < made; ++i)
                if (!log.blocks[i].live)
                    sizes.push_back(log.blocks[i].size);
            EXPECT_EQ(sizes, c.blocks) << c.stream;
            EXPECT_TRUE(released == 0 && (log.live == 0 || !c.messages.empty()) &&
                        log.foreign == 0);
        }
    }

    // Done: srcval one below the last integer, where the byte steps leave it.
    zubOsalTime_t time{};
    Walk clock(&__zub_EndianTable_zubOsalTime_t, &time);
    clock.feed(std::vector<uint8_t>(12, 1));
    EXPECT_EQ(clock.s.srcval, reinterpret_cast<uint8_t *>(&time.nanoseconds) - 1);
    // Every block comes from the walk's allocator, arrays of structures too.
    zubtest::CountingAllocator counting;
    zubDeserBlobString_t strings{};
    Walk counted(&__zub_EndianTable_zubDeserBlobString_t, &strings, counting.record());
    counted.feed(bytes("00 00 00 01 00 00 00 03 61 62 63"));
    EXPECT_EQ(counting.sizes, (std::vector<size_t>{sizeof(zubDeserString_t), 3}));
    // A refused block leaves the record as it is when the data come later:
    // srcval one below the count.
    counting.failAbove = 0;
    for (const char *stream : {"00 00 00 02 61 62", "00 00 00 02"}) {
        zubDeserBlobUint8_t blob{};
        Walk refused(T(DeserBlobUint8_t), &blob, counting.record());
        refused.feed(bytes(stream));
        EXPECT_TRUE(refused.s.errorCode == ZUB_DES_ERR_NOMEM && refused.s.totalBytesOfMember == 2 &&
                    refused.s.srcval + 1 == reinterpret_cast<uint8_t *>(&blob));
    }
    // Atoms read so far stand in a block filled with 0x75.
    zubDeserBlobUint32_t blob{};
    Walk part(&__zub_EndianTable_zubDeserBlobUint32_t, &blob);
    part.feed(bytes("00 00 00 03 a1 a2 a3 a4 b1 b2"));
    EXPECT_EQ(zubtest::hex(blob.data, 12), "a4 a3 a2 a1 75 75 b2 b1 75 75 75 75");
    EXPECT_EQ(part.s.srcval, reinterpret_cast<uint8_t *>(blob.data));
    std::free(blob.data);
    Walk null(&__zub_EndianTable_zubDeserString_t, nullptr);
    EXPECT_TRUE(null.feed({}) == 0 && null.s.errorCode == ZUB_DES_ERR_NOMEM);
}
