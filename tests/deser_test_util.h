// Helpers of the serialization tests and fuzz harnesses: a prepared walk,
// walks in chunks with the checks every call must pass, and the checks of
// a walk over a hostile stream.
#pragma once

#include <execinfo.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

#include "../fuzz/block_tracker.h"
#include "../fuzz/fuzz_input.h"
#include "zub/serialization.h"

namespace deser {

// The 16 guard bytes of 0xA5 at each end of a buffer are intact.
inline bool intact(const std::vector<uint8_t> &b)
{
    return std::count(b.begin(), b.begin() + 16, 0xA5) + std::count(b.end() - 16, b.end(), 0xA5) ==
           32;
}

// A traversal record prepared for one walk, with its own stack; with a
// block log, the blocks of each call are noted there.
struct Walk {
    zubDeserState_t s{};
    std::vector<zubDeserTableState_t> stack;
    zubfuzz::BlockLog *log = nullptr;

    Walk(const zubEndianTable_t *table, const void *base, const zubAllocator_t *allocator = nullptr,
         uint16_t capacity = ZUB_DESER_DEFAULT_STACK)
        : stack(capacity)
    {
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
        // A saved level counts the elements of its array of structures still
        // to walk, or holds 0 for a nested structure, which starts at index 0.
        for (uint16_t j = 1; j < s.stackDepth; ++j) {
            const bool nested = ZUB_ENDIAN_KIND(s.stack[j].entry) == ZUB_DESER_TYPE_TABLE;
            const auto &inner = j + 1 < s.stackDepth ? s.stack[j + 1] : s.current;
            FUZZ_CHECK(nested == (s.stack[j].count == 0) && (!nested || inner.index == 0));
        }
        return result;
    }
    int32_t feed(const std::vector<uint8_t> &data) { return call(data.data(), data.size(), false); }

    // Serializes in buffers of next(bytes so far) bytes, each between
    // guard bytes, until the walk is over, which it must end with success
    // (a stream that never ends fails the check on the number of calls);
    // returns the stream.
    template <class Next> std::vector<uint8_t> putAll(Next next)
    {
        std::vector<uint8_t> stream;
        int32_t result = 0;
        for (uint32_t calls = 0; s.state < ZUB_SIS_DONE; ++calls) {
            FUZZ_CHECK(calls < 1000000);
            const uint32_t length = next(stream.size());
            std::vector<uint8_t> buffer(length + 32, 0xA5);
            result = call(buffer.data() + 16, length, true);
            FUZZ_CHECK(intact(buffer));
            stream.insert(stream.end(), buffer.data() + 16, buffer.data() + 16 + s.bufferPosition);
        }
        FUZZ_CHECK(result == 0 && s.totalBytes == stream.size());
        return stream;
    }

    // Reads data[0, size) in chunks of next(bytes so far) bytes, each in a
    // block of its own, until the walk is over or the bytes are used up
    // (one call at least; an unfinished call uses its whole chunk, so the
    // walk ends); returns the bytes consumed.
    template <class Next> size_t feedAll(const uint8_t *data, size_t size, Next next)
    {
        size_t at = 0;
        do {
            feed({data + at, data + at + std::min<size_t>(next(at), size - at)});
            at += s.bufferPosition;
        } while (s.state < ZUB_DIS_DONE && at < size);
        return at;
    }
};

// A hostile stream read into a zero-filled structure between guard bytes.
struct Hostile {
    const zubEndianTable_t *table;
    uint16_t capacity; // stack records of every walk
    int32_t maxDepth;  // of the release
    bool exact;        // every byte read is stored: no invalid entries or atom sizes
    bool releasable;   // no structure that contains itself (over every other member)
};

// Reads stream[0, size) in chunks of next(bytes so far); returns the bytes
// consumed. A complete walk's structure is handed to inspect(), then
// serializes with success, in pieces of next() and in one buffer alike, to
// zubSerializedSize bytes: the bytes consumed when the tables are exact.
// The byte-order conversion there and back gives the bytes back. The
// release frees no block twice and nothing foreign, and after a complete
// walk with room for its nesting every block; what it does not reach is
// freed here.
template <class Next>
size_t hostileWalk(const Hostile &h, const uint8_t *stream, size_t size, Next next,
                   const std::function<void(const uint8_t *)> &inspect = nullptr)
{
    // The first backtrace (oversize members write one) loads the unwinder,
    // whose blocks live on: load it outside every recorded call.
    static void *frame[1];
    [[maybe_unused]] static const int unwinder = backtrace(frame, 1);
    static zubfuzz::BlockLog log;
    std::vector<uint8_t> guarded(h.table->size + 32, 0xA5);
    uint8_t *host = guarded.data() + 16;
    std::fill(host, host + h.table->size, 0);
    log.clear();
    Walk walk(h.table, host, nullptr, h.capacity);
    walk.log = &log;
    const size_t used = walk.feedAll(stream, size, next);
    FUZZ_CHECK(intact(guarded) && log.foreign == 0);

    const bool done = walk.s.state == ZUB_DIS_DONE;
    if (done && inspect)
        inspect(host);
    if (done) {
        const auto pieces = Walk(h.table, host, nullptr, h.capacity).putAll(next);
        const auto length = static_cast<uint32_t>(pieces.size());
        std::vector<uint8_t> whole(length + 1, 0xA5);
        FUZZ_CHECK(zubSerializedSize(h.table, host) == length);
        FUZZ_CHECK(zubSimpleSerializeInto(whole.data(), length, h.table, host) == int32_t(length));
        FUZZ_CHECK(std::equal(pieces.begin(), pieces.end(), whole.begin()) &&
                   whole[length] == 0xA5);
        FUZZ_CHECK(!h.exact ||
                   (used == length && std::equal(pieces.begin(), pieces.end(), stream)));
    }
    const std::vector<uint8_t> before(guarded);
    zubProtocolToHost(host, host, h.table);
    FUZZ_CHECK(intact(guarded));
    zubHostToProtocol(host, host, h.table);
    FUZZ_CHECK(guarded == before);

    if (h.releasable) {
        const int32_t released = zubfuzz::recorded(
            &log, [&] { return _zubDeserMemoryDealloc(h.table, host, h.maxDepth); });
        FUZZ_CHECK(intact(guarded) && log.foreign == 0 && (released == 0 || released == -1000));
        const bool room = h.maxDepth < 0 || h.maxDepth + 1 >= h.capacity;
        FUZZ_CHECK(!done || !room || log.overflowed || (released == 0 && log.live == 0));
    }
    log.freeLeftovers();
    return used;
}

} // namespace deser
