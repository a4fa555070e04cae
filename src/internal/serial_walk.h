// Helpers shared by the walkers of the serialization family: entry
// decoding, counted members' count and data pointer fields, and the table
// stack. Every access to host memory goes through memcpy (bytes.h): count
// fields and data pointers may be unaligned.
#pragma once

#include <cstdint>

#include "internal/bytes.h"
#include "zub/serialization.h"

namespace zub::detail {

inline unsigned entry_kind(const zubEndianInfoEntry_t *e)
{
    return ZUB_ENDIAN_KIND(e);
}

// The serializer, deserializer and release end a table at an argument whose
// low 32 bits are all ones, so tables written with 0xFFFFFFFF end on every
// platform.
inline bool entry_is_end(const zubEndianInfoEntry_t *e)
{
    return ZUB_ENDIAN_IS_END(e);
}

inline bool argument_is_table(const zubEndianInfoEntry_t *e)
{
    return ZUB_ENDIAN_ARGUMENT_IS_TABLE(e);
}

// Low four bits of the argument: the atom size of arrays of atoms.
inline uint32_t atom_size(const zubEndianInfoEntry_t *e)
{
    return static_cast<uint32_t>(e->argument.value & 0xFu);
}

// Width in bytes of the count field of a counted kind (6, 7, 9, 10); 0 for
// every other kind.
inline uint32_t count_width(unsigned kind)
{
    switch (kind) {
    case ZUB_DESER_TYPE_VAR8: return 1;
    case ZUB_DESER_TYPE_VAR16:
    case ZUB_DESER_TYPE_STRING: return 2;
    case ZUB_DESER_TYPE_VAR32: return 4;
    default: return 0;
    }
}

inline uint32_t load_count(const uint8_t *field, uint32_t width)
{
    switch (width) {
    case 1: return *field;
    case 2: return load<uint16_t>(field);
    default: return load<uint32_t>(field);
    }
}

// Address of a counted member's data pointer field: memberOffset +
// pointerOffset - 1024 bytes into the structure at base.
inline uint8_t *data_pointer_field(void *base, const zubEndianInfoEntry_t *e)
{
    const long delta = static_cast<long>(e->memberOffset) +
                       static_cast<long>(ZUB_ENDIAN_POINTER_OFFSET(e)) - 1024L;
    return static_cast<uint8_t *>(base) + delta;
}

inline uint8_t *load_data_pointer(void *base, const zubEndianInfoEntry_t *e)
{
    return static_cast<uint8_t *>(load_ptr(data_pointer_field(base, e)));
}

// Pointer moved down by n bytes in integer arithmetic: a cursor that walks
// a member's bytes downwards ends one byte before the member, which may lie
// before the start of the object.
inline uint8_t *byte_cursor_back(uint8_t *p, uint32_t n)
{
    return reinterpret_cast<uint8_t *>(reinterpret_cast<uintptr_t>(p) - n);
}

// The table stack, as the exported operations do it (inlined in walks).
inline bool push_table(zubDeserState_t *s)
{
    if (s->stackDepth >= s->stackCapacity) {
        return false;
    }
    s->stack[s->stackDepth] = s->current;
    s->stackDepth = static_cast<uint16_t>(s->stackDepth + 1u);
    return true;
}

inline bool pop_table(zubDeserState_t *s)
{
    if (s->stackDepth == 0) {
        return false;
    }
    s->stackDepth = static_cast<uint16_t>(s->stackDepth - 1u);
    s->current = s->stack[s->stackDepth];
    return true;
}

} // namespace zub::detail
