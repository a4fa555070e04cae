// Bitmask searches and updates against two peers:
//   flat   - a plain bitmap of 64-bit words, searched a word at a time from
//            the start index (what a plain bitmap library does);
//   letter - one zubBitmaskGetBit call per index tested, as a search that
//            ignores the summary levels would do.
// Masks of 2^20 bits and of the largest count a bitmask holds (520,093,664,
// just under 2^29), sparse (one set bit in 100,000), medium (one
// in 100) and dense (one in 2), at random positions. A summary table of
// time ratios (peer / ours, above 1 means ours is faster) follows the runs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "zub/bitmask.h"

namespace {

// ---- the flat peer --------------------------------------------------------

struct Flat {
    std::vector<uint64_t> words;
    uint32_t n = 0;
};

__attribute__((noinline)) void flat_set(Flat &f, uint32_t i) { f.words[i >> 6] |= uint64_t{1} << (i & 63); }
__attribute__((noinline)) void flat_reset(Flat &f, uint32_t i) { f.words[i >> 6] &= ~(uint64_t{1} << (i & 63)); }

__attribute__((noinline)) int32_t flat_next(const Flat &f, uint32_t start)
{
    if (start >= f.n) {
        return -1;
    }
    size_t w = start >> 6;
    uint64_t v = f.words[w] & (~uint64_t{0} << (start & 63));
    while (v == 0) {
        if (++w == f.words.size()) {
            return -1;
        }
        v = f.words[w];
    }
    return static_cast<int32_t>((w << 6) + static_cast<size_t>(__builtin_ctzll(v)));
}

__attribute__((noinline)) int32_t flat_prev(const Flat &f, uint32_t start)
{
    size_t w = start >> 6;
    uint64_t v = f.words[w] & (~uint64_t{0} >> (63 - (start & 63)));
    while (v == 0) {
        if (w == 0) {
            return -1;
        }
        v = f.words[--w];
    }
    return static_cast<int32_t>((w << 6) + 63 - static_cast<size_t>(__builtin_clzll(v)));
}

int32_t flat_first(const Flat &f) { return flat_next(f, 0); }

// ---- the per-index peer ---------------------------------------------------

__attribute__((noinline)) int32_t letter_next(const zubBitmask_t *bm, uint32_t start)
{
    for (uint32_t i = start; i < bm->nBits; ++i) {
        if (zubBitmaskGetBit(bm, i) != 0) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

__attribute__((noinline)) int32_t letter_prev(const zubBitmask_t *bm, uint32_t start)
{
    for (uint32_t i = start + 1; i-- > 0;) {
        if (zubBitmaskGetBit(bm, i) != 0) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

// ---- masks ------------------------------------------------------------------

uint64_t xorshift(uint64_t &s)
{
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return s;
}

// A mask whose only set bit is its last one: find-first's worst case for a
// scan from the start.
constexpr uint32_t kLastOnly = 0;

struct Masks {
    uint32_t n;
    std::vector<uint32_t> memory;
    zubBitmask_t bm{};
    Flat flat;
    std::vector<uint32_t> setBits; // ascending
    std::vector<uint32_t> randomIndices;
};

// One pair of masks lives at a time (the largest take 64 MiB each).
Masks &masks(uint32_t nBits, uint32_t oneIn)
{
    static std::unique_ptr<Masks> current;
    static uint64_t key = 0;
    const uint64_t want = (uint64_t{nBits} << 32) | oneIn;
    if (current && key == want) {
        return *current;
    }
    current.reset();
    current = std::make_unique<Masks>();
    key = want;
    Masks &m = *current;
    m.n = nBits;
    m.memory.resize(zubBitmaskGetRequiredSize(m.n) / 4);
    if (zubBitmaskInitialize(&m.bm, m.n, m.memory.data()) != 0) {
        std::fprintf(stderr, "cannot lay out %u bits\n", nBits);
        std::abort();
    }
    m.flat.n = m.n;
    m.flat.words.assign((m.n + 63) / 64, 0);
    uint64_t s = 0x9E3779B97F4A7C15ull ^ want;
    auto add = [&m](uint32_t i) {
        m.setBits.push_back(i);
        zubBitmaskSetBit(&m.bm, i);
        flat_set(m.flat, i);
    };
    if (oneIn == kLastOnly) {
        add(m.n - 1);
    } else {
        // One bit at a random place in every run of oneIn indices.
        for (uint32_t base = 0; base < m.n; base += oneIn) {
            const uint32_t i = base + static_cast<uint32_t>(xorshift(s) % oneIn);
            if (i < m.n) {
                add(i);
            }
        }
    }
    for (int k = 0; k < 4096; ++k) {
        m.randomIndices.push_back(static_cast<uint32_t>(xorshift(s) % m.n));
    }
    return m;
}

// ---- cases --------------------------------------------------------------------

enum class Peer { Ours, Flat, Letter };
const char *const kPeerNames[] = {"ours", "flat", "letter"};

void find_first(benchmark::State &state, uint32_t nBits, uint32_t oneIn, Peer peer)
{
    Masks &m = masks(nBits, oneIn);
    for (auto _ : state) {
        benchmark::DoNotOptimize(peer == Peer::Ours ? zubBitmaskFindFirstOne(&m.bm) : flat_first(m.flat));
    }
}

// Take the lowest set bit and clear it, as a lowest-free-slot allocator
// does; the first set bit moves further in with every step. A fixed number
// of steps, so both sides do the same work; the bits come back afterwards.
void drain(benchmark::State &state, uint32_t nBits, uint32_t oneIn, Peer peer)
{
    Masks &m = masks(nBits, oneIn);
    uint32_t taken = 0;
    for (auto _ : state) {
        const int32_t p = peer == Peer::Ours ? zubBitmaskFindFirstOne(&m.bm) : flat_first(m.flat);
        if (peer == Peer::Ours) {
            zubBitmaskResetBit(&m.bm, static_cast<uint32_t>(p));
        } else {
            flat_reset(m.flat, static_cast<uint32_t>(p));
        }
        ++taken;
    }
    for (uint32_t k = 0; k < taken; ++k) {
        zubBitmaskSetBit(&m.bm, m.setBits[k]);
        flat_set(m.flat, m.setBits[k]);
    }
}

void walk(benchmark::State &state, uint32_t nBits, uint32_t oneIn, Peer peer, bool forward)
{
    Masks &m = masks(nBits, oneIn);
    for (auto _ : state) {
        uint32_t seen = 0;
        if (forward) {
            for (int32_t p = -1;;) {
                const uint32_t from = static_cast<uint32_t>(p + 1);
                if (from >= m.n) {
                    break;
                }
                p = peer == Peer::Ours   ? zubBitmaskFindNextOne(&m.bm, from)
                  : peer == Peer::Flat ? flat_next(m.flat, from)
                                         : letter_next(&m.bm, from);
                if (p < 0) {
                    break;
                }
                ++seen;
            }
        } else {
            for (int64_t from = m.n - 1; from >= 0;) {
                const int32_t p = peer == Peer::Ours   ? zubBitmaskFindPrevOne(&m.bm, static_cast<uint32_t>(from))
                                : peer == Peer::Flat ? flat_prev(m.flat, static_cast<uint32_t>(from))
                                                       : letter_prev(&m.bm, static_cast<uint32_t>(from));
                if (p < 0) {
                    break;
                }
                ++seen;
                from = p - 1;
            }
        }
        if (seen != m.setBits.size()) {
            state.SkipWithError("walk missed bits");
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * m.setBits.size()));
}

// Set a random bit, then clear it again: the mask ends as it began.
void set_reset(benchmark::State &state, uint32_t nBits, uint32_t oneIn, Peer peer)
{
    Masks &m = masks(nBits, oneIn);
    size_t k = 0;
    for (auto _ : state) {
        const uint32_t i = m.randomIndices[k++ & 4095];
        if (peer == Peer::Ours) {
            const int32_t was = zubBitmaskSetBit(&m.bm, i);
            if (was == 0) {
                zubBitmaskResetBit(&m.bm, i);
            }
        } else {
            const bool was = (m.flat.words[i >> 6] >> (i & 63)) & 1u;
            flat_set(m.flat, i);
            if (!was) {
                flat_reset(m.flat, i);
            }
        }
    }
}

// Remembers each run's time so the ratios can be printed at the end.
class Reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (!run.error_occurred) {
                // CPU time: the machine is shared, so wall time carries other load.
                std::string name = run.benchmark_name();
                name = name.substr(0, name.find("/iterations:"));
                times[name] = run.GetAdjustedCPUTime();
            }
        }
    }
    std::map<std::string, double> times;
};

struct Density {
    const char *name;
    uint32_t oneIn;
};
const Density kDensities[] = {{"sparse", 100000}, {"medium", 100}, {"dense", 2}, {"last-only", kLastOnly}};
struct Size {
    const char *name;
    uint32_t nBits;
};
const Size kSizes[] = {{"2^20", 1u << 20}, {"520M", ZUB_BITMASK_MAX_BITS}};

std::string case_name(const char *op, const Size &size, const Density &d)
{
    return std::string(op) + "/" + size.name + "/" + d.name;
}

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    struct Op {
        const char *name;
        bool letter;
    };
    const Op ops[] = {{"first", false}, {"drain", false}, {"next", true}, {"prev", true}, {"set+reset", false}};
    for (const Size &size : kSizes) {
        for (const Density &d : kDensities) {
            for (const Op &op : ops) {
                for (Peer peer : {Peer::Ours, Peer::Flat, Peer::Letter}) {
                    if ((peer == Peer::Letter && !op.letter) || (d.oneIn == kLastOnly && std::string(op.name) != "first")) {
                        continue;
                    }
                    const std::string name = case_name(op.name, size, d) + "/" + kPeerNames[static_cast<int>(peer)];
                    const std::string opName = op.name;
                    benchmark::internal::Benchmark *b = nullptr;
                    if (opName == "first") {
                        b = benchmark::RegisterBenchmark(name.c_str(), find_first, size.nBits, d.oneIn, peer);
                    } else if (opName == "drain") {
                        const uint32_t bits = size.nBits / d.oneIn;
                        b = benchmark::RegisterBenchmark(name.c_str(), drain, size.nBits, d.oneIn, peer);
                        b->Iterations(bits < 1024 ? bits : 1024);
                    } else if (opName == "set+reset") {
                        b = benchmark::RegisterBenchmark(name.c_str(), set_reset, size.nBits, d.oneIn, peer);
                    } else {
                        b = benchmark::RegisterBenchmark(name.c_str(), walk, size.nBits, d.oneIn, peer, opName == "next");
                    }
                    b->Unit(benchmark::kNanosecond);
                }
            }
        }
    }
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\nRatios (peer CPU time / our CPU time; above 1: ours is faster)\n");
    std::printf("%-28s %14s %14s\n", "case", "flat/ours", "letter/ours");
    for (const Size &size : kSizes) {
        for (const Density &d : kDensities) {
            for (const Op &op : ops) {
                const std::string base = case_name(op.name, size, d);
                const auto ours = reporter.times.find(base + "/ours");
                if (ours == reporter.times.end() || ours->second <= 0) {
                    continue;
                }
                std::printf("%-28s", base.c_str());
                for (const char *peer : {"/flat", "/letter"}) {
                    const auto other = reporter.times.find(base + peer);
                    if (other == reporter.times.end()) {
                        std::printf(" %14s", "-");
                    } else {
                        std::printf(" %14.1f", other->second / ours->second);
                    }
                }
                std::printf("\n");
            }
        }
    }
    benchmark::Shutdown();
    return 0;
}
