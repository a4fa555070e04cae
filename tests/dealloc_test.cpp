#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "deser_test_util.h"
#include "test_support.h"
#include "zub/serialization.h"

using deser::Walk;
using zubtest::bytes;

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

const uint8_t k87[8] = {0x87, 0x87, 0x87, 0x87, 0x87, 0x87, 0x87, 0x87};

// Elements with a string and an array of strings.
struct Element {
    zubDeserString_t text;
    uint8_t n;
    zubDeserString_t *more;
};
const zubEndianInfoEntry_t elementEntries[] = {
    ZUB_ENTRY_VAR32(Element, text.count, text.data, 1),
    ZUB_ENTRY_VAR8_TABLE(Element, n, more, __zub_EndianTable_zubDeserString_t), ZUB_ENTRY_END};
const zubEndianTable_t elementTable = ZUB_ENDIAN_TABLE(Element, elementEntries);
struct Top {
    uint32_t count;
    Element *data;
};
const zubEndianInfoEntry_t topEntries[] = {ZUB_ENTRY_VAR32_TABLE(Top, count, data, elementTable),
                                           ZUB_ENTRY_END};
const zubEndianTable_t topTable = ZUB_ENDIAN_TABLE(Top, topEntries);

} // namespace

TEST(Dealloc, MarksWhatItFreedAndStopsWhereTheStackOrTheBlocksEnd)
{
    // A string: freed, its count reads the marker, its pointer is kept.
    zubDeserString_t text{3, static_cast<char *>(std::malloc(3))};
    char *old = text.data;
    EXPECT_EQ(_zubDeserMemoryDealloc(&__zub_EndianTable_zubDeserString_t, &text, -1), 0);
    EXPECT_TRUE(text.count == 0x57575700u && text.data == old);
    EXPECT_EQ(_zubDeserMemoryDealloc(nullptr, &text, -1), -1);
    EXPECT_EQ(_zubDeserMemoryDealloc(&__zub_EndianTable_zubDeserString_t, nullptr, -1), -1);

    // Elements mark themselves with their index; the second one's nested
    // array does not fit a one-level stack, so the walk stops inside the
    // array, with both marks readable and the array not yet freed. With
    // room, every block goes, the array's pointer reads 0x87 bytes, and the
    // array of strings left empty keeps its pointer.
    static zubfuzz::BlockLog log;
    for (int32_t maxDepth : {1, 2}) {
        Top top{};
        log.clear();
        Walk w(&topTable, &top);
        w.log = &log;
        w.feed(bytes("00 00 00 02 00 00 00 01 61 00 00 00 00 01 62 01 00 00 00 00"));
        Element *elements = top.data;
        elements[0].more = reinterpret_cast<zubDeserString_t *>(0x10); // count 0: not followed
        const int32_t result = zubfuzz::recorded(
            &log, [&] { return _zubDeserMemoryDealloc(&topTable, &top, maxDepth); });
        EXPECT_EQ(log.foreign, 0u);
        if (maxDepth == 2) {
            EXPECT_TRUE(result == 0 && log.live == 0);
            EXPECT_EQ(std::memcmp(&top.data, k87, sizeof top.data), 0);
            continue;
        }
        EXPECT_TRUE(result == -1000 && log.live == 2 && top.data == elements);
        EXPECT_TRUE(elements[0].text.count == 0x57575700u && elements[1].text.count == 0x57575701u);
        EXPECT_EQ(elements[0].more, reinterpret_cast<zubDeserString_t *>(0x10));
        log.freeLeftovers();
    }

    // A count without its block (as a failed walk leaves it): the release stops there.
    Top top{2, static_cast<Element *>(std::calloc(2, sizeof(Element)))};
    top.data[1].n = 5;
    EXPECT_EQ(_zubDeserMemoryDealloc(&topTable, &top, -1), 0);
    EXPECT_EQ(top.data[0].text.count, 0x57575700u); // null atoms are still marked
    std::free(top.data);
}

TEST(Dealloc, TheDefaultStackHolds19LevelsAndAHugeLimitIsCapped)
{
    // The default stack walks 19 levels below the top, not 20; a huge
    // maxDepth is capped, not wrapped, at the 65535 records that the 16-bit
    // capacity counts: 65534 levels below the top.
    for (int levels : {19, 20, 65534}) {
        std::vector<zubEndianTable_t> tables(levels + 1);
        std::vector<std::vector<zubEndianInfoEntry_t>> lists(levels + 1);
        for (int k = levels; k >= 0; --k) {
            const zubEndianInfoEntry_t nested = ZUB_ENTRY_RAW(0, 3, &tables[k + 1]);
            const zubEndianInfoEntry_t text =
                ZUB_ENTRY_RAW(0, ZUB_ENDIAN_PACK(9, 1024 + sizeof(void *)), 1);
            lists[k] = {k < levels ? nested : text, ZUB_ENTRY_END};
            tables[k] = {static_cast<uint32_t>(2 * sizeof(void *)), lists[k].data()};
        }
        for (int32_t maxDepth : {-1, INT32_MAX}) {
            zubDeserString_t deepest{1, static_cast<char *>(std::malloc(1))};
            const int32_t expected = levels == 19 || maxDepth == INT32_MAX ? 0 : -1000;
            EXPECT_EQ(_zubDeserMemoryDealloc(&tables[0], &deepest, maxDepth), expected);
            if (expected != 0)
                std::free(deepest.data);
        }
    }
}

TEST(Dealloc, FieldsUnderTheMarkerAreReadAsTheyWere)
{
    // The element count lies in the first four bytes, listed after an array
    // of atoms whose marker covers it before it is read; also when the
    // table claims just those four bytes.
    struct Covered {
        uint32_t nList;
        uint32_t nBytes;
        uint8_t *bytes;
        zubDeserString_t *list;
    };
    static const zubEndianInfoEntry_t entries[] = {
        ZUB_ENTRY_VAR32(Covered, nBytes, bytes, 1),
        ZUB_ENTRY_VAR32_TABLE(Covered, nList, list, __zub_EndianTable_zubDeserString_t),
        ZUB_ENTRY_END};
    for (uint32_t size : {uint32_t{sizeof(Covered)}, 4u}) {
        const zubEndianTable_t table = {size, entries};
        Covered c{};
        Walk w(&table, &c);
        w.feed(bytes("00 00 00 01 7a 00 00 00 02 00 00 00 01 61 00 00 00 00"));
        ASSERT_EQ(c.nList, 2u);
        EXPECT_EQ(_zubDeserMemoryDealloc(&table, &c, -1),
                  0); // the leak checker sees every block go
        EXPECT_TRUE(c.nList == 0x57575700u && std::memcmp(&c.list, k87, sizeof c.list) == 0)
            << size;
    }
}

// Hostile tables and streams (the table fuzz harness): every walker stays
// inside its memory, the release frees each block once.
TEST(Dealloc, HostileTablesReleaseEveryBlockOnce)
{
    LLVMFuzzerInitialize(nullptr, nullptr);
    EXPECT_GT(zubtest::replayHarness("table", LLVMFuzzerTestOneInput, 600, 256, 1), 0u);
}

TEST(Dealloc, CountFieldsAtOffset0xFFFFAreRealOffsetsInEveryWalker)
{
    // Only a STRING at 0xFFFF lacks a count field; VAR8/VAR16/VAR32 counts
    // lie there in structures above 64 KiB, for every walker.
    constexpr uint32_t kCount = 0xFFFF, kPointer = 0x10008;
    for (const auto &[kind, width] : {std::pair{6u, 1u}, {7u, 2u}, {9u, 4u}}) {
        const zubEndianInfoEntry_t entries[] = {
            ZUB_ENTRY_RAW(kCount, ZUB_ENDIAN_PACK(kind, kPointer - kCount + 1024), 1),
            ZUB_ENTRY_END};
        const zubEndianTable_t table = {kPointer + sizeof(void *), entries};
        std::vector<uint8_t> host(table.size, 0), copy(table.size, 0);
        const char *ab = "ab";
        host[kCount] = 2;
        std::memcpy(&host[kPointer], &ab, sizeof ab);
        std::vector<uint8_t> stream(width + 2);
        zubtest::DebugCapture capture; // reported, then read there all the same
        EXPECT_EQ(zubSimpleSerializeInto(stream.data(), width + 2, &table, host.data()),
                  int32_t(width + 2));
        EXPECT_EQ(capture.messages(), std::vector<std::string>{"s->srcval is NULL "});
        EXPECT_EQ(capture.site(0), (std::vector<uint32_t>{0x00020BB8u, 3, 0}));
        const auto full = bytes("00 00 00 02 61 62");
        EXPECT_EQ(stream, std::vector<uint8_t>(full.end() - width - 2, full.end()));
        Walk w(&table, copy.data());
        w.feed(stream);
        EXPECT_EQ(w.s.state, ZUB_DIS_DONE);
        char *text;
        std::memcpy(&text, &copy[kPointer], sizeof text);
        EXPECT_TRUE(copy[kCount] == 2 && std::memcmp(text, "ab", 2) == 0);
        EXPECT_EQ(_zubDeserMemoryDealloc(&table, copy.data(), -1), 0); // frees it: no leak
        EXPECT_EQ(copy[3], 0x57);
    }
}

TEST(Dealloc, ATableHoldingItselfInPlaceFreesItsBlockOnce)
{
    // {array of atoms, itself at offset 0}, directly or through a second
    // table at offset 0: every level the deserializer enters shares the one
    // data pointer field. The deserializer still fails at its stack's end;
    // the release frees the block once (a second free aborts).
    struct Self {
        uint32_t n;
        uint8_t *data;
    };
    static zubEndianInfoEntry_t entries[] = {ZUB_ENTRY_VAR32(Self, n, data, 1),
                                             ZUB_ENTRY_RAW(0, ZUB_DESER_TYPE_TABLE, 0),
                                             ZUB_ENTRY_END};
    static const zubEndianTable_t table = ZUB_ENDIAN_TABLE(Self, entries);
    static const zubEndianInfoEntry_t viaEntries[] = {
        ZUB_ENTRY_RAW(0, ZUB_DESER_TYPE_TABLE, &table), ZUB_ENTRY_END};
    static const zubEndianTable_t via = ZUB_ENDIAN_TABLE(Self, viaEntries);
    for (const zubEndianTable_t *nested : {&table, &via}) {
        entries[1].argument.table = nested;
        Self self{};
        Walk empty(&table, &self);
        std::vector<uint8_t> zeros(4 * ZUB_DESER_DEFAULT_STACK, 0);
        EXPECT_EQ(empty.feed(zeros), -1000);
        Walk w(&table, &self);
        w.feed(bytes("00 00 00 01 7a")); // the next level waits for its count
        ASSERT_TRUE(self.n == 1u && self.data != nullptr);
        EXPECT_EQ(_zubDeserMemoryDealloc(&table, &self, -1), 0);
        EXPECT_EQ(self.n, 0x57575700u);
    }
}
