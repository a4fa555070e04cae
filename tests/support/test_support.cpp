#include "test_support.h"

#include <numeric>
#include <random>
#include <sstream>

#include "../../fuzz/fuzz_input.h"

namespace zubtest {

static void *allocate(void *context, size_t size, uintptr_t zero)
{
    auto *self = static_cast<CountingAllocator *>(context);
    FUZZ_CHECK(zero == 0); // the third argument is always 0
    self->sizes.push_back(size);
    if (self->failAfter == 0 || size > self->failAbove)
        return nullptr;
    self->failAfter -= self->failAfter > 0;
    void *block = std::malloc(size == 0 ? 1 : size);
    if (block != nullptr)
        std::memset(block, 0xA5, size), self->live[block] = size;
    return block;
}

static void release(void *context, void *block)
{
    auto *self = static_cast<CountingAllocator *>(context);
    FUZZ_CHECK(block == nullptr || self->live.erase(block) == 1); // a block it handed out
    std::free(block);
}

CountingAllocator::CountingAllocator() : record_{this, allocate, release} {}

CountingAllocator::~CountingAllocator()
{
    for (auto &block : live)
        std::free(const_cast<void *>(block.first));
}

std::string hex(const void *data, size_t length)
{
    std::string out;
    char two[4];
    for (size_t i = 0; i < length; i++)
        std::snprintf(two, sizeof two, " %02x", static_cast<const uint8_t *>(data)[i]), out += two;
    return out.substr(length > 0); // without the first space
}

std::vector<uint8_t> bytes(const std::string &hexText)
{
    std::istringstream in(hexText);
    std::vector<uint8_t> out;
    for (unsigned value = 0; in >> std::hex >> value;)
        out.push_back(static_cast<uint8_t>(value));
    return out;
}

std::vector<uint8_t> seq(uint8_t first, size_t n)
{
    std::vector<uint8_t> v(n);
    return std::iota(v.begin(), v.end(), first), v; // a uint8_t counter wraps at 256
}

uint32_t testSeed(uint32_t defaultSeed)
{
    const char *text = std::getenv("ZUB_TEST_SEED");
    return text && *text ? static_cast<uint32_t>(std::strtoul(text, nullptr, 0)) : defaultSeed;
}

size_t replayHarness(const char *target, int (*harness)(const uint8_t *, size_t), int runs,
                     size_t maxSize, uint32_t defaultSeed)
{
    const std::filesystem::path fuzz = std::filesystem::path(ZUB_SOURCE_DIR) / "fuzz";
    std::vector<std::vector<uint8_t>> corpus;
    for (const char *dir : {"corpus", "campaign"})
        zubfuzz::readInputs(fuzz / dir / target, corpus); // false for a folder the target lacks
    const uint32_t seed = testSeed(defaultSeed);
    std::printf("%s: %zu corpus inputs, then %d from seed %u\n", target, corpus.size(), runs, seed);
    std::fflush(stdout);
    for (const auto &input : corpus)
        harness(input.data(), input.size());
    std::mt19937 rng(seed);
    for (int run = 0; run < runs; ++run) {
        std::vector<uint8_t> input;
        if (run % 2 == 0 && !corpus.empty()) {
            input = corpus[rng() % corpus.size()];
            for (uint32_t k = rng() % 8; !input.empty() && k-- > 0;)
                input[rng() % input.size()] = static_cast<uint8_t>(rng());
        }
        for (size_t extra = rng() % (maxSize + 1); extra-- > 0;)
            input.push_back(static_cast<uint8_t>(rng()));
        harness(input.data(), input.size());
    }
    return corpus.size();
}

} // namespace zubtest
