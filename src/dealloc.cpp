// Release of deserialized memory: frees the blocks that the deserializer
// hung from a host structure, walking it with the same table.
//
// Design. The walk is the deserializer's, without a stream: a traversal
// record of its own with a stack from malloc, depth first in entry order.
// Elements of an array of structures are walked before the array is freed,
// so a nested block always goes before the block that holds it. What was
// freed is marked: the data pointer field of a freed array of structures
// with 0x87 over its whole width, and the first four bytes of a structure
// whose array of atoms was freed with 0x57575700 + its element index.
//
// That marker lands on whatever member lies in those four bytes. A count
// or data pointer there that a later entry still needs would be read back
// as the marker, so each level keeps a copy of its structure's first four
// bytes, taken when the level starts, in the `multiplicity` word of its
// table state (the release has no use for a limit); fields are read
// through that copy where they overlap those bytes. For every table whose
// fields lie outside the first four bytes, or are read before the first
// marker, this reads exactly what is in memory.
#include <cstdlib>
#include <cstring>

#include "zub/serialization.h"

#include "internal/bytes.h"
#include "internal/deser_walk.h"

namespace {

using namespace zub::detail;

constexpr int32_t kDefaultRecords = 20;
constexpr int64_t kMostRecords = 0xFFFF; // stackCapacity is 16 bits
constexpr unsigned char kFreedArrayFill = 0x87;
constexpr uint32_t kFreedAtomsMarker = 0x57575700u;
constexpr int32_t kNoStack = 2;
constexpr size_t kMarkerBytes = 4;

// Reads `width` bytes at `offset` in the structure of `level`; bytes that
// fall into its first four come from the copy taken when the level began.
void read_field(const zubDeserTableState_t &level, ptrdiff_t offset, size_t width, void *out)
{
    const auto *base = static_cast<const unsigned char *>(level.base);
    auto *bytes = static_cast<unsigned char *>(out);
    std::memcpy(bytes, base + offset, width);
    if (level.table->size < kMarkerBytes || offset >= static_cast<ptrdiff_t>(kMarkerBytes)) {
        return;
    }
    unsigned char copy[kMarkerBytes];
    std::memcpy(copy, &level.multiplicity, sizeof copy);
    for (ptrdiff_t k = 0; k < static_cast<ptrdiff_t>(width); ++k) {
        const ptrdiff_t at = offset + k;
        if (at >= 0 && at < static_cast<ptrdiff_t>(kMarkerBytes)) {
            bytes[k] = copy[at];
        }
    }
}

void *read_pointer(const zubDeserTableState_t &level, const zubEndianInfoEntry_t *entry)
{
    void *pointer;
    read_field(level, pointer_field_offset(entry), sizeof pointer, &pointer);
    return pointer;
}

uint32_t read_count(const zubDeserTableState_t &level, const zubEndianInfoEntry_t *entry)
{
    unsigned char field[4];
    const uint32_t width = count_width(entry_kind(entry));
    read_field(level, entry->memberOffset, width, field);
    return load_count(field, width);
}

// Keeps the first four bytes of a structure that is about to be walked.
void keep_first_bytes(zubDeserTableState_t &level)
{
    if (level.base != nullptr && level.table->size >= kMarkerBytes) {
        std::memcpy(&level.multiplicity, level.base, kMarkerBytes);
    }
}

void write_marker(void *base, uint32_t index)
{
    const uint32_t marker = kFreedAtomsMarker + index;
    auto *bytes = static_cast<unsigned char *>(base);
    for (size_t i = 0; i < kMarkerBytes; ++i) {
        bytes[i] = static_cast<unsigned char>(marker >> (8 * i));
    }
}

// End of a table below the top: the next element of an array, or the end
// of a kind 3 member or of the whole array.
void end_of_table(zubDeserState_t &s)
{
    zubDeserTableState_t &parent = s.stack[s.stackDepth - 1];
    if (parent.count != 0) {
        if (--parent.count != 0) {
            s.current.index += 1;
            auto *array = static_cast<unsigned char *>(read_pointer(parent, parent.entry));
            s.current.base = array + static_cast<size_t>(s.current.index) * s.current.table->size;
            keep_first_bytes(s.current);
            s.state = ZUB_DIS_START_TABLE;
            return;
        }
        // All elements done: the array itself goes last.
        void *array = read_pointer(parent, parent.entry);
        std::memset(static_cast<unsigned char *>(parent.base) + pointer_field_offset(parent.entry),
                    kFreedArrayFill, sizeof array);
        std::free(array);
    }
    _zubDeserStatePopTable(&s);
    s.state = ZUB_DIS_ADVANCE_ENTRY;
}

// Returns false when the walk stops (stack full).
bool handle_entry(zubDeserState_t &s, int32_t *result)
{
    const zubEndianInfoEntry_t *entry = s.current.entry;
    const uint32_t kind = entry_kind(entry);
    s.state = ZUB_DIS_ADVANCE_ENTRY;
    if (kind == ZUB_DESER_TYPE_TABLE && argument_is_table(entry)) {
        s.current.count = 0;
        if (_zubDeserStatePushTable(&s) != 0) {
            *result = ZUB_ESTACKFULL;
            return false;
        }
        const zubDeserTableState_t &parent = s.stack[s.stackDepth - 1];
        s.current.table = argument_table(entry);
        s.current.base = static_cast<unsigned char *>(parent.base) + entry->memberOffset;
        s.current.index = 0;
        // The nested structure may begin inside the enclosing one's first
        // four bytes: take its copy through the enclosing level's.
        if (s.current.table->size >= kMarkerBytes) {
            read_field(parent, entry->memberOffset, kMarkerBytes, &s.current.multiplicity);
        }
        s.state = ZUB_DIS_START_TABLE;
        return true;
    }
    if (!is_counted_kind(kind) || has_no_count_field(entry)) {
        // Integers, fixed arrays, modifiers, invalid kinds, and entries the
        // deserializer refuses (nothing of theirs was allocated).
        return true;
    }
    if (!argument_is_table(entry)) {
        void *atoms = read_pointer(s.current, entry);
        std::free(atoms);
        write_marker(s.current.base, s.current.index);
        return true;
    }
    const uint32_t count = read_count(s.current, entry);
    if (count == 0) {
        return true;
    }
    s.current.count = count;
    if (_zubDeserStatePushTable(&s) != 0) {
        *result = ZUB_ESTACKFULL;
        return false;
    }
    s.current.base = read_pointer(s.current, entry);
    s.current.table = argument_table(entry);
    s.current.count = 0;
    s.current.index = 0;
    keep_first_bytes(s.current);
    s.state = ZUB_DIS_START_TABLE;
    return true;
}

int32_t walk(zubDeserState_t &s)
{
    int32_t result = 0;
    for (;;) {
        switch (s.state) {
        case ZUB_DIS_START_TABLE:
            // A null structure (an array whose block never came) ends the walk.
            if (s.current.base == nullptr) {
                return 0;
            }
            s.current.entry = s.current.table->entries;
            s.state = ZUB_DIS_HANDLE_ENTRY;
            break;
        case ZUB_DIS_ADVANCE_ENTRY:
            s.current.entry += 1;
            s.state = ZUB_DIS_HANDLE_ENTRY;
            break;
        default:
            if (!is_terminator(s.current.entry)) {
                if (!handle_entry(s, &result)) {
                    return result;
                }
            } else if (s.stackDepth <= 1) {
                return 0;
            } else {
                end_of_table(s);
            }
            break;
        }
    }
}

} // namespace

extern "C" int32_t _zubDeserMemoryDealloc(const zubEndianTable_t *table, void *record, int32_t maxDepth)
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
    auto *stack = static_cast<zubDeserTableState_t *>(
        std::malloc(static_cast<size_t>(records) * sizeof(zubDeserTableState_t)));
    if (stack == nullptr) {
        return kNoStack;
    }
    zubDeserState_t s;
    std::memset(&s, 0, sizeof s);
    s.stack = stack;
    s.stackCapacity = static_cast<uint16_t>(records);
    s.current.table = table;
    s.current.base = record;
    keep_first_bytes(s.current);
    _zubDeserStatePushTable(&s);
    s.state = ZUB_DIS_START_TABLE;
    const int32_t result = walk(s);
    std::free(stack);
    return result;
}
