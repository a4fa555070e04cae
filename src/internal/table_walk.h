// The one walker of the serialization family: how an entry of a type
// description table is decoded, and how a walk moves through nested
// structures and arrays of structures. The serializer, deserializer,
// release and byte-order conversion are actions on it.
//
// Design. An entry is decoded in one place (kind, member offset, data
// pointer field, count width, atom size, nested table, table end), so every
// walker reads a table the same way. A walk keeps the level it is in (table,
// entry, element count and index, structure address) and a stack of the
// levels that enclose it. Three moves cover every table:
//  - enter: save the current level and start a nested structure (a TABLE
//    member, count 0 saved) or element 0 of an array of structures (the
//    element count saved); refused when the stack is full;
//  - end of table: at depth 1 the walk is complete; else, while the saved
//    count of the enclosing level stays above 0 after a decrement, the next
//    element follows at its stride; otherwise the enclosing level comes
//    back and goes on at its next entry;
//  - next entry.
// The stack is the caller's (serializer, deserializer) or a malloc block
// (release): these walkers do not recurse, and a table that contains itself
// ends at the stack's depth. The byte-order conversion converts nested
// structures by recursion instead, on the thread's stack, and passes over
// a table met again among the levels that enclose it.
//
// Where a table ends differs by walker: the serializer, deserializer and
// release end it at the first entry whose argument is the all-ones end mark
// (entry_is_end), whatever its kind; the byte-order conversion at the first
// entry of kind 0 only, whatever its argument. None reads entries past that
// end.
//
// A resumable walk (serializer, deserializer) keeps its whole progress in
// the caller's record and moves it one way only: a call copies the fields
// it changes into a local WalkState (copy_in), keeps them there, in
// registers, for the length of the call, and writes them back
// (write_back) at every exit. The walkers' stores into host memory and
// the buffer are byte stores, which the compiler must assume could alias
// the record; working on the record itself would reload every field after
// every store.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "internal/bytes.h"
#include "zub/serialization.h"

// The moves, and each walker's steps, are inlined into the walker's one
// loop, so that its walk never escapes the call and stays in registers; at
// -Os the compiler weighs each inlining itself.
#if defined(__OPTIMIZE_SIZE__)
#define ZUB_WALK_INLINE inline
#else
#define ZUB_WALK_INLINE [[gnu::always_inline]] inline
#endif

namespace zub::detail {

// ---- Entry decoding -------------------------------------------------------

// A counted member's data pointer lies at memberOffset + pointerOffset -
// kPointerBias: the 11-bit pointerOffset is biased so that the pointer may
// lie up to 1024 bytes before its count field.
constexpr ptrdiff_t kPointerBias = 1024;
// memberOffset of a string without a count field (kind STRING only; for
// every other kind 0xFFFF is an offset like any other).
constexpr uint16_t kNoCountField = 0xFFFFu;
// A limit for the next count that every count passes.
constexpr uint32_t kNoLimit = ZUB_DESER_NO_MULTIPLICITY;

// An entry's first four bytes, memberOffset and the packed unit, read in
// one load: the walkers' loops decode the kind and the member from it.
struct EntryHead {
    uint32_t word; // memberOffset | packed << 16

    uint32_t member_offset() const { return word & 0xFFFFu; }
    unsigned kind() const { return (word >> 16) & 0xFu; }
};

inline EntryHead entry_head(const zubEndianInfoEntry_t *e)
{
    if constexpr (std::endian::native == std::endian::little) {
        return {load<uint32_t>(e)};
    } else {
        return {e->memberOffset | static_cast<uint32_t>(e->packed) << 16};
    }
}

inline unsigned entry_kind(const zubEndianInfoEntry_t *e)
{
    return e->packed & 0xFu;
}

// Bits 4-15: fixedCount of a FIXED entry; 0 for a MODIFIER that sets a limit.
inline uint32_t entry_high12(const zubEndianInfoEntry_t *e)
{
    return static_cast<uint32_t>(e->packed) >> 4;
}

inline uint32_t entry_argument32(const zubEndianInfoEntry_t *e)
{
    return static_cast<uint32_t>(e->argument.value);
}

// A table ends at an argument whose low 32 bits are all ones, so tables
// written with 0xFFFFFFFF end on 64-bit hosts too.
inline bool entry_is_end(const zubEndianInfoEntry_t *e)
{
    return entry_argument32(e) == 0xFFFFFFFFu;
}

// An argument with a bit set above the low four is a table, else an atom size.
inline bool argument_is_table(const zubEndianInfoEntry_t *e)
{
    return (e->argument.value & ~static_cast<uintptr_t>(0xFu)) != 0;
}

inline const zubEndianTable_t *argument_table(const zubEndianInfoEntry_t *e)
{
    return e->argument.table;
}

inline uint32_t atom_size(const zubEndianInfoEntry_t *e)
{
    return static_cast<uint32_t>(e->argument.value & 0xFu);
}

// 1, 2, 4 and 8 are the atom (and integer) widths.
inline bool valid_atom(uint32_t a)
{
    return a == 1 || a == 2 || a == 4 || a == 8;
}

// Kinds 1, 2, 4, 8: an integer of that many bytes.
inline bool is_integer_kind(unsigned kind)
{
    return ((1u << kind) & ((1u << ZUB_DESER_TYPE_U8) | (1u << ZUB_DESER_TYPE_U16) |
                            (1u << ZUB_DESER_TYPE_U32) | (1u << ZUB_DESER_TYPE_U64))) != 0;
}

// Kinds 6, 7, 9, 10: a count field and a data pointer.
inline bool is_counted_kind(unsigned kind)
{
    return ((1u << kind) & ((1u << ZUB_DESER_TYPE_VAR8) | (1u << ZUB_DESER_TYPE_VAR16) |
                            (1u << ZUB_DESER_TYPE_VAR32) | (1u << ZUB_DESER_TYPE_STRING))) != 0;
}

// Width of the count field of a counted kind: 1, 2, 4, and 2 for strings.
inline uint32_t count_width(unsigned kind)
{
    return kind == ZUB_DESER_TYPE_VAR8 ? 1u : kind == ZUB_DESER_TYPE_VAR32 ? 4u : 2u;
}

// A string without a count field, which no walker reads or writes.
inline bool lacks_count_field(const zubEndianInfoEntry_t *e)
{
    return e->memberOffset == kNoCountField && entry_kind(e) == ZUB_DESER_TYPE_STRING;
}

inline ptrdiff_t pointer_field_offset(const zubEndianInfoEntry_t *e)
{
    return static_cast<ptrdiff_t>(e->memberOffset) +
           static_cast<ptrdiff_t>(ZUB_ENDIAN_POINTER_OFFSET(e)) - kPointerBias;
}

inline uint8_t *pointer_field(void *base, const zubEndianInfoEntry_t *e)
{
    return static_cast<uint8_t *>(base) + pointer_field_offset(e);
}

inline uint8_t *load_data_pointer(void *base, const zubEndianInfoEntry_t *e)
{
    return static_cast<uint8_t *>(load_ptr(pointer_field(base, e)));
}

// A count field of `width` bytes (host order, possibly unaligned).
inline uint32_t load_count(const uint8_t *field, uint32_t width)
{
    switch (width) {
    case 1: return *field;
    case 2: return load<uint16_t>(field);
    default: return load<uint32_t>(field);
    }
}

// ---- Traversal ------------------------------------------------------------

// The levels of a walk. Level has entry and base, and table, index and
// count when the walk enters arrays of structures.
template <typename Level> struct Levels {
    Level cur;      // the level being walked
    Level *stack;   // the enclosing levels; stack[0] is the top level
    uint16_t depth; // records in use
    uint16_t capacity;
};

template <typename Level> inline constexpr bool kHasCount = requires(Level l)
{
    l.count;
};

// Saves the current level and starts `table` over the structure at base;
// false (nothing changed) when the stack is full. The caller has set the
// current level's count: 0 for a nested structure, the element count for
// an array of structures.
template <typename Level>
ZUB_WALK_INLINE bool enter(Levels<Level> &w, const zubEndianTable_t *table, void *base)
{
    if (w.depth >= w.capacity) {
        return false;
    }
    w.stack[w.depth++] = w.cur;
    w.cur.entry = table->entries;
    if constexpr (kHasCount<Level>) {
        w.cur.table = table;
        w.cur.count = 0;
        w.cur.index = 0;
    }
    w.cur.base = static_cast<uint8_t *>(base);
    return true;
}

enum class TableEnd {
    Walk,    // the top-level table ended: the walk is complete
    Element, // the next element of an array of structures starts (cur.base, cur.entry set)
    Parent,  // the enclosing level is back, at the entry after the one it entered
};

// The end of the current table. `arrayDone(parent)` is called after the
// last element of an array of structures, before the enclosing level comes
// back. The next element lies one stride after the current one: the
// array's block is not the structure that points to it, so its data
// pointer, read again, would give the same address.
template <typename Level, typename ArrayDone>
ZUB_WALK_INLINE TableEnd end_of_table(Levels<Level> &w, ArrayDone &&arrayDone)
{
    if (w.depth <= 1) {
        return TableEnd::Walk;
    }
    Level &parent = w.stack[w.depth - 1];
    if constexpr (kHasCount<Level>) {
        if (parent.count != 0) {
            if (--parent.count != 0) {
                w.cur.index += 1;
                w.cur.base = static_cast<uint8_t *>(w.cur.base) + w.cur.table->size;
                w.cur.entry = w.cur.table->entries;
                return TableEnd::Element;
            }
            arrayDone(parent);
        }
    }
    w.depth -= 1;
    w.cur = parent;
    w.cur.entry += 1;
    return TableEnd::Parent;
}

// The end of a table for walkers that do nothing when an array ends.
template <typename Level> ZUB_WALK_INLINE TableEnd end_of_table(Levels<Level> &w)
{
    return end_of_table(w, [](const Level &) {});
}

// ---- Walk state -----------------------------------------------------------

// The fields of the record that a resumable walk changes.
struct WalkState {
    Levels<zubDeserTableState_t> lv; // the current level and the stack
    uint32_t state;
    uint32_t nextState;
    uint32_t done;  // bytesOfMemberDone
    uint32_t total; // totalBytesOfMember
    uintptr_t srcval;
    int16_t error; // 0 while the call runs; the call ends when it is not
};

// Field by field, both ways: a block copy would read, in wide words, fields
// the caller has just stored one by one, which the processor cannot
// forward and has to wait for.
ZUB_WALK_INLINE void copy_in(WalkState &w, const zubDeserState_t *s)
{
    w.lv.cur.table = s->current.table;
    w.lv.cur.entry = s->current.entry;
    w.lv.cur.count = s->current.count;
    w.lv.cur.index = s->current.index;
    w.lv.cur.multiplicity = s->current.multiplicity;
    w.lv.cur.base = s->current.base;
    w.lv.stack = s->stack;
    w.lv.depth = s->stackDepth;
    w.lv.capacity = s->stackCapacity;
    w.state = s->state;
    w.nextState = s->nextState;
    w.done = s->bytesOfMemberDone;
    w.total = s->totalBytesOfMember;
    w.srcval = reinterpret_cast<uintptr_t>(s->srcval);
    w.error = 0;
}

ZUB_WALK_INLINE void write_back(const WalkState &w, zubDeserState_t *s)
{
    s->current.table = w.lv.cur.table;
    s->current.entry = w.lv.cur.entry;
    s->current.count = w.lv.cur.count;
    s->current.index = w.lv.cur.index;
    s->current.multiplicity = w.lv.cur.multiplicity;
    s->current.base = w.lv.cur.base;
    s->stackDepth = w.lv.depth;
    s->state = w.state;
    s->nextState = w.nextState;
    s->bytesOfMemberDone = w.done;
    s->totalBytesOfMember = w.total;
    s->srcval = reinterpret_cast<uint8_t *>(w.srcval);
    s->errorCode = w.error;
}

} // namespace zub::detail
