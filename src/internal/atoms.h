// Moving bytes between host memory and a byte stream: the short copy of the
// ring buffer and the codecs, and the atom swaps of the codecs.
//
// The short copies stay inline: most copies are a few bytes long, where a
// call (into the C library or out of line here) costs more than the copy.
// At -Os the compiler weighs each inlining itself, and the atom swaps go
// byte by byte.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "internal/bytes.h"

#if defined(__OPTIMIZE_SIZE__)
#define ZUB_COPY_INLINE inline
#else
#define ZUB_COPY_INLINE [[gnu::always_inline]] inline
#endif

namespace zub::detail {

// The longest copy made by fixed-size loads and stores.
constexpr uint32_t kShortCopy = 64;

template <uint32_t Size>
ZUB_COPY_INLINE void copy_ends(uint8_t *dst, const uint8_t *src, uint32_t n)
{
    std::memcpy(dst, src, Size);
    std::memcpy(dst + n - Size, src + n - Size, Size);
}

// 1 <= n <= 3.
ZUB_COPY_INLINE void copy_tiny(uint8_t *dst, const uint8_t *src, uint32_t n)
{
    dst[0] = src[0];
    dst[n / 2] = src[n / 2];
    dst[n - 1] = src[n - 1];
}

// 1 <= n <= kShortCopy bytes, the longest tested first (the ring buffer's
// transfers), as two runs of fixed size from both ends, which overlap as
// needed (the same bytes written twice); source and destination never
// overlap, so the order of the loads and stores does not matter. A copy of
// a constant size becomes plain loads and stores. Plain inline: the ring
// buffer's fast paths are small enough that the compiler always takes it.
inline void copy_short(uint8_t *dst, const uint8_t *src, uint32_t n)
{
#if defined(__arm__)
    // 32 bytes at word-aligned addresses: on 32-bit ARM a load or store of
    // several words (four instructions for 32 bytes rather than sixteen)
    // needs word alignment, which the compiler is told here.
    if (n >= 32 &&
        ((reinterpret_cast<uintptr_t>(dst) | reinterpret_cast<uintptr_t>(src) | n) & 3) == 0) {
        std::memcpy(__builtin_assume_aligned(dst, 4), __builtin_assume_aligned(src, 4), 32);
        std::memcpy(__builtin_assume_aligned(dst + n - 32, 4),
                    __builtin_assume_aligned(src + n - 32, 4), 32);
        return;
    }
#endif
    if (n >= 32) {
        copy_ends<32>(dst, src, n);
    } else if (n >= 16) {
        copy_ends<16>(dst, src, n);
    } else if (n >= 8) {
        copy_ends<8>(dst, src, n);
    } else if (n >= 4) {
        copy_ends<4>(dst, src, n);
    } else {
        copy_tiny(dst, src, n);
    }
}

// Any n bytes, short ones inline, the shortest tested first (most strings
// of a message are a few bytes long); none read or written for n = 0.
ZUB_COPY_INLINE void copy_bytes(uint8_t *dst, const uint8_t *src, uint32_t n)
{
    if (n <= 16) {
        if (n >= 8) {
            copy_ends<8>(dst, src, n);
        } else if (n >= 4) {
            copy_ends<4>(dst, src, n);
        } else if (n != 0) {
            copy_tiny(dst, src, n);
        }
    } else if (n <= 32) {
        copy_ends<16>(dst, src, n);
    } else [[unlikely]] {
        std::memcpy(dst, src, n);
    }
}

// Eight bytes of 2- or 4-byte atoms, each atom's bytes reversed in place.
template <typename T> ZUB_COPY_INLINE uint64_t swap_lanes(uint64_t v)
{
    if constexpr (sizeof(T) == 4) {
        const uint64_t r = bswap(v); // atoms reversed and in swapped order
        return (r >> 32) | (r << 32);
    } else {
        constexpr uint64_t low = 0x00FF00FF00FF00FFull;
        return ((v & low) << 8) | ((v >> 8) & low);
    }
}

// The two sides of a move; the side read from is const.
template <bool ToStream> using MemberBytes = std::conditional_t<ToStream, const uint8_t, uint8_t>;
template <bool ToStream> using StreamBytes = std::conditional_t<ToStream, uint8_t, const uint8_t>;

// Atom data between a member and the stream: byte j of a member of T-sized
// atoms travels as stream byte j ^ (sizeof(T) - 1), so each atom goes most
// significant byte first. n bytes from member byte d on; ToStream writes
// stream[i] from member[(d + i) ^ mask], else member[(d + i) ^ mask] from
// stream[i]. Whole atoms in the middle go as word swaps; the member and the
// stream never overlap.

template <typename T, bool ToStream>
inline void swap_atoms(MemberBytes<ToStream> *__restrict member, uint32_t d,
                       StreamBytes<ToStream> *__restrict stream, uint32_t n)
{
    constexpr uint32_t mask = sizeof(T) - 1u;
    auto edge = [&](uint32_t i) {
        if constexpr (ToStream) {
            stream[i] = member[(d + i) ^ mask];
        } else {
            member[(d + i) ^ mask] = stream[i];
        }
    };
    uint8_t *to;
    const uint8_t *from;
    if constexpr (ToStream) {
        to = stream;
        from = member + d;
    } else {
        to = member + d;
        from = stream;
    }
    uint32_t i = 0;
    for (; i < n && ((d + i) & mask) != 0; ++i) {
        edge(i);
    }
    if constexpr (sizeof(T) < 8) {
        // Whole 64-bit words of smaller atoms: one load, swap and store
        // each, four to a round.
        auto words = [&](uint32_t count) {
            for (uint32_t k = 0; k < count; ++k) {
                store<uint64_t>(to + i + 8u * k, swap_lanes<T>(load<uint64_t>(from + i + 8u * k)));
            }
        };
        for (; n - i >= 32u; i += 32u) {
            words(4);
        }
        if (n - i >= 16u) {
            words(2);
            i += 16u;
        }
        if (n - i >= 8u) {
            words(1);
            i += 8u;
        }
    }
    for (; n - i >= sizeof(T); i += sizeof(T)) {
        store<T>(to + i, bswap(load<T>(from + i)));
    }
    for (; i < n; ++i) {
        edge(i);
    }
}

// The same for atoms of 2, 4 or 8 bytes: one copy of the loops per
// direction, out of line, as they run long enough to pay for the call.
template <bool ToStream>
[[gnu::noinline]] void swap_any_atoms(MemberBytes<ToStream> *member, uint32_t d,
                                      StreamBytes<ToStream> *stream, uint32_t n, uint32_t atom)
{
#if defined(__OPTIMIZE_SIZE__)
    const uint32_t mask = atom - 1u;
    for (uint32_t i = 0; i < n; ++i) {
        if constexpr (ToStream) {
            stream[i] = member[(d + i) ^ mask];
        } else {
            member[(d + i) ^ mask] = stream[i];
        }
    }
#else
    if (atom == 4) {
        swap_atoms<uint32_t, ToStream>(member, d, stream, n);
    } else if (atom == 2) {
        swap_atoms<uint16_t, ToStream>(member, d, stream, n);
    } else {
        swap_atoms<uint64_t, ToStream>(member, d, stream, n);
    }
#endif
}

} // namespace zub::detail
