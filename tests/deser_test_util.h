// Helpers of the serialization tests and fuzz harnesses: a prepared walk,
// and walks in chunks with the checks every call must pass.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "../fuzz/block_tracker.h"
#include "../fuzz/fuzz_input.h"
#include "zub/serialization.h"

namespace deser {

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
    // One call on the next chunk of the stream to read, or buffer to fill.
    // The relation of its result, state and errorCode holds (a call after a
    // failure returns 0 and keeps the failure); a call that returns
    // unfinished has used its whole chunk, so no walk can hang.
    int32_t call(const uint8_t *buffer, size_t length, bool serialize)
    {
        s.buffer = const_cast<uint8_t *>(buffer);
        s.bufferLength = static_cast<uint32_t>(length);
        s.bufferPosition = 0;
        const int32_t result = zubfuzz::recorded(log, [this, serialize] {
            return serialize ? _zubSerializeTableInto(&s) : _zubDeserializeTableFrom(&s);
        });
        FUZZ_CHECK(result <= 0 && s.bufferPosition <= length && s.stackDepth <= s.stackCapacity);
        FUZZ_CHECK(result < 0 ? s.state == ZUB_SIS_FAILED && s.errorCode == result
                              : s.errorCode >= 0 || s.state == ZUB_SIS_FAILED);
        FUZZ_CHECK(s.state >= ZUB_SIS_DONE || s.bufferPosition == length);
        return result;
    }
    int32_t feed(const std::vector<uint8_t> &data) { return call(data.data(), data.size(), false); }

    // Serializes in buffers of next(bytes so far) bytes, each between
    // guard bytes, until the walk is over; returns the stream.
    template <class Next> std::vector<uint8_t> putAll(Next next, int32_t *last = nullptr)
    {
        std::vector<uint8_t> stream;
        for (uint32_t calls = 0; s.state < ZUB_SIS_DONE; ++calls) {
            FUZZ_CHECK(calls < 1000000);
            const uint32_t length = next(stream.size());
            std::vector<uint8_t> buffer(length + 32, 0xA5);
            const int32_t result = call(buffer.data() + 16, length, true);
            FUZZ_CHECK(std::count(buffer.begin(), buffer.begin() + 16, 0xA5) +
                           std::count(buffer.end() - 16, buffer.end(), 0xA5) ==
                       32);
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
            const std::vector<uint8_t> chunk(data + at, data + at + length);
            call(chunk.data(), length, false);
            at += s.bufferPosition;
        }
        return at;
    }
};

} // namespace deser
