#include "test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace zubtest {

CountingAllocator::CountingAllocator() : record_{this, &allocThunk, &releaseThunk} {}

CountingAllocator::~CountingAllocator()
{
    for (auto &block : live_) {
        std::free(const_cast<void *>(block.first));
    }
}

void *CountingAllocator::allocThunk(void *context, size_t size, uintptr_t zero)
{
    auto *self = static_cast<CountingAllocator *>(context);
    std::lock_guard<std::mutex> lock(self->mutex_);
    if (zero != 0) {
        std::fprintf(stderr, "allocator called with a non-zero third argument\n");
        std::abort();
    }
    self->lastSize_ = size;
    self->sizes_.push_back(size);
    if (self->failAfter == 0 || size > self->failAbove) {
        return nullptr;
    }
    if (self->failAfter > 0) {
        self->failAfter--;
    }
    void *block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        return nullptr;
    }
    std::memset(block, self->fill, size);
    self->live_[block] = size;
    self->allocations_++;
    return block;
}

void CountingAllocator::releaseThunk(void *context, void *block)
{
    auto *self = static_cast<CountingAllocator *>(context);
    std::lock_guard<std::mutex> lock(self->mutex_);
    if (block == nullptr) {
        return;
    }
    auto it = self->live_.find(block);
    if (it == self->live_.end()) {
        std::fprintf(stderr, "release of a block this allocator did not hand out: %p\n", block);
        std::abort();
    }
    self->live_.erase(it);
    std::free(block);
}

size_t CountingAllocator::liveBlocks() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return live_.size();
}

size_t CountingAllocator::blockSize(const void *block) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = live_.find(block);
    return it == live_.end() ? 0 : it->second;
}

DebugCapture::DebugCapture(bool enableAll)
{
    zubDebugTestClear();
    if (enableAll) {
        zubDebugTestEnableAll();
    } else {
        zubDebugTestDisableAll();
    }
    zubDebugTestCapture(1);
}

DebugCapture::~DebugCapture()
{
    zubDebugTestCapture(0);
    zubDebugTestClear();
    zubDebugTestReset();
}

std::vector<std::string> DebugCapture::messages() const
{
    std::vector<std::string> out;
    for (size_t i = 0; i < zubDebugTestCount(); i++) {
        const char *text = zubDebugTestMessage(i);
        out.emplace_back(text ? text : "");
    }
    return out;
}

std::vector<uint32_t> DebugCapture::site(size_t i) const
{
    uint32_t words[3] = {0, 0, 0};
    zubDebugTestSite(i, words);
    return {words[0], words[1], words[2]};
}

std::string hex(const void *data, size_t length)
{
    std::string out;
    const auto *p = static_cast<const uint8_t *>(data);
    char item[4];
    for (size_t i = 0; i < length; i++) {
        std::snprintf(item, sizeof item, i ? " %02x" : "%02x", p[i]);
        out += item;
    }
    return out;
}

std::vector<uint8_t> bytes(const std::string &hexText)
{
    std::vector<uint8_t> out;
    for (const char *p = hexText.c_str(); *p != '\0';) {
        char *end = nullptr;
        const unsigned long value = std::strtoul(p, &end, 16);
        if (end == p) {
            break;
        }
        out.push_back(static_cast<uint8_t>(value));
        p = end;
    }
    return out;
}

uint32_t testSeed(uint32_t defaultSeed)
{
    const char *text = std::getenv("ZUB_TEST_SEED");
    if (text == nullptr || *text == '\0')
        return defaultSeed;
    return static_cast<uint32_t>(std::strtoul(text, nullptr, 0));
}

size_t replayHarness(const char *target, int (*harness)(const uint8_t *, size_t), int runs,
                     size_t maxSize, uint32_t defaultSeed)
{
    namespace fs = std::filesystem;
    const fs::path fuzz = fs::path(ZUB_SOURCE_DIR) / "fuzz";
    std::vector<std::vector<uint8_t>> corpus;
    for (const fs::path &dir :
         {fuzz / "corpus" / target, fuzz / "corpus" / (std::string(target) + "_fuzz"),
          fuzz / "campaign" / target}) {
        std::vector<fs::path> files;
        std::error_code missing; // a target without a campaign corpus
        for (const auto &entry : fs::directory_iterator(dir, missing)) {
            files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        for (const fs::path &file : files) {
            std::ifstream in(file, std::ios::binary);
            corpus.emplace_back(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
        }
    }
    const uint32_t seed = testSeed(defaultSeed);
    std::printf("%s: %zu corpus inputs, then %d from seed %u\n", target, corpus.size(), runs, seed);
    std::fflush(stdout);
    for (const auto &input : corpus) {
        harness(input.data(), input.size());
    }
    std::mt19937 rng(seed);
    for (int run = 0; run < runs; ++run) {
        std::vector<uint8_t> input;
        if (run % 2 == 0 && !corpus.empty()) {
            input = corpus[rng() % corpus.size()];
            for (uint32_t k = rng() % 8; !input.empty() && k-- > 0;) {
                input[rng() % input.size()] = static_cast<uint8_t>(rng());
            }
        }
        for (size_t extra = rng() % (maxSize + 1); extra-- > 0;) {
            input.push_back(static_cast<uint8_t>(rng()));
        }
        harness(input.data(), input.size());
    }
    return corpus.size();
}

std::vector<uint8_t> seq(uint8_t first, size_t n)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        v[i] = static_cast<uint8_t>(first + i);
    }
    return v;
}

GuardedBuffer::GuardedBuffer(size_t size, uint8_t guard, size_t guardSize)
    : storage_(size + 2 * guardSize, guard), size_(size), guardSize_(guardSize), guard_(guard)
{}

bool GuardedBuffer::guardsIntact() const
{
    const auto isGuard = [this](uint8_t b) { return b == guard_; };
    return std::all_of(storage_.begin(), storage_.begin() + guardSize_, isGuard) &&
           std::all_of(storage_.end() - guardSize_, storage_.end(), isGuard);
}

} // namespace zubtest
