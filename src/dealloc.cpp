// Release of deserialized memory: frees the blocks that the deserializer
// hung from a host structure, walking it with the same table.
//
// Design. The walk is the deserializer's, without a stream: the current
// table state and a stack of saved ones from malloc, depth first in entry
// order.
// Elements of an array of structures are walked before the array is freed,
// so a nested block always goes before the block that holds it. What was
// freed is marked: the data pointer field of a freed array of structures
// with 0x87 over its whole width, and the first four bytes of a structure
// whose array of atoms was freed with 0x57575700 + its element index.
//
// That marker lands on whatever member lies in those four bytes. A count
// or data pointer there that a later entry still needs would be read back
// as the marker, so each level keeps a copy of its structure's first four
// bytes, taken when the level starts, in its own stack record (the release
// keeps levels of its own shape in its stack block); fields are read
// through that copy where they overlap those bytes. For every table whose
// fields lie outside the first four bytes, or are read before the first
// marker, this reads exactly what is in memory.
//
// A table that holds itself in place (a nested structure at offset 0 with
// its own table) makes every level the deserializer entered share the same
// fields. A nested structure whose table and address are those of a level
// that encloses it in place (through nested structures only, up to the
// element or top-level structure they lie in) is therefore passed over:
// no block is freed twice.
//
// Choices where the release is left open:
//  - maxDepth above 65534 is capped at the 65535 records that the 16-bit
//    capacity can count (the size is computed after the cap).
//  - Entries the deserializer refuses (a string without a count field, a
//    nested structure whose argument is not a table) are passed over:
//    nothing of theirs was allocated.
//  - Blocks from a caller's allocator record are freed with free() like
//    any other; the bounded allocator's blocks are plain calloc blocks, and
//    it can free a failed walk's blocks from its log instead.
#include <cstdlib>
#include <cstring>

#include "zub/serialization.h"

#include "internal/bytes.h"
#include "internal/table_walk.h"

namespace {

using namespace zub::detail;

constexpr int32_t kDefaultRecords = 20;
constexpr int64_t kMostRecords = 0xFFFF; // stackCapacity is 16 bits
constexpr unsigned char kFreedArrayFill = 0x87;
constexpr uint32_t kFreedAtomsMarker = 0x57575700u;
constexpr int32_t kNoStack = 2;
constexpr size_t kMarkerBytes = 4;

// One level of the release: a table state whose fifth word keeps the
// structure's first four bytes (the release has no limit to keep). The
// stack block holds as many of them as it would hold table states.
struct ReleaseLevel {
    const zubEndianTable_t *table;
    const zubEndianInfoEntry_t *entry;
    uint32_t count;
    uint32_t index;
    uint8_t firstBytes[kMarkerBytes];
    uint8_t *base;
};
static_assert(sizeof(ReleaseLevel) == sizeof(zubDeserTableState_t));

// Reads `width` bytes at `offset` in the structure of `level`; bytes that
// fall into its first four come from the copy taken when the level began.
ZUB_WALK_INLINE void read_field(const ReleaseLevel &level, ptrdiff_t offset, size_t width,
                                void *out)
{
    auto *bytes = static_cast<unsigned char *>(out);
    std::memcpy(bytes, level.base + offset, width);
    if (level.table->size < kMarkerBytes || offset >= static_cast<ptrdiff_t>(kMarkerBytes)) {
        return;
    }
    for (ptrdiff_t k = 0; k < static_cast<ptrdiff_t>(width); ++k) {
        const ptrdiff_t at = offset + k;
        if (at >= 0 && at < static_cast<ptrdiff_t>(kMarkerBytes)) {
            bytes[k] = level.firstBytes[at];
        }
    }
}

ZUB_WALK_INLINE uint8_t *read_pointer(const ReleaseLevel &level, const zubEndianInfoEntry_t *entry)
{
    void *pointer;
    read_field(level, pointer_field_offset(entry), sizeof pointer, &pointer);
    return static_cast<uint8_t *>(pointer);
}

ZUB_WALK_INLINE uint32_t read_count(const ReleaseLevel &level, const zubEndianInfoEntry_t *entry)
{
    unsigned char field[4];
    const uint32_t width = count_width(entry_kind(entry));
    read_field(level, entry->memberOffset, width, field);
    return load_count(field, width);
}

// Keeps the first four bytes of a structure that is about to be walked.
ZUB_WALK_INLINE void keep_first_bytes(ReleaseLevel &level)
{
    if (level.base != nullptr && level.table->size >= kMarkerBytes) {
        std::memcpy(level.firstBytes, level.base, kMarkerBytes);
    }
}

ZUB_WALK_INLINE void write_marker(uint8_t *base, uint32_t index)
{
    const uint32_t marker = kFreedAtomsMarker + index;
    for (size_t i = 0; i < kMarkerBytes; ++i) {
        base[i] = static_cast<uint8_t>(marker >> (8 * i));
    }
}

// After the last element of an array of structures: the array goes, its
// data pointer field is filled.
void free_array(const ReleaseLevel &parent)
{
    uint8_t *array = read_pointer(parent, parent.entry);
    std::memset(pointer_field(parent.base, parent.entry), kFreedArrayFill, sizeof(void *));
    std::free(array);
}

// True when `table` at `base` is the current level's, or that of a level
// enclosing it in place. Offsets only add, so only a nested structure at
// offset 0 can lie at an enclosing level's address; the caller checks that
// first. stack[j].count is 0 when the level above it was entered as a
// nested structure (in place), else it was an array element.
ZUB_WALK_INLINE bool holds_itself(const Levels<ReleaseLevel> &w, const zubEndianTable_t *table,
                                  const uint8_t *base)
{
    if (w.cur.table == table && w.cur.base == base) {
        return true;
    }
    for (uint16_t j = w.depth; j > 1 && w.stack[j - 1].count == 0; --j) {
        if (w.stack[j - 1].table == table && w.stack[j - 1].base == base) {
            return true;
        }
    }
    return false;
}

// Depth first in entry order, on the table walker's levels.
int32_t release(Levels<ReleaseLevel> w)
{
    for (;;) {
        // Start of a table. A null structure (an array whose block never
        // came, as a failed walk leaves it) ends the walk.
        if (w.cur.base == nullptr) {
            return 0;
        }
        const zubEndianInfoEntry_t *e = w.cur.entry;
        if (entry_is_end(e)) {
            // A lambda, not a reference to the function: on ARM in Thumb
            // state a function's address is odd, and binding a reference to
            // it reads as misaligned to the undefined-behaviour checks.
            const TableEnd end =
                end_of_table(w, [](const ReleaseLevel &parent) { free_array(parent); });
            if (end == TableEnd::Walk) {
                return 0;
            }
            if (end == TableEnd::Element) {
                keep_first_bytes(w.cur);
            }
            continue;
        }
        // Counted kinds first, the commonest holders of blocks; integers,
        // fixed arrays, modifiers and invalid kinds hold nothing.
        const unsigned kind = entry_head(e).kind();
        if (is_counted_kind(kind)) {
            if (lacks_count_field(e)) {
                // Refused by the deserializer: nothing was allocated.
            } else if (!argument_is_table(e)) {
                std::free(read_pointer(w.cur, e));
                write_marker(w.cur.base, w.cur.index);
            } else if (const uint32_t count = read_count(w.cur, e); count != 0) {
                w.cur.count = count;
                if (!enter(w, argument_table(e), read_pointer(w.cur, e))) {
                    return ZUB_ESTACKFULL;
                }
                keep_first_bytes(w.cur);
                continue;
            }
        } else if (kind == ZUB_DESER_TYPE_TABLE && argument_is_table(e) &&
                   !(e->memberOffset == 0 && holds_itself(w, argument_table(e), w.cur.base))) {
            // The nested structure may begin inside the enclosing one's
            // first four bytes: take its copy through the enclosing level's.
            const ReleaseLevel &parent = w.cur;
            uint8_t kept[kMarkerBytes];
            const bool keep = argument_table(e)->size >= kMarkerBytes;
            if (keep) {
                read_field(parent, e->memberOffset, kMarkerBytes, kept);
            }
            w.cur.count = 0;
            if (!enter(w, argument_table(e), w.cur.base + e->memberOffset)) {
                return ZUB_ESTACKFULL;
            }
            if (keep) {
                std::memcpy(w.cur.firstBytes, kept, kMarkerBytes);
            }
            continue;
        }
        w.cur.entry += 1;
    }
}

} // namespace

extern "C" int32_t _zubDeserMemoryDealloc(const zubEndianTable_t *table, void *record,
                                          int32_t maxDepth)
{
    if (table == nullptr || record == nullptr) {
        return ZUB_EFAIL;
    }
    // maxDepth levels below the top need maxDepth + 1 records, computed in
    // 64 bits and capped at what the 16-bit capacity can count.
    int64_t records = maxDepth < 0 ? kDefaultRecords : static_cast<int64_t>(maxDepth) + 1;
    if (records > kMostRecords) {
        records = kMostRecords;
    }
    void *stack = std::malloc(static_cast<size_t>(records) * sizeof(zubDeserTableState_t));
    if (stack == nullptr) {
        return kNoStack;
    }
    Levels<ReleaseLevel> w{
        {}, static_cast<ReleaseLevel *>(stack), 0, static_cast<uint16_t>(records)};
    w.cur.table = table;
    w.cur.entry = table->entries;
    w.cur.base = static_cast<uint8_t *>(record);
    keep_first_bytes(w.cur);
    w.stack[w.depth++] = w.cur;
    const int32_t result = release(w);
    std::free(stack);
    return result;
}
