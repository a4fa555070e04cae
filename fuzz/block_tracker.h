// Which heap blocks a library call allocated and freed, seen from outside.
//
// The walkers allocate with calloc/malloc (the default allocator) and the
// release frees with free, so the targets cannot hand them a recording
// allocator record. Instead every malloc, calloc, realloc and free in the
// process is observed, and those made while a BlockLog is active (set with
// a Recording around each library call) are noted in that log:
//   - under AddressSanitizer through its allocation hooks;
//   - without it (the 32-bit replay programs) by defining malloc, calloc,
//     realloc and free here, on top of the C library's own entry points.
// A log then says which blocks the walk made, in order, which of them are
// still live, and how many frees hit a pointer that was not a live block of
// the log (a double free or a foreign pointer). Leftover blocks are freed
// by the target, so no probing of the allocator's ownership is needed.
//
// Include this header from exactly one source file of a program: it defines
// the hooks (and, without AddressSanitizer, the allocation functions).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZUBFUZZ_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(ZUBFUZZ_ASAN)
#define ZUBFUZZ_ASAN 1
#endif

#ifdef ZUBFUZZ_ASAN
#include <sanitizer/allocator_interface.h>
#endif

namespace zubfuzz {

class BlockLog {
public:
    struct Block {
        void *pointer;
        size_t size;
        bool live;
    };
    // More blocks than one input can make (each needs stream bytes or a
    // count of its own); past it the log only counts (overflowed()).
    static constexpr size_t kCapacity = 1u << 13;

    void clear()
    {
        count_ = 0;
        live_ = 0;
        foreign_ = 0;
        overflowed_ = false;
        for (auto &slot : index_) {
            slot = kEmpty;
        }
    }
    size_t count() const { return count_; }
    const Block &block(size_t i) const { return blocks_[i]; }
    size_t live() const { return live_; }
    size_t foreign() const { return foreign_; }
    bool overflowed() const { return overflowed_; }

    void allocated(void *pointer, size_t size)
    {
        if (count_ == kCapacity) {
            overflowed_ = true;
            return;
        }
        blocks_[count_] = {pointer, size, true};
        index_[find(pointer)] = static_cast<uint32_t>(count_);
        ++count_;
        ++live_;
    }
    // False for a pointer that is not a live block of this log.
    bool freed(void *pointer)
    {
        const uint32_t at = index_[find(pointer)];
        if (at == kEmpty || !blocks_[at].live) {
            foreign_ += pointer != nullptr && !overflowed_;
            return pointer == nullptr || overflowed_;
        }
        blocks_[at].live = false;
        --live_;
        return true;
    }
    // Frees what is still live, as the owner of a walk abandoned half way
    // would with a block log of its own.
    void freeLeftovers()
    {
        for (size_t i = 0; i < count_; ++i) {
            if (blocks_[i].live) {
                blocks_[i].live = false;
                std::free(blocks_[i].pointer);
            }
        }
        live_ = 0;
    }

private:
    static constexpr uint32_t kEmpty = 0xFFFFFFFFu;
    static constexpr size_t kSlots = 2 * kCapacity; // open addressing, never more than half full

    // The slot of `pointer`, or the empty slot where it would go.
    size_t find(void *pointer) const
    {
        size_t slot = (reinterpret_cast<uintptr_t>(pointer) >> 4) * 2654435761u % kSlots;
        while (index_[slot] != kEmpty && blocks_[index_[slot]].pointer != pointer) {
            slot = (slot + 1) % kSlots;
        }
        return slot;
    }

    Block blocks_[kCapacity];
    uint32_t index_[kSlots];
    size_t count_ = 0;
    size_t live_ = 0;
    size_t foreign_ = 0;
    bool overflowed_ = false;
};

// The log that allocations and frees go to now, or null.
inline BlockLog *activeLog = nullptr;

// Notes the allocations and frees of its lifetime in `log`.
class Recording {
public:
    explicit Recording(BlockLog &log) { activeLog = &log; }
    ~Recording() { activeLog = nullptr; }
    Recording(const Recording &) = delete;
    Recording &operator=(const Recording &) = delete;
};

// Called for every allocation and free of the process.
inline void noteAllocation(void *pointer, size_t size)
{
    if (activeLog != nullptr && pointer != nullptr) {
        activeLog->allocated(pointer, size);
    }
}
// False when the free must not go ahead (a pointer the log does not know).
inline bool noteFree(void *pointer)
{
    return activeLog == nullptr || activeLog->freed(pointer);
}

} // namespace zubfuzz

// A stream decides how much the default allocator is asked for (a 32-bit
// count times an element size): a request above 32 MiB fails with a null
// pointer, as a full heap would, instead of ending the run or spending it
// on one huge block. The same limit holds with and without the sanitizer;
// libFuzzer itself takes a 20 MiB block at its start.
namespace zubfuzz {
constexpr size_t kLargestBlock = size_t{32} << 20;
}

#ifdef ZUBFUZZ_ASAN

namespace zubfuzz::detail {
// The hooks see every block; a bad free is then reported by the sanitizer
// itself, the log counts it as well.
inline void mallocHook(const volatile void *pointer, size_t size)
{
    noteAllocation(const_cast<void *>(pointer), size);
}
inline void freeHook(const volatile void *pointer)
{
    (void)noteFree(const_cast<void *>(pointer));
}
inline const int hooksInstalled = __sanitizer_install_malloc_and_free_hooks(&mallocHook, &freeHook);
} // namespace zubfuzz::detail

extern "C" const char *__asan_default_options()
{
    static_assert(zubfuzz::kLargestBlock == size_t{32} << 20, "max_allocation_size_mb below");
    return "allocator_may_return_null=1:max_allocation_size_mb=32";
}

#else

// The C library's own entry points, under the names it exports them by.
extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void *__libc_realloc(void *, size_t);
extern "C" void __libc_free(void *);

extern "C" void *malloc(size_t size)
{
    void *block = size > zubfuzz::kLargestBlock ? nullptr : __libc_malloc(size);
    zubfuzz::noteAllocation(block, size);
    return block;
}
extern "C" void *calloc(size_t count, size_t size)
{
    const bool fits = size == 0 || count <= zubfuzz::kLargestBlock / size;
    void *block = fits ? __libc_calloc(count, size) : nullptr;
    zubfuzz::noteAllocation(block, count * size);
    return block;
}
extern "C" void *realloc(void *old, size_t size)
{
    if (size > zubfuzz::kLargestBlock || (old != nullptr && !zubfuzz::noteFree(old))) {
        return nullptr;
    }
    void *block = __libc_realloc(old, size);
    zubfuzz::noteAllocation(block, size);
    return block;
}
// A free the log refuses is counted and not passed on, so the target can
// report it instead of the C library aborting.
extern "C" void free(void *block)
{
    if (zubfuzz::noteFree(block)) {
        __libc_free(block);
    }
}

#endif
