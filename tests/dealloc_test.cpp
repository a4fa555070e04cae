#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "deser_test_util.h"
#include "test_support.h"
#include "zub/bounded_allocator.h"
#include "zub/serialization.h"

#if defined(__SANITIZE_ADDRESS__)
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);
#endif

using deser::Walk;
using zubtest::bytes;

namespace {

// Bytes held on the heap; only the sanitizer's allocator counts them
// exactly (glibc's per-thread caches count freed chunks as used), so
// elsewhere the checks that use it are skipped.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kHeapCounted = true;
size_t heapInUse()
{
    return __sanitizer_get_current_allocated_bytes();
}
#else
constexpr bool kHeapCounted = false;
size_t heapInUse()
{
    return 0;
}
#endif

bool filledWith(const void *p, size_t n, uint8_t value)
{
    for (size_t i = 0; i < n; ++i) {
        if (static_cast<const uint8_t *>(p)[i] != value)
            return false;
    }
    return true;
}

} // namespace

TEST(Dealloc, MarksWhatItFreed)
{
    zubDeserString_t text{3, static_cast<char *>(std::malloc(3))};
    char *old = text.data;
    EXPECT_EQ(_zubDeserMemoryDealloc(&__zub_EndianTable_zubDeserString_t, &text, -1), 0);
    EXPECT_TRUE(text.count == 0x57575700u && text.data == old); // freed, not cleared

    zubDeserStringArray_t list{};
    Walk w(&__zub_EndianTable_zubDeserStringArray_t, &list);
    w.feed(bytes("00 00 00 02 00 00 00 01 61 00 00 00 02 62 63"));
    const size_t before = heapInUse();
    EXPECT_EQ(_zubDeserMemoryDealloc(&__zub_EndianTable_zubDeserStringArray_t, &list, -1), 0);
    EXPECT_TRUE(!kHeapCounted || before - heapInUse() == 2 * sizeof(zubDeserString_t) + 3);
    EXPECT_TRUE(list.count == 2u && filledWith(&list.data, sizeof list.data, 0x87));

    // A null array of atoms is still marked; an empty array of structures
    // keeps its pointer.
    struct Two {
        uint32_t n;
        uint8_t *atoms;
        uint32_t m;
        zubDeserString_t *list;
    };
    static const zubEndianInfoEntry_t entries[] = {
        ZUB_ENTRY_VAR32(Two, n, atoms, 1),
        ZUB_ENTRY_VAR32_TABLE(Two, m, list, __zub_EndianTable_zubDeserString_t), ZUB_ENTRY_END};
    static const zubEndianTable_t table = ZUB_ENDIAN_TABLE(Two, entries);
    Two two{5, nullptr, 0, reinterpret_cast<zubDeserString_t *>(0x10)};
    EXPECT_EQ(_zubDeserMemoryDealloc(&table, &two, 0), 0);
    EXPECT_TRUE(two.n == 0x57575700u && two.list == reinterpret_cast<zubDeserString_t *>(0x10));
    EXPECT_EQ(_zubDeserMemoryDealloc(nullptr, &two, -1), -1);
    EXPECT_EQ(_zubDeserMemoryDealloc(&table, nullptr, -1), -1);
}

TEST(Dealloc, DepthLimitStopsWhereTheStackEnds)
{
    // Elements mark themselves with their index; the second one's nested
    // array does not fit a one-level stack, so the walk stops inside the
    // array, with both marks readable and the array not yet freed.
    struct Element {
        zubDeserString_t text;
        uint8_t n;
        zubDeserString_t *more;
    };
    static const zubEndianInfoEntry_t elementEntries[] = {
        ZUB_ENTRY_VAR32(Element, text.count, text.data, 1),
        ZUB_ENTRY_VAR8_TABLE(Element, n, more, __zub_EndianTable_zubDeserString_t), ZUB_ENTRY_END};
    static const zubEndianTable_t elementTable = ZUB_ENDIAN_TABLE(Element, elementEntries);
    struct Top {
        uint32_t count;
        Element *data;
    } top{};
    static const zubEndianInfoEntry_t entries[] = {
        ZUB_ENTRY_VAR32_TABLE(Top, count, data, elementTable), ZUB_ENTRY_END};
    static const zubEndianTable_t table = ZUB_ENDIAN_TABLE(Top, entries);
    Walk w(&table, &top);
    w.feed(bytes("00 00 00 02 00 00 00 01 61 00 00 00 00 01 62 01 00 00 00 00"));
    ASSERT_EQ(w.s.state, ZUB_DIS_DONE);
    Element *elements = top.data;
    EXPECT_EQ(_zubDeserMemoryDealloc(&table, &top, 1), -1000);
    EXPECT_TRUE(elements[0].text.count == 0x57575700u && elements[1].text.count == 0x57575701u);
    EXPECT_EQ(top.data, elements);
    std::free(elements[1].more);
    std::free(elements);

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
    // table claims just those four bytes (the pointer offsets reach past a
    // structure's end).
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
        const size_t before = heapInUse();
        EXPECT_EQ(_zubDeserMemoryDealloc(&table, &c, -1), 0);
        EXPECT_TRUE(!kHeapCounted || before - heapInUse() == 1 + 2 * sizeof(zubDeserString_t) + 1);
        EXPECT_TRUE(c.nList == 0x57575700u && filledWith(&c.list, sizeof c.list, 0x87)) << size;
    }
}

TEST(Dealloc, AfterAFailedOrAbandonedWalkTheReleaseFreesWhatTheWalkTook)
{
    // Elements take at most one string; the second announces five, so its
    // count stands without a block, and the release stops there; the
    // bounded allocator's log frees all instead. A walk abandoned before the
    // second element leaves it zero-filled (calloc), and the release passes
    // it over.
    struct Element {
        uint32_t count;
        zubDeserString_t *data;
    };
    static const zubEndianInfoEntry_t elementEntries[] = {
        ZUB_ENTRY_MULTIPLICITY(1),
        ZUB_ENTRY_VAR32_TABLE(Element, count, data, __zub_EndianTable_zubDeserString_t),
        ZUB_ENTRY_END};
    static const zubEndianTable_t elementTable = ZUB_ENDIAN_TABLE(Element, elementEntries);
    struct Top {
        uint32_t count;
        Element *data;
    };
    static const zubEndianInfoEntry_t entries[] = {
        ZUB_ENTRY_VAR32_TABLE(Top, count, data, elementTable), ZUB_ENTRY_END};
    static const zubEndianTable_t table = ZUB_ENDIAN_TABLE(Top, entries);
    const auto stream = bytes("00 00 00 02 00 00 00 01 00 00 00 01 61 00 00 00 05");
    for (size_t logSlots : {0u, 8u, 2u}) { // 0: the default allocator, stream cut
        const size_t before = heapInUse();
        void *log[8];
        zubBoundedAllocator_t bounded;
        zubBoundedAllocatorInit(&bounded, 1024);
        zubBoundedAllocatorSetLog(&bounded, log, logSlots);
        Top top{};
        {
            Walk w(&table, &top, logSlots != 0 ? &bounded.record : nullptr);
            w.feed(stream.data(), logSlots != 0 ? stream.size() : 13);
            // A full log refuses the third block, like an exhausted budget.
            EXPECT_EQ(w.s.errorCode, logSlots == 0   ? ZUB_DES_ERR_XRUN
                                     : logSlots == 8 ? ZUB_DES_ERR_MULTIPLICITY
                                                     : ZUB_DES_ERR_NOMEM);
        }
        Element *array = top.data;
        if (logSlots == 2) {
            zubBoundedAllocatorFreeAll(&bounded);
        } else {
            EXPECT_EQ(_zubDeserMemoryDealloc(&table, &top, -1), 0);
        }
        if (logSlots == 8) {
            EXPECT_TRUE(top.data == array && array[1].count == 5u); // the walk stopped inside it
            std::free(array);
        }
        EXPECT_TRUE(logSlots != 0 || filledWith(&top.data, sizeof top.data, 0x87));
        EXPECT_TRUE(!kHeapCounted || heapInUse() == before);
    }
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

TEST(Dealloc, A32BitEndMarkEndsTheTableOnEveryHost)
{
    // An argument of 0xFFFFFFFF with the upper bits of a 64-bit word clear
    // ends the table for the deserializer, the serializer and the release:
    // the entries after it (an invalid kind, an array with a wild pointer)
    // are never reached.
    struct Two {
        uint32_t n;
        uint8_t *data;
        uint32_t m;
        uint8_t *wild;
    };
    const zubEndianInfoEntry_t entries[] = {
        ZUB_ENTRY_VAR32(Two, n, data, 1), ZUB_ENTRY_RAW(0, 0, 0xFFFFFFFFu), ZUB_ENTRY_RAW(0, 13, 0),
        ZUB_ENTRY_VAR32(Two, m, wild, 1), ZUB_ENTRY_END};
    const zubEndianTable_t table = ZUB_ENDIAN_TABLE(Two, entries);
    Two two{0, nullptr, 1, reinterpret_cast<uint8_t *>(0x10)};
    Walk w(&table, &two);
    EXPECT_EQ(w.feed(bytes("00 00 00 01 7a 00 00 00 01")), 0);
    EXPECT_TRUE(w.s.state == ZUB_DIS_DONE && w.s.bufferPosition == 5 && two.data[0] == 'z');
    uint8_t out[16];
    EXPECT_EQ(zubSimpleSerializeInto(out, sizeof out, &table, &two), 5);
    EXPECT_EQ(_zubDeserMemoryDealloc(&table, &two, -1), 0);
    EXPECT_TRUE(two.n == 0x57575700u && two.wild == reinterpret_cast<uint8_t *>(0x10));
}

TEST(Dealloc, ATableHoldingItselfInPlaceFreesItsBlockOnce)
{
    // {array of atoms, itself at offset 0}, directly or through a second
    // table at offset 0: every level the deserializer enters shares the one
    // data pointer field. The deserializer still fails at its stack's end;
    // the release frees the block once.
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
        const size_t before = heapInUse();
        EXPECT_EQ(_zubDeserMemoryDealloc(&table, &self, -1), 0);
        EXPECT_TRUE(!kHeapCounted || before - heapInUse() == 1);
        EXPECT_EQ(self.n, 0x57575700u);
    }
}
