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
// bytes, taken when the level starts, in the `multiplicity` word of its
// table state (the release has no use for a limit); fields are read
// through that copy where they overlap those bytes. For every table whose
// fields lie outside the first four bytes, or are read before the first
// marker, this reads exactly what is in memory.
//
// Choices where the release is left open:
//  - maxDepth above 65534 is capped at the 65535 records that the 16-bit
//    capacity can count (the size is computed after the cap).
//  - Entries the deserializer refuses (a counted member without a count
//    field, a nested structure whose argument is not a table) are passed
//    over: nothing of theirs was allocated.
//  - Blocks from a caller's allocator record are freed with free() like
//    any other; the bounded allocator's blocks are plain calloc blocks, and
//    it can free a failed walk's blocks from its log instead.
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

// The walk: the current level in `cur` (its entry in `entry`), the
// enclosing levels on the stack, depth first in entry order.
class Release {
public:
    Release(zubDeserTableState_t *stack, uint16_t capacity) : stack_(stack), capacity_(capacity) {}

    int32_t run(const zubEndianTable_t *table, void *record)
    {
        std::memset(&cur_, 0, sizeof cur_);
        cur_.table = table;
        cur_.base = record;
        keep_first_bytes(cur_);
        stack_[depth_++] = cur_;
        for (;;) {
            // Start of a table. A null structure (an array whose block
            // never came, as a failed walk leaves it) ends the walk.
            if (cur_.base == nullptr) {
                return 0;
            }
            const zubEndianInfoEntry_t *entry = cur_.table->entries;
            Next next;
            while ((next = member(entry)) == Next::Entry) {
                ++entry;
            }
            if (next == Next::Done) {
                return 0;
            }
            if (next == Next::Full) {
                return ZUB_ESTACKFULL;
            }
        }
    }

private:
    enum class Next { Entry, Table, Done, Full };

    bool push(const zubEndianInfoEntry_t *entry)
    {
        if (depth_ >= capacity_) {
            return false;
        }
        cur_.entry = entry;
        stack_[depth_++] = cur_;
        return true;
    }

    // One entry of the current table; Next::Table when a new table starts
    // (a nested structure, an element, or the level after an array ends
    // goes on at its next entry through `entry`).
    Next member(const zubEndianInfoEntry_t *&entry)
    {
        if (is_terminator(entry)) {
            return end_of_table(entry);
        }
        const uint32_t kind = entry_kind(entry);
        if (kind == ZUB_DESER_TYPE_TABLE && argument_is_table(entry)) {
            cur_.count = 0;
            if (!push(entry)) {
                return Next::Full;
            }
            const zubDeserTableState_t &parent = stack_[depth_ - 1];
            cur_.table = argument_table(entry);
            cur_.base = static_cast<unsigned char *>(parent.base) + entry->memberOffset;
            cur_.index = 0;
            // The nested structure may begin inside the enclosing one's
            // first four bytes: take its copy through the enclosing level's.
            if (cur_.table->size >= kMarkerBytes) {
                read_field(parent, entry->memberOffset, kMarkerBytes, &cur_.multiplicity);
            }
            return Next::Table;
        }
        if (!is_counted_kind(kind) || has_no_count_field(entry)) {
            // Integers, fixed arrays, modifiers, invalid kinds, and entries
            // the deserializer refuses (nothing of theirs was allocated).
            return Next::Entry;
        }
        if (!argument_is_table(entry)) {
            std::free(read_pointer(cur_, entry));
            write_marker(cur_.base, cur_.index);
            return Next::Entry;
        }
        const uint32_t count = read_count(cur_, entry);
        if (count == 0) {
            return Next::Entry;
        }
        cur_.count = count;
        if (!push(entry)) {
            return Next::Full;
        }
        cur_.base = read_pointer(cur_, entry);
        cur_.table = argument_table(entry);
        cur_.count = 0;
        cur_.index = 0;
        keep_first_bytes(cur_);
        return Next::Table;
    }

    // End of the current table: the walk, the next element of an array, or
    // the end of a nested structure or of a whole array.
    Next end_of_table(const zubEndianInfoEntry_t *&entry)
    {
        if (depth_ <= 1) {
            return Next::Done;
        }
        zubDeserTableState_t &parent = stack_[depth_ - 1];
        if (parent.count != 0) {
            if (--parent.count != 0) {
                cur_.index += 1;
                auto *array = static_cast<unsigned char *>(read_pointer(parent, parent.entry));
                cur_.base = array + static_cast<size_t>(cur_.index) * cur_.table->size;
                keep_first_bytes(cur_);
                return Next::Table;
            }
            // All elements done: the array itself goes last.
            void *array = read_pointer(parent, parent.entry);
            std::memset(static_cast<unsigned char *>(parent.base) +
                            pointer_field_offset(parent.entry),
                        kFreedArrayFill, sizeof array);
            std::free(array);
        }
        cur_ = stack_[--depth_];
        entry = cur_.entry;
        return Next::Entry;
    }

    zubDeserTableState_t *stack_;
    uint16_t capacity_;
    uint16_t depth_ = 0;
    zubDeserTableState_t cur_{};
};

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
    auto *stack = static_cast<zubDeserTableState_t *>(
        std::malloc(static_cast<size_t>(records) * sizeof(zubDeserTableState_t)));
    if (stack == nullptr) {
        return kNoStack;
    }
    Release release(stack, static_cast<uint16_t>(records));
    const int32_t result = release.run(table, record);
    std::free(stack);
    return result;
}
