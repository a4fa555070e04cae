// Helpers shared by the family tests.
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "zub/types.h"
#include "zub_debug_test.h"

namespace zubtest {

// Allocator record that notes the size of every request and the blocks
// still live, fills fresh blocks with 0xA5, and can be told to fail: after
// `failAfter` more successful allocations (negative: never), or every
// allocation above `failAbove` bytes. It frees what is left when it goes.
struct CountingAllocator {
    CountingAllocator();
    CountingAllocator(const CountingAllocator &) = delete; // the record points at it
    ~CountingAllocator();
    zubAllocator_t *record() { return &record_; }

    long failAfter = -1;
    size_t failAbove = SIZE_MAX;
    std::vector<size_t> sizes;           // of every request, refused ones too
    std::map<const void *, size_t> live; // block: its size
    zubAllocator_t record_;
};

// Captures the diagnostics stand-in's messages for the life of the object,
// with the given sites enabled (all of them by default).
struct DebugCapture {
    explicit DebugCapture(bool enableAll = true)
    {
        zubDebugTestClear(), zubDebugTestCapture(1);
        enableAll ? zubDebugTestEnableAll() : zubDebugTestDisableAll();
    }
    ~DebugCapture() { zubDebugTestCapture(0), zubDebugTestClear(), zubDebugTestReset(); }
    std::vector<std::string> messages() const
    {
        std::vector<std::string> out;
        for (size_t i = 0; i < zubDebugTestCount(); i++)
            out.emplace_back(zubDebugTestMessage(i) ? zubDebugTestMessage(i) : "");
        return out;
    }
    // Site words (level << 16 | class, frame, chunk) of message i.
    std::vector<uint32_t> site(size_t i) const
    {
        std::vector<uint32_t> words(3);
        return zubDebugTestSite(i, words.data()), words;
    }
    void clear() { zubDebugTestClear(); }
};

// Hex dump "00 01 ff" of a byte range, for readable failure messages.
std::string hex(const void *data, size_t length);
// Bytes from a hex text such as "00 00 00 02 01 02".
std::vector<uint8_t> bytes(const std::string &hexText);
// n bytes counting up from `first`, wrapping at 256.
std::vector<uint8_t> seq(uint8_t first, size_t n);

// First seed of a randomized test: ZUB_TEST_SEED from the environment when
// set (decimal or 0x hex), else `defaultSeed`, so that every run is
// reproducible and a failing one can be replayed. Tests print the seed they
// used in every failure message.
uint32_t testSeed(uint32_t defaultSeed);

// Runs a family's fuzz harness (which aborts on a mismatch) over its
// committed corpora, fuzz/corpus/<target> and fuzz/campaign/<target>, then
// over `runs` inputs made from the seed: corpus files with random bytes
// changed and random bytes appended, and plain random strings of up to
// `maxSize` bytes. Returns the number of corpus files replayed.
size_t replayHarness(const char *target, int (*harness)(const uint8_t *, size_t), int runs,
                     size_t maxSize, uint32_t defaultSeed);

// A buffer with guard bytes on both sides, to catch writes past the ends.
// The members with a trailing _ are its own.
struct GuardedBuffer {
    explicit GuardedBuffer(size_t size, uint8_t guard = 0xA5, size_t guardSize = 64)
        : storage_(size + 2 * guardSize, guard), guardSize_(guardSize), guard_(guard)
    {}
    uint8_t *data() { return storage_.data() + guardSize_; }
    bool guardsIntact() const
    {
        return std::count(storage_.begin(), storage_.begin() + guardSize_, guard_) +
                   std::count(storage_.end() - guardSize_, storage_.end(), guard_) ==
               static_cast<ptrdiff_t>(2 * guardSize_);
    }

    std::vector<uint8_t> storage_;
    size_t guardSize_;
    uint8_t guard_;
};

} // namespace zubtest
