// Short copies shared by the byte queues and the serialization walkers.
//
// Most transfers are a few bytes long (a string, a record), where a call
// into the C library's memcpy costs as much as the copy itself. A copy of
// up to kInlineCopy bytes goes inline as two runs of fixed size from both
// ends, which overlap as needed (the same bytes written twice); source and
// destination never overlap, so the order of the loads and stores does not
// matter. A copy of a constant size becomes plain loads and stores.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zub::detail {

constexpr uint32_t kInlineCopy = 64;

template <uint32_t Size> inline void copy_ends(uint8_t *dst, const uint8_t *src, uint32_t n)
{
    std::memcpy(dst, src, Size);
    std::memcpy(dst + n - Size, src + n - Size, Size);
}

#if defined(__arm__)
// 32 bytes at word-aligned addresses: on 32-bit ARM a load or store of
// several words (four instructions for 32 bytes rather than sixteen)
// needs word alignment, which the compiler is told here.
inline void copy_aligned32(uint8_t *dst, const uint8_t *src)
{
    std::memcpy(__builtin_assume_aligned(dst, 4), __builtin_assume_aligned(src, 4), 32);
}
#endif

// 1 <= n <= Max (at most kInlineCopy); a smaller Max drops the longer runs.
template <uint32_t Max = kInlineCopy>
inline void copy_short(uint8_t *dst, const uint8_t *src, uint32_t n)
{
#if defined(__arm__)
    if (Max >= 32 && n >= 32 &&
        ((reinterpret_cast<uintptr_t>(dst) | reinterpret_cast<uintptr_t>(src) | n) & 3) == 0) {
        copy_aligned32(dst, src);
        copy_aligned32(dst + n - 32, src + n - 32);
        return;
    }
#endif
    if (Max >= 32 && n >= 32) {
        copy_ends<32>(dst, src, n);
    } else if (Max >= 16 && n >= 16) {
        copy_ends<16>(dst, src, n);
    } else if (n >= 8) {
        copy_ends<8>(dst, src, n);
    } else if (n >= 4) {
        copy_ends<4>(dst, src, n);
    } else {
        dst[0] = src[0];
        dst[n / 2] = src[n / 2];
        dst[n - 1] = src[n - 1];
    }
}

// Any n, 0 included: up to 15 bytes inline (a string of a message, most
// often), else through memcpy, so that the walkers' many call sites stay
// small.
inline void copy_bytes(uint8_t *dst, const uint8_t *src, size_t n)
{
    if (n - 1 < 15) {
        copy_short<15>(dst, src, static_cast<uint32_t>(n));
    } else if (n != 0) {
        std::memcpy(dst, src, n);
    }
}

} // namespace zub::detail
