// Ring-buffer vector.
//
// Design: position p lives in slot (head + p) mod alloced. Every operation
// first reduces head below alloced (head may lie past a buffer that shrank
// or regrew while the vector was empty), after which a slot is one add and
// one conditional subtract: both operands are below alloced, and alloced
// never exceeds INT32_MAX, so the sum cannot wrap.
//
// An insert shifts the shorter side of the sequence by one slot. Within the
// ring a run of positions covers at most two contiguous pieces of the
// buffer, so a shift is a few memmoves (the piece boundary at slot 0 moves
// one element across the wrap) rather than one copy per element; the bytes
// left in the buffer are exactly those of the element-by-element shift.
#include "zub/vector.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

#include "internal/alloc.h"
#include "internal/bytes.h"

namespace {

constexpr uint8_t kRemovedFill = 0x77; // 'w': marks a vacated slot
constexpr uint64_t kMaxBufferBytes = std::numeric_limits<uint32_t>::max();
constexpr int64_t kMaxSlots = std::numeric_limits<int32_t>::max();

// Elements of up to kSmall bytes are copied with pairs of (possibly
// overlapping) loads and stores of the largest width that fits, so that
// the queue's hot paths make no library call and need no stack frame.
// Loads come before stores: a pair never reads what it wrote. The two
// commonest sizes, 4 and 8 bytes, are one load and one store: a pair that
// writes one word twice delays the next read of that word.
constexpr uint32_t kSmall = 32;

template <typename T> inline void copy_pair(uint8_t *dst, const uint8_t *src, uint32_t size)
{
    const T first = zub::detail::load<T>(src);
    const T last = zub::detail::load<T>(src + size - sizeof(T));
    zub::detail::store<T>(dst, first);
    zub::detail::store<T>(dst + size - sizeof(T), last);
}

// size <= kSmall.
inline void copy_small(void *dst, const void *src, uint32_t size)
{
    auto *d = static_cast<uint8_t *>(dst);
    const auto *s = static_cast<const uint8_t *>(src);
    switch (size) {
    case 4: zub::detail::store<uint32_t>(d, zub::detail::load<uint32_t>(s)); return;
    case 8: zub::detail::store<uint64_t>(d, zub::detail::load<uint64_t>(s)); return;
    default: break;
    }
    if (size > 16) {
        // First 16 and last 16 bytes.
        const uint64_t w0 = zub::detail::load<uint64_t>(s);
        const uint64_t w1 = zub::detail::load<uint64_t>(s + 8);
        const uint64_t w2 = zub::detail::load<uint64_t>(s + size - 16);
        const uint64_t w3 = zub::detail::load<uint64_t>(s + size - 8);
        zub::detail::store<uint64_t>(d, w0);
        zub::detail::store<uint64_t>(d + 8, w1);
        zub::detail::store<uint64_t>(d + size - 16, w2);
        zub::detail::store<uint64_t>(d + size - 8, w3);
    } else if (size >= 8) {
        copy_pair<uint64_t>(d, s, size);
    } else if (size >= 4) {
        copy_pair<uint32_t>(d, s, size);
    } else if (size >= 2) {
        copy_pair<uint16_t>(d, s, size);
    } else if (size == 1) {
        *d = *s;
    }
}

// size <= kSmall.
inline void fill_small(void *dst, uint8_t byte, uint32_t size)
{
    auto *d = static_cast<uint8_t *>(dst);
    switch (size) {
    case 4: zub::detail::store<uint32_t>(d, 0x01010101u * byte); return;
    case 8: zub::detail::store<uint64_t>(d, 0x0101010101010101ull * byte); return;
    default: break;
    }
    if (size >= 8) {
        const uint64_t pattern = 0x0101010101010101ull * byte;
        zub::detail::store<uint64_t>(d, pattern);
        zub::detail::store<uint64_t>(d + size - 8, pattern);
        if (size > 16) {
            zub::detail::store<uint64_t>(d + 8, pattern);
            zub::detail::store<uint64_t>(d + size - 16, pattern);
        }
    } else if (size >= 4) {
        const uint32_t pattern = 0x01010101u * byte;
        zub::detail::store<uint32_t>(d, pattern);
        zub::detail::store<uint32_t>(d + size - 4, pattern);
    } else if (size > 0) {
        d[0] = byte;
        d[size - 1] = byte;
        d[size / 2] = byte;
    }
}

inline void copy_element(void *dst, const void *src, uint32_t size)
{
    if (size > kSmall) {
        std::memcpy(dst, src, size);
    } else {
        copy_small(dst, src, size);
    }
}

// The fast paths' copies of the commonest sizes, in words of at most 8
// bytes (no library call, few registers).
template <uint32_t Size> inline void copy_fixed(void *dst, const void *src)
{
    auto *d = static_cast<uint8_t *>(dst);
    const auto *s = static_cast<const uint8_t *>(src);
    if constexpr (Size == 4) {
        zub::detail::store<uint32_t>(d, zub::detail::load<uint32_t>(s));
    } else {
        for (uint32_t i = 0; i < Size; i += 8) {
            zub::detail::store<uint64_t>(d + i, zub::detail::load<uint64_t>(s + i));
        }
    }
}

// Takes the element out of a vacated slot (when element is not null) and
// fills the slot.
template <uint32_t Size> inline void take_fixed(uint8_t *slot, void *element)
{
    if (element != nullptr) {
        copy_fixed<Size>(element, slot);
    }
    if constexpr (Size == 4) {
        zub::detail::store<uint32_t>(slot, 0x01010101u * kRemovedFill);
    } else {
        for (uint32_t i = 0; i < Size; i += 8) {
            zub::detail::store<uint64_t>(slot + i, 0x0101010101010101ull * kRemovedFill);
        }
    }
}

// The fast paths' steps, n and h being the record's count and head (below
// alloced, a).
template <uint32_t Size>
inline int32_t append_fixed(zubVector_t &v, uint32_t n, uint8_t *slot, const void *element)
{
    v.count = static_cast<int32_t>(n + 1);
    copy_fixed<Size>(slot, element);
    return 0;
}

inline void advance_front(zubVector_t &v, uint32_t n, uint32_t h, uint32_t a)
{
    v.count = static_cast<int32_t>(n - 1);
    if (n != 1) {
        v.head = h + 1 == a ? 0 : h + 1;
    }
}

template <uint32_t Size> inline int32_t take_front(zubVector_t &v, uint32_t n, uint32_t h,
                                                   uint32_t a, uint8_t *slot, void *element)
{
    advance_front(v, n, h, a);
    take_fixed<Size>(slot, element);
    return 0;
}

// The other small sizes of the fast paths; they return the fast paths'
// result so that the calls are tail calls.
[[gnu::noinline]] int32_t put_small(uint8_t *slot, const void *element, uint32_t size)
{
    copy_small(slot, element, size);
    return 0;
}

[[gnu::noinline]] int32_t take_small(uint8_t *slot, void *element, uint32_t size)
{
    if (element != nullptr) {
        copy_small(element, slot, size);
    }
    fill_small(slot, kRemovedFill, size);
    return 0;
}

inline uint32_t wrap(uint32_t slot, uint32_t alloced)
{
    return slot >= alloced ? slot - alloced : slot;
}

// head reduced below alloced; alloced must not be 0.
inline uint32_t first_slot(const zubVector_t &v)
{
    return v.head < v.alloced ? v.head : v.head % v.alloced;
}

inline uint8_t *slot_ptr(const zubVector_t &v, uint32_t slot)
{
    return static_cast<uint8_t *>(v.data) + static_cast<size_t>(slot) * v.elementSize;
}

inline size_t span_bytes(const zubVector_t &v, uint32_t slots)
{
    return static_cast<size_t>(slots) * v.elementSize;
}

// Moves positions [0, end) of the ring starting at slot h one slot back.
void shift_back(const zubVector_t &v, uint32_t h, uint32_t end)
{
    const uint32_t a = v.alloced;
    uint32_t j = 0;
    while (j < end) {
        const uint32_t s = wrap(h + j, a);
        if (s == 0) {
            copy_element(slot_ptr(v, a - 1), slot_ptr(v, 0), v.elementSize);
            j++;
            continue;
        }
        const uint32_t run = std::min(end - j, a - s);
        std::memmove(slot_ptr(v, s - 1), slot_ptr(v, s), span_bytes(v, run));
        j += run;
    }
}

// Moves positions [begin, end) of the ring starting at slot h one slot
// forward, the highest first.
void shift_forward(const zubVector_t &v, uint32_t h, uint32_t begin, uint32_t end)
{
    const uint32_t a = v.alloced;
    uint32_t j = end;
    while (j > begin) {
        const uint32_t s = wrap(h + j - 1, a);
        if (s == a - 1) {
            copy_element(slot_ptr(v, 0), slot_ptr(v, a - 1), v.elementSize);
            j--;
            continue;
        }
        const uint32_t run = std::min(j - begin, s + 1);
        std::memmove(slot_ptr(v, s - run + 2), slot_ptr(v, s - run + 1), span_bytes(v, run));
        j -= run;
    }
}

void *allocate_slots(const zubVector_t &v, uint32_t slots)
{
    const uint64_t bytes = static_cast<uint64_t>(slots) * v.elementSize;
    if (bytes > kMaxBufferBytes) {
        return nullptr;
    }
    return zub::detail::allocate(v.allocator, bytes);
}

int32_t release_data(zubVector_t &v)
{
    if (v.data == nullptr) {
        return 0;
    }
    zub::detail::release(v.allocator, v.data);
    v.data = nullptr;
    v.alloced = 0;
    v.count = 0;
    return 0;
}

int32_t set_alloced(zubVector_t &v, int32_t wanted)
{
    if (v.data == nullptr) {
        if (wanted <= 0) {
            return 0;
        }
    } else if (wanted < 0) {
        if (v.count == 0) {
            return release_data(v);
        }
        wanted = v.count;
    }
    const uint32_t target = static_cast<uint32_t>(std::max(wanted, v.count));
    if (v.alloced == target) {
        return static_cast<int32_t>(target);
    }
    auto *block = static_cast<uint8_t *>(allocate_slots(v, target));
    if (block == nullptr) {
        return ZUB_ENOMEM;
    }
    if (v.data != nullptr && v.count > 0) {
        // Unwrap: the sequence starts at slot 0 of the new buffer.
        const uint32_t n = static_cast<uint32_t>(v.count);
        const uint32_t h = first_slot(v);
        const uint32_t first = std::min(n, v.alloced - h);
        std::memcpy(block, slot_ptr(v, h), span_bytes(v, first));
        std::memcpy(block + span_bytes(v, first), v.data, span_bytes(v, n - first));
        v.head = 0;
    }
    zub::detail::release(v.allocator, v.data);
    v.alloced = target;
    v.data = block;
    return static_cast<int32_t>(target);
}

// Growth and shifts, out of line: the exported functions keep their small
// element paths free of calls, so they need no stack frame.
[[gnu::noinline]] int32_t insert(zubVector_t &v, int32_t position, const void *element)
{
    if (position < -1 || position > v.count) {
        return ZUB_EINVAL;
    }
    if (static_cast<uint32_t>(v.count) >= v.alloced) {
        const int64_t grown = 3 * static_cast<int64_t>(v.count) / 2 + 10;
        if (grown > kMaxSlots || set_alloced(v, static_cast<int32_t>(grown)) < 0) {
            return ZUB_ENOMEM;
        }
    }
    const uint32_t n = static_cast<uint32_t>(v.count);
    const uint32_t a = v.alloced;
    const uint32_t h = first_slot(v);
    v.count = static_cast<int32_t>(n + 1);
    if (position == -1) {
        copy_element(slot_ptr(v, wrap(h + n, a)), element, v.elementSize);
        return 0;
    }
    const uint32_t p = static_cast<uint32_t>(position);
    if (p < n / 2) {
        shift_back(v, h, p);
        const uint32_t head = wrap(h + a - 1, a);
        v.head = head;
        copy_element(slot_ptr(v, wrap(head + p, a)), element, v.elementSize);
    } else {
        shift_forward(v, h, p, n);
        copy_element(slot_ptr(v, wrap(h + p, a)), element, v.elementSize);
    }
    return 0;
}

template <bool Small> inline int32_t remove_first(zubVector_t &v, void *element, int32_t position)
{
    if (v.count == 0) {
        return ZUB_ENOENT;
    }
    if (position != -1) {
        return ZUB_EINVAL;
    }
    // Fields in locals: the element copy may not alias them, but the
    // compiler cannot know that.
    const uint32_t es = v.elementSize;
    const uint32_t a = v.alloced;
    const uint32_t h = first_slot(v);
    const int32_t left = v.count - 1;
    uint8_t *slot = slot_ptr(v, h);
    v.count = left;
    if constexpr (Small) {
        if (element != nullptr) {
            copy_small(element, slot, es);
        }
        fill_small(slot, kRemovedFill, es);
    } else {
        if (element != nullptr) {
            std::memcpy(element, slot, es);
        }
        std::memset(slot, kRemovedFill, es);
    }
    if (left != 0) {
        v.head = wrap(h + 1, a);
    }
    return 0;
}

// Every removal the exported fast path does not take: failures, a head
// past a shrunken buffer, large elements.
[[gnu::noinline]] int32_t remove_slow(zubVector_t &v, void *element, int32_t position)
{
    if (v.elementSize <= kSmall) {
        return remove_first<true>(v, element, position);
    }
    return remove_first<false>(v, element, position);
}

int32_t clear(zubVector_t &v)
{
    if (v.count == 0) {
        return 0;
    }
    const uint32_t n = static_cast<uint32_t>(v.count);
    const uint32_t h = first_slot(v);
    const uint32_t first = std::min(n, v.alloced - h);
    std::memset(slot_ptr(v, h), 0, span_bytes(v, first));
    std::memset(v.data, 0, span_bytes(v, n - first));
    v.count = 0;
    return 0;
}

} // namespace

extern "C" {

int32_t zubVectorInitialize(zubVector_t *vector, const zubVectorParams_t *params,
                            int32_t initialCount)
{
    std::memset(vector, 0, sizeof *vector);
    vector->allocator = params->allocator;
    vector->elementSize = params->elementSize;
    vector->extra0 = params->extra0;
    vector->extra1 = params->extra1;
    if (initialCount < 0) {
        return 0;
    }
    void *block = allocate_slots(*vector, static_cast<uint32_t>(initialCount));
    if (block == nullptr) {
        return ZUB_ENOMEM;
    }
    vector->data = block;
    vector->alloced = static_cast<uint32_t>(initialCount);
    return 0;
}

// The queue's hot paths: append into a free slot and removal from the
// front of a small element, with head already below alloced. Every field is
// read once up front, and every other case (failures, growth, a head to be
// reduced, large elements) goes to the general code, which gives the same
// results for these cases too. One branch per condition, the position first
// (it needs no load). The commonest sizes (4, 8, 16 and 32 bytes) are
// copied inline with the slot's offset a constant multiple (a shift), and
// need no test of the size limit; the other small sizes go to a helper by a
// tail call, so that neither function needs a stack frame (on ARM, a few
// saved registers).
int32_t zubVectorInsert(zubVector_t *vector, int32_t position, const void *element)
{
    zubVector_t &v = *vector;
    const uint32_t n = static_cast<uint32_t>(v.count);
    const uint32_t a = v.alloced;
    const uint32_t h = v.head;
    const uint32_t es = v.elementSize;
    if (position != -1) [[unlikely]] {
        return insert(v, position, element);
    }
    if (n >= a) [[unlikely]] {
        return insert(v, position, element);
    }
    if (h >= a) [[unlikely]] {
        return insert(v, position, element);
    }
    auto *data = static_cast<uint8_t *>(v.data);
    const size_t slot = wrap(h + n, a);
    if (es == 4) {
        return append_fixed<4>(v, n, data + slot * 4, element);
    }
    if (es == 8) {
        return append_fixed<8>(v, n, data + slot * 8, element);
    }
    if (es == 16) {
        return append_fixed<16>(v, n, data + slot * 16, element);
    }
    if (es == 32) {
        return append_fixed<32>(v, n, data + slot * 32, element);
    }
    if (es > kSmall) {
        return insert(v, position, element);
    }
    v.count = static_cast<int32_t>(n + 1);
    return put_small(data + slot * es, element, es);
}

int32_t zubVectorRemove(zubVector_t *vector, void *element, int32_t position)
{
    zubVector_t &v = *vector;
    const uint32_t n = static_cast<uint32_t>(v.count);
    const uint32_t a = v.alloced;
    const uint32_t h = v.head;
    const uint32_t es = v.elementSize;
    if (position != -1) [[unlikely]] {
        return remove_slow(v, element, position);
    }
    if (n == 0) [[unlikely]] {
        return remove_slow(v, element, position);
    }
    if (h >= a) [[unlikely]] {
        return remove_slow(v, element, position);
    }
    auto *data = static_cast<uint8_t *>(v.data);
    if (es == 4) {
        return take_front<4>(v, n, h, a, data + h * 4, element);
    }
    if (es == 8) {
        return take_front<8>(v, n, h, a, data + h * 8, element);
    }
    if (es == 16) {
        return take_front<16>(v, n, h, a, data + h * 16, element);
    }
    if (es == 32) {
        return take_front<32>(v, n, h, a, data + h * 32, element);
    }
    if (es > kSmall) {
        return remove_slow(v, element, position);
    }
    advance_front(v, n, h, a);
    return take_small(data + h * es, element, es);
}

int32_t zubVectorGetAt(const zubVector_t *vector, void *element, int32_t position)
{
    if (position < 0 || position >= vector->count) {
        return ZUB_ENOENT;
    }
    const uint32_t slot =
        wrap(first_slot(*vector) + static_cast<uint32_t>(position), vector->alloced);
    copy_element(element, slot_ptr(*vector, slot), vector->elementSize);
    return 0;
}

int32_t zubVectorGetSize(const zubVector_t *vector)
{
    return vector == nullptr ? ZUB_EINVAL : vector->count;
}

int32_t zubVectorSetAlloced(zubVector_t *vector, int32_t wanted)
{
    return set_alloced(*vector, wanted);
}

int32_t zubVectorClear(zubVector_t *vector)
{
    return clear(*vector);
}

int32_t zubVectorReleaseData(zubVector_t *vector)
{
    return release_data(*vector);
}

int32_t zubVectorRelease(zubVector_t *vector)
{
    return release_data(*vector);
}

int32_t zubVectorMerge(zubVector_t * /*destination*/, const zubVector_t * /*source*/)
{
    return ZUB_ENOSYS;
}

} // extern "C"
