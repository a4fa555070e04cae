// Byte ring buffer over a caller's data area.
//
// The buffered bytes run from readPos forward and wrap from the end of the
// area to its start; used = capacity - available tells full from empty, so
// readPos == writePos is ambiguous on purpose and never consulted. Every
// transfer is cut at the end of the area into at most two pieces, and one
// helper (split) decides that cut for enqueue, dequeue and hand-out alike.
//
// Small transfers are the common case of a byte queue (messages, records),
// and for them a call into the C library's memcpy costs as much as the copy
// itself. So the exported enqueue and dequeue first try a fast path: a
// transfer of up to 64 bytes that does not reach the end of the area is
// copied inline (copy_short) with the record's fields in registers, and no
// stack frame is set up; every other case goes to the general code, which
// gives the same results for the fast path's cases too.
#include "zub/ringbuffer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "internal/atoms.h"

namespace {

// A transfer of n bytes starting at pos: `first` bytes from pos towards the
// end of the area, the remaining `second` from its start, and the position
// after it. A transfer that ends exactly at the end of the area wraps the
// position to 0.
struct Split {
    uint32_t first;
    uint32_t second;
    uint32_t next;
};

Split split(uint32_t pos, uint32_t n, uint32_t capacity)
{
    const uint32_t toEnd = capacity - pos;
    if (n < toEnd) {
        return {n, 0, pos + n};
    }
    return {toEnd, n - toEnd, n - toEnd};
}

// Transfers up to this long are copied inline.
constexpr uint32_t kInlineCopy = zub::detail::kShortCopy;

// One field as one 32-bit load. The compiler would otherwise merge the
// loads of readPos and available into one 64-bit vector load, which cannot
// take its bytes from the separate stores of the previous enqueue and
// dequeue: the failed store-to-load forward costs more than a 64-byte
// transfer.
inline uint32_t load_field(const uint32_t &field)
{
    uint32_t value = field;
    asm("" : "+r"(value));
    return value;
}

uint32_t used_bytes(const zubRingBuffer_t &ring)
{
    return ring.capacity - ring.available;
}

bool ranges_overlap(const uint8_t *a, uint32_t aLength, const uint8_t *b, uint32_t bLength)
{
    const auto a0 = reinterpret_cast<uintptr_t>(a);
    const auto b0 = reinterpret_cast<uintptr_t>(b);
    return aLength != 0 && bLength != 0 && a0 < b0 + bLength && b0 < a0 + aLength;
}

// The general transfers, out of line so that the fast paths stay free of
// calls (and of the stack frame calls need).
[[gnu::noinline]] int32_t enqueue(zubRingBuffer_t &ring, const uint8_t *source, uint32_t length)
{
    if (length > ring.capacity || length > ring.available) {
        return ZUB_ENOSPC;
    }
    const Split s = split(ring.writePos, length, ring.capacity);
    std::memcpy(ring.data + ring.writePos, source, s.first);
    if (s.second != 0) {
        std::memcpy(ring.data, source + s.first, s.second);
    }
    ring.writePos = s.next;
    ring.available -= length;
    return static_cast<int32_t>(length);
}

[[gnu::noinline]] int32_t dequeue(zubRingBuffer_t &ring, uint8_t *destination, uint32_t length)
{
    const uint32_t n = std::min(used_bytes(ring), length);
    if (n == 0) {
        return 0;
    }
    const Split s = split(ring.readPos, n, ring.capacity);
    if (destination != nullptr) {
        std::memcpy(destination, ring.data + ring.readPos, s.first);
        if (s.second != 0) {
            std::memcpy(destination + s.first, ring.data, s.second);
        }
    }
    ring.readPos = s.next;
    ring.available += n;
    return static_cast<int32_t>(n);
}

int32_t dequeue_parts(zubRingBuffer_t &ring, zubScatterGatherEntry_t *parts, int32_t *partCount,
                      uint32_t maxLength)
{
    const uint32_t n = std::min(used_bytes(ring), maxLength);
    if (n == 0) {
        return 0;
    }
    const Split s = split(ring.readPos, n, ring.capacity);
    parts[0].data = ring.data + ring.readPos;
    parts[0].lengthAndKind = ZUB_SG_WORD(ZUB_SG_KIND_DATA, s.first);
    int32_t count = 1;
    if (s.second != 0) {
        parts[1].data = ring.data;
        parts[1].lengthAndKind = ZUB_SG_WORD(ZUB_SG_KIND_DATA, s.second);
        count = 2;
    }
    *partCount = count;
    ring.readPos = s.next;
    ring.available += n;
    if (ring.available == ring.capacity) {
        // Empty: start over at the front, so the next hand-out is one piece
        // for as long as possible.
        ring.readPos = 0;
        ring.writePos = 0;
    }
    return static_cast<int32_t>(n);
}

// Puts the `used` buffered bytes, oldest first, at the start of `target`.
void move_contents(zubRingBuffer_t &ring, uint8_t *target, uint32_t used)
{
    uint8_t *old = ring.data;
    const Split s = split(ring.readPos, used, ring.capacity);
    if (!ranges_overlap(target, used, old + ring.readPos, s.first) &&
        !ranges_overlap(target, used, old, s.second)) {
        std::memcpy(target, old + ring.readPos, s.first);
        if (s.second != 0) {
            std::memcpy(target + s.first, old, s.second);
        }
        return;
    }
    // The new area takes in bytes still to be read (the same area, or one
    // grown or shrunk in place). Wrapped contents are first rotated into
    // order inside the old area; then one memmove, which copes with overlap.
    uint32_t from = ring.readPos;
    if (s.second != 0) {
        std::rotate(old, old + ring.readPos, old + ring.capacity);
        from = 0;
    }
    std::memmove(target, old + from, used);
}

int32_t set_memory(zubRingBuffer_t &ring, uint8_t *memory, uint32_t size)
{
    const bool attach = memory != nullptr && size >= 8;
    const uint32_t capacity = attach ? (size & ~7u) : 0;
    uint8_t *area = attach ? memory : nullptr;
    const uint32_t used = used_bytes(ring);
    if (used > capacity) {
        return ZUB_ENOSPC;
    }
    if (used != 0) {
        move_contents(ring, area, used);
    }
    ring.data = area;
    ring.capacity = capacity;
    ring.available = capacity - used;
    ring.writePos = used;
    ring.readPos = 0;
    return 0;
}

} // namespace

extern "C" {

int32_t zubRingBufferInit(zubRingBuffer_t *ring, void *memory, uint32_t size)
{
    if (ring == nullptr || memory == nullptr || size <= 8) {
        return ZUB_EINVAL;
    }
    ring->writePos = 0;
    ring->readPos = 0;
    ring->capacity = size & ~7u;
    ring->available = ring->capacity;
    ring->data = static_cast<uint8_t *>(memory);
    return 0;
}

void zubRingBufferRelease(zubRingBuffer_t *ring)
{
    (void)ring;
}

uint32_t zubRingBufferGetUsedBytes(const zubRingBuffer_t *ring)
{
    return ring == nullptr ? 0 : used_bytes(*ring);
}

uint32_t zubRingBufferGetAvailableBytes(const zubRingBuffer_t *ring)
{
    return ring == nullptr ? 0 : ring->available;
}

// The fast paths read every field once, into locals: the copies may not
// alias the record, but the compiler cannot know that. A one-piece
// transfer (length below the bytes to the end of the area) is the first
// case of split, so it leaves the position inside the area.
int32_t zubRingBufferEnqueue(zubRingBuffer_t *ring, const void *source, uint32_t length)
{
    if (ring == nullptr || source == nullptr) {
        return ZUB_EINVAL;
    }
    if (length == 0) {
        return 0;
    }
    const uint32_t available = load_field(ring->available);
    const uint32_t pos = load_field(ring->writePos);
    const uint32_t toEnd = ring->capacity - pos;
    if (length <= kInlineCopy && length <= available && length < toEnd) {
        zub::detail::copy_short(ring->data + pos, static_cast<const uint8_t *>(source), length);
        ring->writePos = pos + length;
        ring->available = available - length;
        return static_cast<int32_t>(length);
    }
    return enqueue(*ring, static_cast<const uint8_t *>(source), length);
}

int32_t zubRingBufferDequeue(zubRingBuffer_t *ring, void *destination, uint32_t length)
{
    if (ring == nullptr) {
        return ZUB_EINVAL;
    }
    const uint32_t capacity = ring->capacity;
    const uint32_t available = load_field(ring->available);
    const uint32_t pos = load_field(ring->readPos);
    const uint32_t n = std::min(capacity - available, length);
    if (n - 1 < kInlineCopy && n < capacity - pos && destination != nullptr) {
        zub::detail::copy_short(static_cast<uint8_t *>(destination), ring->data + pos, n);
        ring->readPos = pos + n;
        ring->available = available + n;
        return static_cast<int32_t>(n);
    }
    return dequeue(*ring, static_cast<uint8_t *>(destination), length);
}

int32_t zubRingBufferDequeueAllParts(zubRingBuffer_t *ring, zubScatterGatherEntry_t *parts,
                                     int32_t *partCount, uint32_t maxLength)
{
    if (ring == nullptr || parts == nullptr || partCount == nullptr) {
        return ZUB_EINVAL;
    }
    return dequeue_parts(*ring, parts, partCount, maxLength);
}

int32_t zubRingBufferSetMemory(zubRingBuffer_t *ring, void *memory, uint32_t size)
{
    if (ring == nullptr) {
        return ZUB_EINVAL;
    }
    return set_memory(*ring, static_cast<uint8_t *>(memory), size);
}

} // extern "C"
