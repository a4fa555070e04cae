// Fuzz target: arbitrary bytes, fed in arbitrary chunks, against a set of
// tables (the predefined ones and nested ones of our own), with either the
// default allocator (zero-filled arrays of structures) or a bounded
// allocator; whatever the walk made is then released.
//
// Input: byte 0 picks the table, bytes 1-3 are the chunk lengths used in
// turn (their low 6 bits; 0: an empty chunk), the top bit of byte 1 picks
// the default allocator, the rest is the stream. Leaks, reads or writes
// outside the host structure and its blocks, and undefined behaviour are
// caught by the sanitizers. The same stream is also read as one chunk:
// both walks must end with the same record, structure and blocks, whether
// they complete, fail or run out of bytes. The blocks a walk made are seen
// through BlockLog: a complete walk's release must free every one of them,
// no release may free anything else or anything twice, and what the
// release of a failed or abandoned walk does not reach is freed here.
#include <execinfo.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "../tests/deser_test_util.h"
#include "block_tracker.h"
#include "walk_text.h"
#include "zub/bounded_allocator.h"
#include "zub/serialization.h"

namespace {

using deser::Msg;
using deser::msgTable;

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
                                          &msgTable,
                                          &treeTable,
                                          &oddTable,
                                          &coveredTable};
constexpr size_t kTables = sizeof tables / sizeof tables[0];
constexpr uint16_t kStack = 12;
constexpr size_t kBudget = 1u << 16;

// The blocks of the chunked walk and of the one-chunk walk.
zubfuzz::BlockLog chunkedLog;
zubfuzz::BlockLog wholeLog;

struct Reading {
    zubBoundedAllocator_t bounded;
    zubDeserTableState_t stack[kStack];
    zubDeserState_t s;
    const zubEndianTable_t *table;
    uint8_t *host;
    size_t hostSize;
    zubfuzz::BlockLog &log;

    Reading(const zubEndianTable_t *top, bool defaultAllocator, zubfuzz::BlockLog &blocks)
        : table(top), hostSize(top->size), log(blocks)
    {
        log.clear();
        // The structure lies in a block of exactly its size: a write past it
        // shows. Zero-filled, as a caller that may release after a failure
        // prepares it.
        host = static_cast<uint8_t *>(calloc(1, hostSize));
        std::memset(&s, 0, sizeof s);
        s.stack = stack;
        s.stackCapacity = kStack;
        s.allocator = defaultAllocator ? nullptr : zubBoundedAllocatorInit(&bounded, kBudget);
        s.current.table = table;
        s.current.base = host;
        s.state = ZUB_DIS_START_TABLE;
        _zubDeserStatePushTable(&s);
    }

    // Feeds one chunk, copied into a block of its own size.
    void feed(const uint8_t *data, size_t length)
    {
        auto *chunk = static_cast<uint8_t *>(malloc(length ? length : 1));
        if (length != 0) {
            std::memcpy(chunk, data, length);
        }
        s.buffer = chunk;
        s.bufferLength = static_cast<uint32_t>(length);
        s.bufferPosition = 0;
        int32_t result;
        {
            zubfuzz::Recording recording(log);
            result = _zubDeserializeTableFrom(&s);
        }
        if (result > 0 || s.bufferPosition > s.bufferLength ||
            (result < 0 && result != s.errorCode) || (result == 0 && s.errorCode < 0) ||
            log.foreign() != 0) {
            __builtin_trap();
        }
        free(chunk);
    }

    // The record (pointers as block and offset) and, unless the blocks are
    // too large to write out on every run (the default allocator takes any
    // count a stream asks for), the structure with its blocks, numbered in
    // the order the walk allocated them.
    std::string text() const
    {
        zubfuzz::Blocks seen;
        size_t bytes = 0;
        for (size_t i = 0; i < log.count(); ++i) {
            if (log.block(i).live) {
                seen.emplace_back(log.block(i).pointer, log.block(i).size);
                bytes += log.block(i).size;
            }
        }
        const std::string record = zubfuzz::recordText(s, host, hostSize, seen);
        return bytes > kBudget ? record : record + zubfuzz::dump(table, host, seen);
    }

    // A walk whose push failed may have left an array one level deeper
    // than its stack: the release gets one level more. A complete walk
    // must be released completely. After a failed walk the release may
    // stop at an element whose count came without its block, so the
    // blocks it did not reach are freed here.
    ~Reading()
    {
        int32_t released;
        {
            zubfuzz::Recording recording(log);
            released = _zubDeserMemoryDealloc(table, host, kStack);
        }
        if (log.foreign() != 0 || (s.state == ZUB_DIS_DONE &&
                                   (released != 0 || (log.live() != 0 && !log.overflowed())))) {
            __builtin_trap();
        }
        log.freeLeftovers();
        free(host);
    }
};

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
    if (size < 4) {
        return 0;
    }
    const zubEndianTable_t *table = tables[data[0] % kTables];
    const bool defaultAllocator = (data[1] & 0x80) != 0;
    const uint8_t chunks[3] = {data[1], data[2], data[3]};
    data += 4;
    size -= 4;

    Reading chunked(table, defaultAllocator, chunkedLog);
    size_t at = 0;
    for (unsigned turn = 0; chunked.s.state < ZUB_DIS_DONE && turn < 4 * size + 8; ++turn) {
        size_t length = chunks[turn % 3] % 64;
        if (length > size - at) {
            length = size - at;
        }
        chunked.feed(data + at, length);
        at += chunked.s.bufferPosition;
        if (at == size) {
            break; // stream used up; an unfinished walk is abandoned
        }
    }
    if (at < size && chunked.s.state < ZUB_DIS_DONE) {
        return 0; // only empty chunks: nothing to compare
    }

    // The same bytes in one chunk (the part the chunked walk consumed, so
    // both stop at the same byte).
    Reading whole(table, defaultAllocator, wholeLog);
    whole.feed(data, at);
    if (whole.s.totalBytes != chunked.s.totalBytes || whole.text() != chunked.text()) {
        __builtin_trap();
    }
    return 0;
}
