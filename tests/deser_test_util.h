// Helpers of the serialization tests and fuzz harnesses: the message
// schema, a prepared walk, and walks in chunks with the checks every call
// must pass.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "../fuzz/block_tracker.h"
#include "../fuzz/fuzz_input.h"
#include "zub/serialization.h"

namespace deser {

// Every kind of member once, a nested structure, counted arrays of each
// count width, an array of structures with strings and a multiplicity.
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

// A traversal record prepared for one walk, with its own stack; with a
// block log, the blocks of each call are noted there.
struct Walk {
    zubDeserState_t s;
    std::vector<zubDeserTableState_t> stack;
    zubfuzz::BlockLog *log = nullptr;

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
    int32_t call(uint8_t *buffer, size_t length, int32_t (*walker)(zubDeserState_t *))
    {
        s.buffer = buffer;
        s.bufferLength = static_cast<uint32_t>(length);
        s.bufferPosition = 0;
        if (log == nullptr)
            return walker(&s);
        zubfuzz::Recording recording(*log);
        return walker(&s);
    }
    // The next chunk of the stream to read, or buffer to fill.
    int32_t feed(const uint8_t *data, size_t length)
    {
        return call(const_cast<uint8_t *>(data), length, _zubDeserializeTableFrom);
    }
    int32_t feed(const std::vector<uint8_t> &data) { return feed(data.data(), data.size()); }
    int32_t put(uint8_t *buffer, uint32_t length)
    {
        return call(buffer, length, _zubSerializeTableInto);
    }

    // The relation of a call's result, state and errorCode; a call that
    // returns unfinished has used its whole chunk, so no walk can hang.
    void check(int32_t result, size_t length) const
    {
        FUZZ_CHECK(result <= 0 && s.bufferPosition <= length && s.stackDepth <= s.stackCapacity);
        FUZZ_CHECK(result < 0 ? s.state == ZUB_SIS_FAILED && s.errorCode == result
                              : s.errorCode >= 0);
        FUZZ_CHECK(s.state >= ZUB_SIS_DONE || s.bufferPosition == length);
    }

    // Serializes in buffers of next(bytes so far) bytes, each between
    // guard bytes, until the walk is over; returns the stream.
    template <class Next> std::vector<uint8_t> putAll(Next next, int32_t *last = nullptr)
    {
        std::vector<uint8_t> stream;
        for (uint32_t calls = 0; s.state < ZUB_SIS_DONE; ++calls) {
            FUZZ_CHECK(calls < 1000000);
            const uint32_t length = next(stream.size());
            std::vector<uint8_t> buffer(length + 32, 0xA5);
            const int32_t result = put(buffer.data() + 16, length);
            check(result, length);
            FUZZ_CHECK(std::count(buffer.begin(), buffer.begin() + 16, 0xA5) == 16 &&
                       std::count(buffer.end() - 16, buffer.end(), 0xA5) == 16);
            stream.insert(stream.end(), buffer.data() + 16, buffer.data() + 16 + s.bufferPosition);
            if (last != nullptr)
                *last = result;
        }
        FUZZ_CHECK(s.totalBytes == stream.size());
        return stream;
    }

    // Reads data[0, size) in chunks of next(bytes so far) bytes, each in a
    // block of its own, until the walk is over or the bytes are used up
    // (one call at least); returns the bytes consumed.
    template <class Next> size_t feedAll(const uint8_t *data, size_t size, Next next)
    {
        size_t at = 0;
        for (uint32_t calls = 0; s.state < ZUB_DIS_DONE && (at < size || calls == 0); ++calls) {
            FUZZ_CHECK(calls < 1000000);
            const size_t length = std::min<size_t>(next(at), size - at);
            const std::unique_ptr<uint8_t[]> chunk(new uint8_t[length ? length : 1]);
            std::copy(data + at, data + at + length, chunk.get());
            check(feed(chunk.get(), length), length);
            at += s.bufferPosition;
        }
        return at;
    }
};

} // namespace deser
