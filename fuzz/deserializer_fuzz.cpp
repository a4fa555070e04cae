// Fuzz target: arbitrary bytes, fed in arbitrary chunks, against a set of
// tables (the predefined ones and a nested one of our own), with either the
// default allocator or a bounded one; whatever the walk made is released.
//
// Input: byte 0 picks the table, bytes 1-3 are the chunk lengths used in
// turn (their low 6 bits; 0: an empty chunk), the top bit of byte 1 picks
// the default allocator, the rest is the stream. The bytes the chunked walk
// consumed are also read as one chunk: both walks must end alike (record,
// blocks made).
#define ZUBFUZZ_HOOKS
#include <cstddef>
#include <cstdint>
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

const zubEndianTable_t *const tables[] = {
    &__zub_EndianTable_zubDeserBlobInt8_t,   &__zub_EndianTable_zubDeserBlobInt16_t,
    &__zub_EndianTable_zubDeserBlobInt32_t,  &__zub_EndianTable_zubDeserBlobInt64_t,
    &__zub_EndianTable_zubDeserBlobUint8_t,  &__zub_EndianTable_zubDeserBlobUint16_t,
    &__zub_EndianTable_zubDeserBlobUint32_t, &__zub_EndianTable_zubDeserBlobUint64_t,
    &__zub_EndianTable_zubDeserVectorU8_t,   &__zub_EndianTable_zubDeserVectorU16_t,
    &__zub_EndianTable_zubDeserVectorU32_t,  &__zub_EndianTable_zubDeserString_t,
    &__zub_EndianTable_zubDeserBlobString_t, &__zub_EndianTable_zubDeserStringArray_t,
    &__zub_EndianTable_zubOsalTime_t,        &treeTable};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    zubBoundedAllocator_t bounded;
    const auto allocator = [&] {
        return data[1] & 0x80 ? nullptr : zubBoundedAllocatorInit(&bounded, 1u << 16);
    };
    const deser::Hostile h{
        tables[data[0] % (sizeof tables / sizeof tables[0])], 12, allocator(), 12, true, true};
    unsigned turn = 0;
    const bool some = data[1] % 64 || data[2] % 64 || data[3] % 64;
    const auto chunk = [&](size_t) { return some ? data[1 + turn++ % 3] % 64u : size; };
    std::vector<uint64_t> chunked, whole;
    const size_t at = deser::hostileWalk(h, data + 4, size - 4, chunk, chunked);
    const deser::Hostile again{h.table, 12, allocator(), 12, true, true};
    deser::hostileWalk(
        again, data + 4, at, [&](size_t) { return at + 64; }, whole);
    FUZZ_CHECK(chunked == whole);
    return 0;
}
