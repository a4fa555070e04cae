#include <gtest/gtest.h>

#include <execinfo.h>

#include <climits>
#include <cstring>
#include <random>
#include <vector>

#include "deser_test_util.h"
#include "serial_random.h"
#include "test_support.h"
#include "zub/bounded_allocator.h"
#include "zub/serialization.h"

#if defined(__SANITIZE_ADDRESS__)
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);
#endif

using deser::Stream;
using deser::Walk;

namespace {

// Bytes the process holds on the heap: the release must give back all
// that the deserializer took. Only the sanitizer's allocator counts them
// exactly (glibc keeps freed chunks in per-thread caches that its
// statistics count as used), so elsewhere the byte checks are skipped.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kHeapCounted = true;
size_t heapInUse() { return __sanitizer_get_current_allocated_bytes(); }
#else
constexpr bool kHeapCounted = false;
size_t heapInUse() { return 0; }
#endif

// The heap shrank by `bytes` (exactly, where the sanitizer counts requested sizes).
void expectGivenBack(size_t before, size_t bytes)
{
    if (kHeapCounted) {
        EXPECT_EQ(before - heapInUse(), bytes);
    }
}

bool allBytes(const void *p, size_t n, uint8_t value)
{
    for (size_t i = 0; i < n; ++i) {
        if (static_cast<const uint8_t *>(p)[i] != value) {
            return false;
        }
    }
    return true;
}

} // namespace

TEST(Dealloc, StringsAndArraysOfStringsGetTheirMarks)
{
    zubDeserString_t text{3, static_cast<char *>(std::malloc(3))};
    char *old = text.data;
    EXPECT_EQ(_zubDeserMemoryDealloc(&__zub_EndianTable_zubDeserString_t, &text, -1), 0);
    EXPECT_EQ(text.count, 0x57575700u);
    EXPECT_EQ(text.data, old); // freed, not cleared

    zubDeserStringArray_t list{};
    Walk w(&__zub_EndianTable_zubDeserStringArray_t, &list);
    w.feed(zubtest::bytes("00 00 00 02 00 00 00 01 61 00 00 00 02 62 63"));
    ASSERT_EQ(w.s.state, ZUB_DIS_DONE);
    zubDeserString_t *strings = list.data;
    const size_t before = heapInUse();
    EXPECT_EQ(_zubDeserMemoryDealloc(&__zub_EndianTable_zubDeserStringArray_t, &list, -1), 0);
    expectGivenBack(before, 2 * sizeof(zubDeserString_t) + 3);
    EXPECT_EQ(list.count, 2u);
    EXPECT_TRUE(allBytes(&list.data, sizeof list.data, 0x87));
    (void)strings; // the element marks 0x57575700 and 0x57575701 lie in the freed block
}

TEST(Dealloc, NullAndEmptyMembers)
{
    // A null atom pointer still gets the mark; an empty array of
    // structures keeps its pointer and nothing is freed.
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
    EXPECT_EQ(two.n, 0x57575700u);
    EXPECT_EQ(two.list, reinterpret_cast<zubDeserString_t *>(0x10));

    // A null element array (as a failed walk leaves it) stops the walk:
    // the members after it are not touched.
    struct Stop {
        uint32_t m;
        zubDeserString_t *list;
        zubDeserString_t after;
    };
    static const zubEndianInfoEntry_t stopEntries[] = {
        ZUB_ENTRY_VAR32_TABLE(Stop, m, list, __zub_EndianTable_zubDeserString_t),
        ZUB_ENTRY_TABLE(Stop, after, __zub_EndianTable_zubDeserString_t), ZUB_ENTRY_END};
    static const zubEndianTable_t stopTable = ZUB_ENDIAN_TABLE(Stop, stopEntries);
    Stop stop{2, nullptr, {7, nullptr}};
    EXPECT_EQ(_zubDeserMemoryDealloc(&stopTable, &stop, -1), 0);
    EXPECT_EQ(stop.after.count, 7u);

    EXPECT_EQ(_zubDeserMemoryDealloc(nullptr, &two, -1), -1);
    EXPECT_EQ(_zubDeserMemoryDealloc(&table, nullptr, -1), -1);
}

TEST(Dealloc, DepthLimitStopsAfterReleasingWhatCameBefore)
{
    struct Nest {
        zubDeserString_t first;
        zubDeserString_t nested;
    };
    static const zubEndianInfoEntry_t nestEntries[] = {
        ZUB_ENTRY_VAR32(Nest, first.count, first.data, 1),
        ZUB_ENTRY_TABLE(Nest, nested, __zub_EndianTable_zubDeserString_t), ZUB_ENTRY_END};
    static const zubEndianTable_t nestTable = ZUB_ENDIAN_TABLE(Nest, nestEntries);
    for (int32_t maxDepth : {0, 1, -1, INT32_MAX}) {
        Nest nest{{1, static_cast<char *>(std::malloc(1))}, {1, static_cast<char *>(std::malloc(1))}};
        char *kept = nest.nested.data;
        const int32_t result = _zubDeserMemoryDealloc(&nestTable, &nest, maxDepth);
        EXPECT_EQ(nest.first.count, 0x57575700u);
        if (maxDepth == 0) {
            EXPECT_EQ(result, -1000);
            EXPECT_EQ(nest.nested.count, 1u);
            std::free(kept);
        } else {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(nest.nested.count, 0x57575700u);
        }
    }

    // The default stack: 19 levels below the top are walked, 20 are not.
    for (int levels : {19, 20}) {
        std::vector<zubEndianTable_t> tables(levels + 1);
        std::vector<std::vector<zubEndianInfoEntry_t>> entryLists(levels + 1);
        for (int k = levels; k >= 0; --k) {
            entryLists[k] = {k < levels ? zubEndianInfoEntry_t ZUB_ENTRY_RAW(0, 3, &tables[k + 1])
                                        : zubEndianInfoEntry_t ZUB_ENTRY_RAW(0, ZUB_ENDIAN_PACK(9, 1024 + sizeof(void *)), 1),
                             ZUB_ENTRY_END};
            tables[k] = {static_cast<uint32_t>(2 * sizeof(void *)), entryLists[k].data()};
        }
        zubDeserString_t deepest{1, static_cast<char *>(std::malloc(1))};
        EXPECT_EQ(_zubDeserMemoryDealloc(&tables[0], &deepest, -1), levels == 19 ? 0 : -1000);
        if (levels == 20) {
            std::free(deepest.data);
        }
    }
}

TEST(Dealloc, FieldsUnderTheMarkerAreReadAsTheyWere)
{
    // The element count lies in the first four bytes and is listed after an
    // array of atoms, whose marker covers it before it is read.
    struct Covered {
        uint32_t nList;
        uint32_t nBytes;
        uint8_t *bytes;
        zubDeserString_t *list;
    };
    static const zubEndianInfoEntry_t entries[] = {
        ZUB_ENTRY_VAR32(Covered, nBytes, bytes, 1),
        ZUB_ENTRY_VAR32_TABLE(Covered, nList, list, __zub_EndianTable_zubDeserString_t), ZUB_ENTRY_END};
    static const zubEndianTable_t table = ZUB_ENDIAN_TABLE(Covered, entries);
    Covered c{};
    Walk w(&table, &c);
    w.feed(zubtest::bytes("00 00 00 01 7a 00 00 00 02 00 00 00 01 61 00 00 00 00"));
    ASSERT_EQ(w.s.state, ZUB_DIS_DONE);
    ASSERT_EQ(c.nList, 2u);
    const size_t before = heapInUse();
    EXPECT_EQ(_zubDeserMemoryDealloc(&table, &c, -1), 0);
    expectGivenBack(before, 1 + 2 * sizeof(zubDeserString_t) + 1);
    EXPECT_EQ(c.nList, 0x57575700u);
    EXPECT_TRUE(allBytes(&c.list, sizeof c.list, 0x87));
}

TEST(Dealloc, RandomChunkingsRoundTripAndReleaseEverything)
{
    // Random streams for a structure of every kind, fed in random chunks
    // with the zero-filling bounded allocator; complete or failed, the
    // release gives back every byte the walk took.
    struct Leaf {
        uint16_t a;
        uint8_t fixed[5];
        uint16_t n;
        char *s;
    };
    struct Node {
        uint64_t q;
        uint8_t nLeaves;
        Leaf *leaves;
        zubDeserBlobUint16_t blob;
        uint32_t nStrings;
        zubDeserString_t *strings;
    };
    static const zubEndianInfoEntry_t leafEntries[] = {ZUB_ENTRY_U16(Leaf, a), ZUB_ENTRY_FIXED_ARRAY(Leaf, fixed),
                                                       ZUB_ENTRY_STRING(Leaf, n, s), ZUB_ENTRY_END};
    static const zubEndianTable_t leafTable = ZUB_ENDIAN_TABLE(Leaf, leafEntries);
    static const zubEndianInfoEntry_t nodeEntries[] = {
        ZUB_ENTRY_U64(Node, q), ZUB_ENTRY_MULTIPLICITY(6), ZUB_ENTRY_VAR8_TABLE(Node, nLeaves, leaves, leafTable),
        ZUB_ENTRY_TABLE(Node, blob, __zub_EndianTable_zubDeserBlobUint16_t),
        ZUB_ENTRY_VAR32_TABLE(Node, nStrings, strings, __zub_EndianTable_zubDeserString_t), ZUB_ENTRY_END};
    static const zubEndianTable_t nodeTable = ZUB_ENDIAN_TABLE(Node, nodeEntries);

    // The first backtrace (an oversize member reports one) loads the
    // unwinder, which keeps memory for good: load it before counting.
    void *frames[4];
    backtrace(frames, 4);
#if defined(__arm__)
    constexpr int kRounds = 300;
#else
    constexpr int kRounds = 2000;
#endif
    for (int seed = 0; seed < kRounds; ++seed) {
        std::mt19937 rng(seed);
        auto pick = [&rng](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
        Stream s;
        s.be(rng(), 8);
        const uint32_t leaves = pick(7);
        s.be(leaves, 1);
        for (uint32_t i = 0; i < leaves; ++i) {
            s.be(pick(65536), 2).be(rng(), 5);
            const uint32_t n = pick(4);
            s.be(n, 2).text(std::string(n, 'x'));
        }
        const uint32_t blob = pick(5);
        s.be(blob, 4).be(rng(), 2 * static_cast<int>(blob) > 8 ? 8 : 2 * static_cast<int>(blob));
        if (blob > 4) {
            s.be(0, 2 * static_cast<int>(blob) - 8);
        }
        const uint32_t strings = pick(4);
        s.be(strings, 4);
        for (uint32_t i = 0; i < strings; ++i) {
            s.be(i, 4).text(std::string(i, 'y'));
        }
        std::vector<uint8_t> stream = s.bytes;
        if (pick(4) == 0) {
            stream[pick(static_cast<uint32_t>(stream.size()))] ^= static_cast<uint8_t>(1 + pick(255)); // hostile
        }
        if (pick(4) == 0) {
            stream.resize(pick(static_cast<uint32_t>(stream.size()))); // cut short
        }

        const size_t before = heapInUse();
        zubBoundedAllocator_t bounded;
        Node node{};
        {
            Walk w(&nodeTable, &node, zubBoundedAllocatorInit(&bounded, 4096));
            for (size_t at = 0; at < stream.size() && w.s.state < ZUB_DIS_DONE;) {
                const size_t chunk = std::min<size_t>(1 + pick(9), stream.size() - at);
                w.feed(stream.data() + at, chunk);
                at += w.s.bufferPosition;
            }
            if (stream == s.bytes) {
                ASSERT_EQ(w.s.state, ZUB_DIS_DONE) << "seed " << seed;
                ASSERT_EQ(w.s.totalBytes, stream.size()) << "seed " << seed;
                ASSERT_EQ(node.nLeaves, leaves) << "seed " << seed;
            }
        }
        ASSERT_EQ(_zubDeserMemoryDealloc(&nodeTable, &node, -1), 0) << "seed " << seed;
        if (kHeapCounted) {
            ASSERT_EQ(heapInUse(), before) << "seed " << seed;
        }
    }
}

TEST(Dealloc, ElementMarksCarryTheElementIndex)
{
    // Each element frees its string and marks itself with its index; the
    // second element's nested array does not fit a one-level stack, so the
    // walk stops there and the marked elements stay readable.
    struct Element {
        zubDeserString_t text;
        uint8_t n;
        zubDeserString_t *more;
    };
    static const zubEndianInfoEntry_t elementEntries[] = {
        ZUB_ENTRY_VAR32(Element, text.count, text.data, 1),
        ZUB_ENTRY_VAR8_TABLE(Element, n, more, __zub_EndianTable_zubDeserString_t), ZUB_ENTRY_END};
    static const zubEndianTable_t elementTable = ZUB_ENDIAN_TABLE(Element, elementEntries);
    static const zubEndianInfoEntry_t entries[] = {
        ZUB_ENTRY_VAR32_TABLE(zubDeserBlobString_t, count, data, elementTable), ZUB_ENTRY_END};
    static const zubEndianTable_t table = ZUB_ENDIAN_TABLE(zubDeserBlobString_t, entries);

    struct Top {
        uint32_t count;
        Element *data;
    } top{};
    Walk w(&table, &top);
    w.feed(zubtest::bytes("00 00 00 02 00 00 00 01 61 00 00 00 00 01 62 01 00 00 00 00"));
    ASSERT_EQ(w.s.state, ZUB_DIS_DONE);
    Element *elements = top.data;
    zubDeserString_t *more = elements[1].more;
    EXPECT_EQ(_zubDeserMemoryDealloc(&table, &top, 1), -1000);
    EXPECT_EQ(elements[0].text.count, 0x57575700u);
    EXPECT_EQ(elements[1].text.count, 0x57575701u);
    EXPECT_EQ(top.data, elements); // the array was not reached
    std::free(more);
    std::free(elements);
}

TEST(Dealloc, FailedCountInsideAnArrayStopsTheReleaseButTheLogFreesAll)
{
    // Element: at most one string. The second element announces five, so
    // its count stands without a block and the release stops there.
    struct Element {
        uint32_t count;
        zubDeserString_t *data;
    };
    static const zubEndianInfoEntry_t elementEntries[] = {
        ZUB_ENTRY_MULTIPLICITY(1), ZUB_ENTRY_VAR32_TABLE(Element, count, data, __zub_EndianTable_zubDeserString_t),
        ZUB_ENTRY_END};
    static const zubEndianTable_t elementTable = ZUB_ENDIAN_TABLE(Element, elementEntries);
    struct Top {
        uint32_t count;
        Element *data;
    };
    static const zubEndianInfoEntry_t entries[] = {ZUB_ENTRY_VAR32_TABLE(Top, count, data, elementTable),
                                                   ZUB_ENTRY_END};
    static const zubEndianTable_t table = ZUB_ENDIAN_TABLE(Top, entries);
    const auto stream = zubtest::bytes("00 00 00 02 00 00 00 01 00 00 00 01 61 00 00 00 05");

    for (bool useLog : {false, true}) {
        const size_t before = heapInUse();
        void *log[8];
        zubBoundedAllocator_t bounded;
        zubBoundedAllocatorInit(&bounded, 1024);
        zubBoundedAllocatorSetLog(&bounded, log, 8);
        Top top{};
        {
            Walk w(&table, &top, &bounded.record);
            w.feed(stream);
            ASSERT_EQ(w.s.errorCode, ZUB_DES_ERR_MULTIPLICITY);
        }
        ASSERT_EQ(bounded.blocks, 3u); // the array, the first element's strings, "a"
        Element *array = top.data;
        if (useLog) {
            zubBoundedAllocatorFreeAll(&bounded);
            EXPECT_EQ(bounded.blocks, 0u);
        } else {
            EXPECT_EQ(_zubDeserMemoryDealloc(&table, &top, -1), 0);
            EXPECT_EQ(top.data, array); // not reached: the walk stopped inside it
            EXPECT_EQ(array[1].count, 5u);
            std::free(array);
        }
        if (kHeapCounted) {
            EXPECT_EQ(heapInUse(), before);
        }
    }

    // A full log refuses further blocks, like an exhausted budget.
    void *one[1];
    zubBoundedAllocator_t bounded;
    zubBoundedAllocatorInit(&bounded, 1024);
    zubBoundedAllocatorSetLog(&bounded, one, 1);
    Top top{};
    Walk w(&table, &top, &bounded.record);
    w.feed(stream);
    EXPECT_EQ(w.s.errorCode, ZUB_DES_ERR_NOMEM);
    zubBoundedAllocatorFreeAll(&bounded);
}

TEST(Dealloc, RandomSchemasRoundTripInAnyChunkingAndReleaseCompletely)
{
    // Random nested types and values: the serializer's stream read in one
    // chunk, byte by byte and in random chunks gives the same structure and
    // blocks byte for byte, equal to the value, and the release gives back
    // every byte.
    void *frames[4];
    backtrace(frames, 4);
#if defined(__arm__)
    constexpr uint32_t kSeeds = 60;
#else
    constexpr uint32_t kSeeds = 400;
#endif
    for (uint32_t seed = 1; seed <= kSeeds; ++seed) {
        zubtest::RandomSchema schema(seed);
        zubtest::RandomValue value(schema, seed * 7919u);
        const std::vector<uint8_t> stream = value.expectedStream();
        std::mt19937 rng(seed);
        size_t reference = 0; // hash of the one-chunk dump; no heap kept across the count
        for (int run = 0; run < 3; ++run) {
            std::vector<uint8_t> copy(schema.types()[0].size, 0);
            deser::TrackingAllocator blocks;
            blocks.blocks.reserve(4096);
            const size_t before = heapInUse();
            size_t recordHash = 0;
            {
                Walk w(schema.table(), copy.data(), &blocks.record,
                       static_cast<uint16_t>(schema.nesting() + 1));
                for (size_t at = 0; at < stream.size() || w.s.state < ZUB_DIS_DONE;) {
                    const size_t chunk = run == 0 ? stream.size() : run == 1 ? 1 : rng() % 12;
                    w.feed(stream.data() + at, std::min(chunk, stream.size() - at));
                    at += w.s.bufferPosition;
                    ASSERT_LT(w.s.state, ZUB_DIS_FAILED) << "seed " << seed << " " << schema.describe();
                }
                ASSERT_EQ(w.s.totalBytes, stream.size()) << "seed " << seed;
                // The record too ends as the byte steps leave it.
                recordHash = std::hash<std::string>()(deser::recordText(w.s, copy.data(), copy.size(), blocks));
            }
            ASSERT_EQ(value.compare(copy.data()), "") << "seed " << seed << " run " << run;
            const size_t text =
                std::hash<std::string>()(deser::dump(schema.table(), copy.data(), blocks)) ^ (recordHash * 31);
            if (run == 0) {
                reference = text;
            }
            ASSERT_EQ(text, reference) << "seed " << seed << " run " << run;
            ASSERT_EQ(_zubDeserMemoryDealloc(schema.table(), copy.data(), static_cast<int32_t>(schema.nesting())), 0)
                << "seed " << seed;
            if (kHeapCounted) {
                ASSERT_EQ(heapInUse(), before) << "seed " << seed << " run " << run;
            }
        }
    }
}
