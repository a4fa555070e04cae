// The vector as a FIFO queue and with inserts at random positions, beside
// std::deque, inline and behind two out-of-line calls as a library would
// offer it (the fair peer of a FIFO in a shared object). Elements of 4, 16
// and 32 bytes. Prints deque time / vector time per pair (above 1: ours is
// faster).
#include <benchmark/benchmark.h>

#include "cpu_time_reporter.h"

#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "zub/vector.h"

namespace {

using CollectingReporter = bench::CpuTimeReporter;

using Small = uint32_t;
struct Medium {
    uint32_t words[4];
};
struct Large {
    uint64_t words[4];
};

zubVector_t makeVector(uint32_t elementSize)
{
    zubVector_t v;
    zubVectorParams_t params{nullptr, elementSize, 0, 0};
    zubVectorInitialize(&v, &params, -1);
    return v;
}

// Steady-state queue of `depth` elements: one append and one removal per
// item.
template <typename T> void VectorFifo(benchmark::State &state)
{
    const auto depth = static_cast<int32_t>(state.range(0));
    zubVector_t v = makeVector(sizeof(T));
    T item{};
    for (int32_t i = 0; i < depth; i++) {
        zubVectorInsert(&v, -1, &item);
    }
    for (auto _ : state) {
        zubVectorInsert(&v, -1, &item);
        zubVectorRemove(&v, &item, -1);
        benchmark::DoNotOptimize(item);
    }
    zubVectorRelease(&v);
}

template <typename T> void DequeFifo(benchmark::State &state)
{
    const auto depth = static_cast<int32_t>(state.range(0));
    std::deque<T> q(static_cast<size_t>(depth));
    T item{};
    for (auto _ : state) {
        q.push_back(item);
        item = q.front();
        q.pop_front();
        benchmark::DoNotOptimize(item);
    }
}

// The same queue behind out-of-line calls, as a library would offer it:
// separates the cost of the call boundary from that of the structure.
template <typename T> __attribute__((noinline)) void dequePush(std::deque<T> &q, const T &item)
{
    q.push_back(item);
}
template <typename T> __attribute__((noinline)) void dequePop(std::deque<T> &q, T &item)
{
    item = q.front();
    q.pop_front();
}

template <typename T> void DequeCallFifo(benchmark::State &state)
{
    const auto depth = static_cast<int32_t>(state.range(0));
    std::deque<T> q(static_cast<size_t>(depth));
    T item{};
    for (auto _ : state) {
        dequePush(q, item);
        dequePop(q, item);
        benchmark::DoNotOptimize(item);
    }
}

// What bounds the FIFO behind calls: the same work (checks, wrap, 4-byte
// copy, 0x77 fill) on two record layouts. With one count that both calls
// read and write, as in zubVector_t, each pair waits for two store-to-load
// forwards in series; with separate head and tail fields, as in a deque,
// push and pop update different words and overlap.
struct SharedCount {
    uint32_t *data, alloced, head;
    int32_t count;
};
struct SeparateEnds {
    uint32_t *data, alloced, head, tail;
};

__attribute__((noinline)) int push(SharedCount &q, const uint32_t &item)
{
    const auto n = static_cast<uint32_t>(q.count);
    if (n >= q.alloced || q.head >= q.alloced) return -1;
    uint32_t slot = q.head + n;
    slot = slot >= q.alloced ? slot - q.alloced : slot;
    q.count = static_cast<int32_t>(n + 1);
    q.data[slot] = item;
    return 0;
}
__attribute__((noinline)) int pop(SharedCount &q, uint32_t &item)
{
    const auto n = static_cast<uint32_t>(q.count);
    const uint32_t h = q.head;
    if (n == 0 || h >= q.alloced) return -1;
    q.count = static_cast<int32_t>(n - 1);
    if (n != 1) q.head = h + 1 == q.alloced ? 0 : h + 1;
    item = q.data[h];
    q.data[h] = 0x77777777u;
    return 0;
}
__attribute__((noinline)) int push(SeparateEnds &q, const uint32_t &item)
{
    const uint32_t t = q.tail;
    if (t >= q.alloced) return -1;
    q.data[t] = item;
    q.tail = t + 1 == q.alloced ? 0 : t + 1;
    return 0;
}
__attribute__((noinline)) int pop(SeparateEnds &q, uint32_t &item)
{
    const uint32_t h = q.head;
    if (h >= q.alloced) return -1;
    item = q.data[h];
    q.data[h] = 0x77777777u;
    q.head = h + 1 == q.alloced ? 0 : h + 1;
    return 0;
}

template <typename Q> void LayoutFifo(benchmark::State &state)
{
    std::vector<uint32_t> buffer(64);
    Q q{buffer.data(), 64, 0, 16};
    uint32_t item = 0;
    for (auto _ : state) {
        push(q, item);
        pop(q, item);
        benchmark::DoNotOptimize(item);
    }
}

std::vector<int32_t> insertPositions(int32_t n)
{
    std::mt19937 rng(12345);
    std::vector<int32_t> positions;
    for (int32_t i = 0; i < n; i++) {
        positions.push_back(static_cast<int32_t>(rng() % static_cast<uint32_t>(i + 1)));
    }
    return positions;
}

// Builds a sequence of n elements by inserts at random positions.
template <typename T> void VectorRandomInsert(benchmark::State &state)
{
    const auto positions = insertPositions(static_cast<int32_t>(state.range(0)));
    T item{};
    for (auto _ : state) {
        zubVector_t v = makeVector(sizeof(T));
        for (int32_t p : positions) {
            zubVectorInsert(&v, p, &item);
        }
        benchmark::DoNotOptimize(v.data);
        zubVectorRelease(&v);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

template <typename T> void DequeRandomInsert(benchmark::State &state)
{
    const auto positions = insertPositions(static_cast<int32_t>(state.range(0)));
    T item{};
    for (auto _ : state) {
        std::deque<T> q;
        for (int32_t p : positions) {
            q.insert(q.begin() + p, item);
        }
        benchmark::DoNotOptimize(q.back());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

} // namespace

BENCHMARK(VectorFifo<Small>)->Arg(16)->Arg(1000);
BENCHMARK(DequeFifo<Small>)->Arg(16)->Arg(1000);
BENCHMARK(DequeCallFifo<Small>)->Arg(16)->Arg(1000);
BENCHMARK(VectorFifo<Medium>)->Arg(16)->Arg(1000);
BENCHMARK(DequeFifo<Medium>)->Arg(16)->Arg(1000);
BENCHMARK(DequeCallFifo<Medium>)->Arg(16)->Arg(1000);
BENCHMARK(VectorFifo<Large>)->Arg(16)->Arg(1000);
BENCHMARK(DequeFifo<Large>)->Arg(16)->Arg(1000);
BENCHMARK(DequeCallFifo<Large>)->Arg(16)->Arg(1000);
BENCHMARK(LayoutFifo<SharedCount>);
BENCHMARK(LayoutFifo<SeparateEnds>);
BENCHMARK(VectorRandomInsert<Small>)->Arg(1000)->Arg(10000);
BENCHMARK(DequeRandomInsert<Small>)->Arg(1000)->Arg(10000);
BENCHMARK(VectorRandomInsert<Large>)->Arg(1000)->Arg(10000);
BENCHMARK(DequeRandomInsert<Large>)->Arg(1000)->Arg(10000);

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%-36s %10s\n", "deque / vector (CPU time)", "ratio");
    for (const auto &[name, ours] : reporter.times) {
        if (name.rfind("Vector", 0) != 0) {
            continue;
        }
        const auto peer = reporter.times.find("Deque" + name.substr(6));
        if (peer != reporter.times.end() && ours > 0) {
            std::printf("%-36s %10.2f\n", name.c_str(), peer->second / ours);
        }
        const auto called = reporter.times.find("DequeCall" + name.substr(6));
        if (called != reporter.times.end() && ours > 0) {
            std::printf("%-36s %10.2f  (deque behind out-of-line calls)\n", name.c_str(),
                        called->second / ours);
        }
    }
    const auto shared = reporter.times.find("LayoutFifo<SharedCount>");
    const auto separate = reporter.times.find("LayoutFifo<SeparateEnds>");
    if (shared != reporter.times.end() && separate != reporter.times.end() && shared->second > 0) {
        std::printf("%-36s %10.2f  (separate ends / one shared count, the same work)\n", "LayoutFifo",
                    separate->second / shared->second);
    }
    benchmark::Shutdown();
    return 0;
}
