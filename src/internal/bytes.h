// Byte order and unaligned access in one place: every load and store of a
// multi-byte value in caller memory goes through memcpy, never a cast.
#pragma once

#include <cstdint>
#include <cstring>

namespace zub::detail {

inline uint8_t bswap(uint8_t v)
{
    return v;
}
inline uint16_t bswap(uint16_t v)
{
    return __builtin_bswap16(v);
}
inline uint32_t bswap(uint32_t v)
{
    return __builtin_bswap32(v);
}
inline uint64_t bswap(uint64_t v)
{
    return __builtin_bswap64(v);
}

template <typename T> inline T load(const void *p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T> inline void store(void *p, T v)
{
    std::memcpy(p, &v, sizeof v);
}

// Big-endian (protocol order) loads and stores; the platform is little-endian.
template <typename T> inline T load_be(const void *p)
{
    return bswap(load<T>(p));
}
template <typename T> inline void store_be(void *p, T v)
{
    store<T>(p, bswap(v));
}

inline uint16_t load_be16(const void *p)
{
    return load_be<uint16_t>(p);
}
inline uint32_t load_be32(const void *p)
{
    return load_be<uint32_t>(p);
}
inline uint64_t load_be64(const void *p)
{
    return load_be<uint64_t>(p);
}
inline void store_be16(void *p, uint16_t v)
{
    store_be<uint16_t>(p, v);
}
inline void store_be32(void *p, uint32_t v)
{
    store_be<uint32_t>(p, v);
}
inline void store_be64(void *p, uint64_t v)
{
    store_be<uint64_t>(p, v);
}

// Native pointers stored in caller memory (possibly unaligned).
inline void *load_ptr(const void *p)
{
    return load<void *>(p);
}
inline void store_ptr(void *p, const void *v)
{
    store<const void *>(p, v);
}

} // namespace zub::detail
