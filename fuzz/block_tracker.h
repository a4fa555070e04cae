// Which heap blocks a library call allocated and freed, seen from outside.
//
// The walkers allocate with calloc/malloc (the default allocator) and the
// release frees with free, so a harness cannot hand them a recording
// allocator record. Instead every malloc, calloc and free in the
// process is observed, and those made while a BlockLog is active (set with
// recorded() around each library call) are noted in that log:
//   - under AddressSanitizer through its allocation hooks;
//   - without it (the 32-bit replay programs, the plain test builds) by
//     defining malloc, calloc and free here, on top of the C
//     library's own entry points.
// A log then says which blocks the walk made, which of them are still live,
// and how many frees hit a pointer that was not a live block of the log (a
// double free or a foreign pointer). Leftover blocks are freed by the
// harness, so no probing of the allocator's ownership is needed.
//
// The definitions are exported: the library and the sanitizer runtime must
// find them. Exactly one source file of a program defines ZUBFUZZ_HOOKS before
// including this header: it gets the hooks (or the allocation functions).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#ifndef __has_feature
#define __has_feature(feature) 0 // GCC: __SANITIZE_ADDRESS__ instead
#endif
#if defined(__SANITIZE_ADDRESS__) || __has_feature(address_sanitizer)
#define ZUBFUZZ_ASAN 1
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
    // count of its own); past it the log only counts (overflowed).
    static constexpr size_t kCapacity = 1u << 13;
    Block blocks[kCapacity];
    size_t count = 0, live = 0, foreign = 0;
    bool overflowed = false;

    void clear() { count = live = foreign = 0, overflowed = false; }
    void allocated(void *pointer, size_t size)
    {
        overflowed |= count == kCapacity;
        if (!overflowed)
            blocks[count++] = {pointer, size, true}, ++live;
    }
    // False for a pointer that is not a live block of this log (the latest
    // blocks are the likeliest to go first).
    bool freed(void *pointer)
    {
        for (size_t i = count; i-- > 0;)
            if (blocks[i].live && blocks[i].pointer == pointer)
                return blocks[i].live = false, --live, true;
        foreign += pointer != nullptr && !overflowed;
        return pointer == nullptr || overflowed;
    }
    // Frees what is still live, as the owner of an abandoned walk would.
    void freeLeftovers()
    {
        for (size_t i = 0; i < count; ++i)
            if (blocks[i].live)
                std::free(blocks[i].pointer), blocks[i].live = false;
        live = 0;
    }
};

// The log that this thread's allocations and frees go to now, or null;
// other threads (libFuzzer's memory monitor) allocate meanwhile.
inline thread_local BlockLog *activeLog = nullptr;

// Runs f() with its allocations and frees noted in `log` (null: nowhere).
template <class F> auto recorded(BlockLog *log, F f)
{
    activeLog = log;
    const auto result = f();
    activeLog = nullptr;
    return result;
}

inline void noteAllocation(void *pointer, size_t size)
{
    if (activeLog != nullptr && pointer != nullptr)
        activeLog->allocated(pointer, size);
}
// False when the free must not go ahead (a pointer the log does not know).
inline bool noteFree(void *pointer)
{
    return activeLog == nullptr || activeLog->freed(pointer);
}

// A stream decides how much the default allocator is asked for (a 32-bit
// count times an element size): a request above 32 MiB fails with a null
// pointer, as a full heap would, instead of ending the run or spending it
// on one huge block. The same limit holds with and without the sanitizer.
constexpr size_t kLargestBlock = size_t{32} << 20;

} // namespace zubfuzz

#if defined(ZUBFUZZ_HOOKS) && defined(ZUBFUZZ_ASAN)
// Declared here: the GCC toolchains ship the sanitizer runtime without its header.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void *, size_t),
                                                         void (*)(const volatile void *));

namespace zubfuzz::detail {
// The hooks see every block; a bad free is then reported by the sanitizer
// itself, the log counts it as well.
inline const int hooksInstalled = __sanitizer_install_malloc_and_free_hooks(
    [](const volatile void *pointer, size_t size) {
        noteAllocation(const_cast<void *>(pointer), size);
    },
    [](const volatile void *pointer) { (void)noteFree(const_cast<void *>(pointer)); });
} // namespace zubfuzz::detail

extern "C" __attribute__((visibility("default"))) const char *__asan_default_options()
{
    return "allocator_may_return_null=1:max_allocation_size_mb=32";
}

#elif defined(ZUBFUZZ_HOOKS)

// The C library's own entry points, under the names it exports them by.
extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void __libc_free(void *);

extern "C" __attribute__((visibility("default"))) void *malloc(size_t size)
{
    void *block = size > zubfuzz::kLargestBlock ? nullptr : __libc_malloc(size);
    zubfuzz::noteAllocation(block, size);
    return block;
}
extern "C" __attribute__((visibility("default"))) void *calloc(size_t count, size_t size)
{
    const bool fits = size == 0 || count <= zubfuzz::kLargestBlock / size;
    void *block = fits ? __libc_calloc(count, size) : nullptr;
    zubfuzz::noteAllocation(block, count * size);
    return block;
}
// A free the log refuses is counted and not passed on, so the harness can
// report it instead of the C library aborting.
extern "C" __attribute__((visibility("default"))) void free(void *block)
{
    if (zubfuzz::noteFree(block))
        __libc_free(block);
}

#endif
