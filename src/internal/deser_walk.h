// Entry decoding shared by the deserializer and the release walk.
//
// An entry is memberOffset (bytes 0-1), a packed 16-bit unit (bytes 2-3:
// kind in bits 0-3, pointerOffset in bits 4-14 or fixedCount in bits 4-15)
// and the argument word. The unit is read as its two bytes, so this file
// does not depend on how the public header spells the bit fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "zub/serialization.h"

namespace zub::detail {

inline uint16_t entry_unit(const zubEndianInfoEntry_t *entry)
{
    uint16_t unit;
    std::memcpy(&unit, reinterpret_cast<const unsigned char *>(entry) + 2, sizeof unit);
    return unit;
}

inline uint32_t entry_kind(const zubEndianInfoEntry_t *entry)
{
    return entry_unit(entry) & 0xFu;
}

// Bits 4-15: fixedCount for kind 11; must be 0 for kind 15 to set a limit.
inline uint32_t entry_high12(const zubEndianInfoEntry_t *entry)
{
    return entry_unit(entry) >> 4;
}

inline uint32_t entry_argument32(const zubEndianInfoEntry_t *entry)
{
    return static_cast<uint32_t>(entry->argument.value);
}

// The table ends at an entry whose argument has its low 32 bits all ones,
// so tables written with 0xFFFFFFFF work with 64-bit argument words too.
inline bool is_terminator(const zubEndianInfoEntry_t *entry)
{
    return entry_argument32(entry) == 0xFFFFFFFFu;
}

// An argument with a bit set above the low four is an element table.
inline bool argument_is_table(const zubEndianInfoEntry_t *entry)
{
    return entry->argument.value > 0xFu;
}

inline const zubEndianTable_t *argument_table(const zubEndianInfoEntry_t *entry)
{
    return entry->argument.table;
}

inline uint32_t atom_size(const zubEndianInfoEntry_t *entry)
{
    return static_cast<uint32_t>(entry->argument.value & 0xFu);
}

// A member without a count field (memberOffset 0xFFFF) has nowhere to
// keep its count: the walkers do not support it.
inline bool has_no_count_field(const zubEndianInfoEntry_t *entry)
{
    return entry->memberOffset == 0xFFFFu;
}

inline bool is_counted_kind(uint32_t kind)
{
    return kind == ZUB_DESER_TYPE_VAR8 || kind == ZUB_DESER_TYPE_VAR16 ||
           kind == ZUB_DESER_TYPE_VAR32 || kind == ZUB_DESER_TYPE_STRING;
}

// Width of the count field of a counted kind: 1, 2, 4, or 2 for strings.
inline uint32_t count_width(uint32_t kind)
{
    return kind == ZUB_DESER_TYPE_VAR8 ? 1u : kind == ZUB_DESER_TYPE_VAR32 ? 4u : 2u;
}

// Offset of the data pointer from the start of the structure: the 11-bit
// pointerOffset is biased by 1024, so it may lie before the count field.
inline ptrdiff_t pointer_field_offset(const zubEndianInfoEntry_t *entry)
{
    const uint32_t pointerOffset = (entry_unit(entry) >> 4) & 0x7FFu;
    return static_cast<ptrdiff_t>(entry->memberOffset) + static_cast<ptrdiff_t>(pointerOffset) -
           1024;
}

// Reads a count field of `width` bytes (host order, possibly unaligned).
inline uint32_t load_count(const unsigned char *field, uint32_t width)
{
    switch (width) {
    case 1: return field[0];
    case 2: {
        uint16_t v;
        std::memcpy(&v, field, sizeof v);
        return v;
    }
    default: {
        uint32_t v;
        std::memcpy(&v, field, sizeof v);
        return v;
    }
    }
}

} // namespace zub::detail
