// Fuzz target: arbitrary bytes, fed in arbitrary chunks, against a set of
// tables (the predefined ones and nested ones of our own), with either the
// default allocator or a bounded one; whatever the walk made is released.
//
// Input: byte 0 picks the table, bytes 1-3 are the chunk lengths used in
// turn (their low 6 bits; 0: an empty chunk), the top bit of byte 1 picks
// the default allocator, the rest is the stream. The same bytes are also
// read as one chunk: both walks must end alike (record, blocks made). A
// complete walk's structure serializes back to the bytes it consumed, and
// its release frees every block it made; no release frees anything else or
// anything twice, and what the release of a failed or abandoned walk does
// not reach is freed here. Reads or writes outside the structure, the
// chunks and the blocks are the sanitizers' to catch.
#define ZUBFUZZ_HOOKS
#include <execinfo.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "../tests/deser_test_util.h"
#include "zub/bounded_allocator.h"

namespace {

// A tree of itself: deep enough streams fill any stack.
struct Tree {
    uint8_t tag;
    uint8_t n;
    Tree *kids;
    uint16_t len;
    char *name;
    zubDeserBlobString_t names;
};
extern const zubEndianTable_t treeTable;
const zubEndianInfoEntry_t treeEntries[] = {
    ZUB_ENTRY_U8(Tree, tag),
    ZUB_ENTRY_MULTIPLICITY(4),
    ZUB_ENTRY_VAR8_TABLE(Tree, n, kids, treeTable),
    ZUB_ENTRY_STRING(Tree, len, name),
    ZUB_ENTRY_TABLE(Tree, names, __zub_EndianTable_zubDeserBlobString_t),
    ZUB_ENTRY_END};
const zubEndianTable_t treeTable = ZUB_ENDIAN_TABLE(Tree, treeEntries);

// Odd atom sizes, an empty fixed array, then an invalid entry.
struct Odd {
    uint8_t n;
    uint8_t *d;
    uint8_t fixed[6];
    uint16_t m;
    uint8_t *e;
};
const zubEndianInfoEntry_t oddEntries[] = {
    ZUB_ENTRY_RAW(offsetof(Odd, n), ZUB_ENDIAN_PACK(6, 1024 + offsetof(Odd, d) - offsetof(Odd, n)),
                  3),
    ZUB_ENTRY_RAW(offsetof(Odd, fixed), ZUB_ENDIAN_PACK(11, 2), 3),
    ZUB_ENTRY_RAW(offsetof(Odd, fixed), ZUB_ENDIAN_PACK(11, 0), 8),
    ZUB_ENTRY_RAW(offsetof(Odd, m), ZUB_ENDIAN_PACK(7, 1024 + offsetof(Odd, e) - offsetof(Odd, m)),
                  0),
    ZUB_ENTRY_RAW(0, 13, 0),
    ZUB_ENTRY_END};
const zubEndianTable_t oddTable = ZUB_ENDIAN_TABLE(Odd, oddEntries);

// A count under the marker of an earlier array of atoms.
struct Covered {
    uint32_t nList;
    uint32_t nBytes;
    uint8_t *bytes;
    zubDeserString_t *list;
};
const zubEndianInfoEntry_t coveredEntries[] = {
    ZUB_ENTRY_VAR32(Covered, nBytes, bytes, 1),
    ZUB_ENTRY_VAR32_TABLE(Covered, nList, list, __zub_EndianTable_zubDeserString_t), ZUB_ENTRY_END};
const zubEndianTable_t coveredTable = ZUB_ENDIAN_TABLE(Covered, coveredEntries);

const zubEndianTable_t *const tables[] = {&__zub_EndianTable_zubDeserBlobInt8_t,
                                          &__zub_EndianTable_zubDeserBlobInt16_t,
                                          &__zub_EndianTable_zubDeserBlobInt32_t,
                                          &__zub_EndianTable_zubDeserBlobInt64_t,
                                          &__zub_EndianTable_zubDeserBlobUint8_t,
                                          &__zub_EndianTable_zubDeserBlobUint16_t,
                                          &__zub_EndianTable_zubDeserBlobUint32_t,
                                          &__zub_EndianTable_zubDeserBlobUint64_t,
                                          &__zub_EndianTable_zubDeserVectorU8_t,
                                          &__zub_EndianTable_zubDeserVectorU16_t,
                                          &__zub_EndianTable_zubDeserVectorU32_t,
                                          &__zub_EndianTable_zubDeserString_t,
                                          &__zub_EndianTable_zubDeserBlobString_t,
                                          &__zub_EndianTable_zubDeserStringArray_t,
                                          &__zub_EndianTable_zubOsalTime_t,
                                          &treeTable,
                                          &oddTable,
                                          &coveredTable};
constexpr uint16_t kStack = 12;

// One walk over data[0, size) into a zero-filled structure of exactly its
// size (as a caller that may release after a failure prepares it); returns
// the bytes consumed and its outcome: the record's end and the sizes of the
// blocks it made, in order.
size_t walk(const zubEndianTable_t *table, bool defaultAllocator, const uint8_t *data, size_t size,
            const uint8_t *chunks, std::vector<uint64_t> &outcome)
{
    static zubfuzz::BlockLog log;
    log.clear();
    zubBoundedAllocator_t bounded;
    auto *host = static_cast<uint8_t *>(calloc(1, table->size));
    deser::Walk w(table, host,
                  defaultAllocator ? nullptr : zubBoundedAllocatorInit(&bounded, 1u << 16), kStack);
    w.log = &log;
    // Chunk lengths in turn; all of it at once when there are none.
    unsigned turn = 0;
    const bool some = chunks && (chunks[0] % 64 || chunks[1] % 64 || chunks[2] % 64);
    const size_t at =
        w.feedAll(data, size, [&](size_t) { return some ? chunks[turn++ % 3] % 64u : size; });
    outcome = {w.s.state, uint64_t(w.s.errorCode), w.s.totalBytes, w.s.stackDepth,
               w.s.current.index};
    for (size_t i = 0; i < log.count; ++i)
        outcome.push_back(log.blocks[i].size);
    if (w.s.state == ZUB_DIS_DONE && table != &oddTable) { // invalid atoms are not stored
        std::vector<uint8_t> again(at + 1, 0xA5);
        FUZZ_CHECK(zubSimpleSerializeInto(again.data(), uint32_t(at), table, host) == int32_t(at));
        FUZZ_CHECK(std::equal(data, data + at, again.begin()) && again[at] == 0xA5);
    }
    // A walk whose push failed may have left an array one level deeper
    // than its stack: the release gets one level more. A complete walk
    // must be released completely.
    const int32_t released =
        zubfuzz::recorded(&log, [&] { return _zubDeserMemoryDealloc(table, host, kStack); });
    FUZZ_CHECK(log.foreign == 0);
    FUZZ_CHECK(w.s.state != ZUB_DIS_DONE || (released == 0 && (log.live == 0 || log.overflowed)));
    log.freeLeftovers();
    free(host);
    return at;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The first backtrace (oversize members write one) loads the unwinder,
    // whose blocks live on: load it now, outside every recorded call.
    void *frame[1];
    (void)backtrace(frame, 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    const zubEndianTable_t *table = tables[data[0] % (sizeof tables / sizeof tables[0])];
    const bool defaultAllocator = (data[1] & 0x80) != 0;
    std::vector<uint64_t> chunked, whole;
    const size_t at = walk(table, defaultAllocator, data + 4, size - 4, data + 1, chunked);
    // The same bytes in one chunk (the part the chunked walk consumed, so
    // both stop at the same byte).
    walk(table, defaultAllocator, data + 4, at, nullptr, whole);
    FUZZ_CHECK(chunked == whole);
    return 0;
}
