// Allocator record calls shared by every family that allocates.
//
// Sizes are computed in 64 bits: on armhf size_t has 32 bits, and a byte
// count that does not fit is a failed allocation, never a wrapped small
// block.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <limits>

#include "zub/types.h"

namespace zub::detail {

// Null and the all-ones pointer value both stand for malloc/free.
inline bool is_default_allocator(const zubAllocator_t *allocator)
{
    return allocator == nullptr || allocator == ZUB_ALLOCATOR_DEFAULT;
}

inline bool fits_size_t(uint64_t bytes)
{
    return bytes <= static_cast<uint64_t>(std::numeric_limits<size_t>::max());
}

// count * size in 64 bits; false when the product overflows 64 bits or
// does not fit the platform's size_t.
inline bool checked_size(uint64_t count, uint64_t size, uint64_t *bytes)
{
    if (size != 0 && count > std::numeric_limits<uint64_t>::max() / size) {
        return false;
    }
    *bytes = count * size;
    return fits_size_t(*bytes);
}

// Allocates through the record (context, bytes, 0) or malloc. A byte count
// that does not fit size_t fails without calling anything.
inline void *allocate(const zubAllocator_t *allocator, uint64_t bytes)
{
    if (!fits_size_t(bytes)) {
        return nullptr;
    }
    if (is_default_allocator(allocator)) {
        return std::malloc(static_cast<size_t>(bytes));
    }
    return allocator->alloc(allocator->context, static_cast<size_t>(bytes), 0);
}

inline void release(const zubAllocator_t *allocator, void *block)
{
    if (is_default_allocator(allocator)) {
        std::free(block);
    } else {
        allocator->release(allocator->context, block);
    }
}

} // namespace zub::detail
