// Helpers of the serialization tests and the deserializer fuzz target: the
// message schema and a prepared walk.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "zub/serialization.h"

namespace deser {

// The message of the deserializer's tests and fuzz target: every kind of
// member once, a nested structure, counted arrays of each count width, an
// array of structures with strings and a multiplicity limit.
struct Elem {
    uint32_t v;
    uint16_t fixed[3];
    uint16_t len;
    char *text;
};
struct Pair {
    uint8_t b;
    uint64_t q;
};
struct Msg {
    uint16_t id;
    Pair pair;
    uint8_t n64;
    uint64_t *q64;
    uint16_t n32;
    uint32_t *w32;
    uint32_t nElem;
    Elem *elems;
    uint16_t nText;
    char *text;
    uint32_t tail;
};
inline const zubEndianInfoEntry_t elemEntries[] = {
    ZUB_ENTRY_U32(Elem, v), ZUB_ENTRY_FIXED_ARRAY(Elem, fixed), ZUB_ENTRY_STRING(Elem, len, text),
    ZUB_ENTRY_END};
inline const zubEndianTable_t elemTable = ZUB_ENDIAN_TABLE(Elem, elemEntries);
inline const zubEndianInfoEntry_t pairEntries[] = {ZUB_ENTRY_U8(Pair, b), ZUB_ENTRY_U64(Pair, q),
                                                   ZUB_ENTRY_END};
inline const zubEndianTable_t pairTable = ZUB_ENDIAN_TABLE(Pair, pairEntries);
inline const zubEndianInfoEntry_t msgEntries[] = {
    ZUB_ENTRY_U16(Msg, id),
    ZUB_ENTRY_TABLE(Msg, pair, pairTable),
    ZUB_ENTRY_VAR8(Msg, n64, q64, 8),
    ZUB_ENTRY_VAR16(Msg, n32, w32, 4),
    ZUB_ENTRY_MULTIPLICITY(5),
    ZUB_ENTRY_VAR32_TABLE(Msg, nElem, elems, elemTable),
    ZUB_ENTRY_STRING(Msg, nText, text),
    ZUB_ENTRY_U32(Msg, tail),
    ZUB_ENTRY_END};
inline const zubEndianTable_t msgTable = ZUB_ENDIAN_TABLE(Msg, msgEntries);

// A traversal record prepared for one walk, with its own stack: fed chunk
// by chunk to the deserializer, or serialized from a structure that the
// serializer only reads.
struct Walk {
    zubDeserState_t s;
    std::vector<zubDeserTableState_t> stack;

    Walk(const zubEndianTable_t *table, const void *base, const zubAllocator_t *allocator = nullptr,
         uint16_t capacity = ZUB_DESER_DEFAULT_STACK)
        : stack(capacity)
    {
        std::memset(&s, 0, sizeof s);
        s.stack = stack.data();
        s.stackCapacity = capacity;
        s.allocator = allocator;
        s.current.table = table;
        s.current.base = const_cast<void *>(base);
        _zubDeserStatePushTable(&s);
    }
    int32_t feed(const uint8_t *data, size_t length)
    {
        s.buffer = const_cast<uint8_t *>(data);
        s.bufferLength = static_cast<uint32_t>(length);
        s.bufferPosition = 0;
        return _zubDeserializeTableFrom(&s);
    }
    int32_t feed(const std::vector<uint8_t> &data) { return feed(data.data(), data.size()); }
    // The next part of the stream, into buffer[0, length).
    int32_t put(uint8_t *buffer, uint32_t length)
    {
        s.buffer = buffer;
        s.bufferLength = length;
        s.bufferPosition = 0;
        return _zubSerializeTableInto(&s);
    }
};

} // namespace deser
