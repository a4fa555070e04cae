// Ring buffer and scatter-gather throughput beside plain memcpy of the same
// bytes, which is the practical limit: a ring transfer is at most two
// memcpy calls per side, a scatter-gather copy one per block pair.
//
// Pairs: enqueue n bytes, dequeue them into a buffer (two copies of n bytes)
// against two memcpy calls of n bytes, inline and behind two out-of-line
// calls. Hand-out: enqueue n bytes and take
// them back as parts without copying, against one memcpy of n bytes to the
// front of an area: emptied by the hand-out, the ring starts over there too.
// Scatter-gather: 1 MiB from 256 source blocks of 4 KiB into 256
// destination blocks of 4 KiB, against one memcpy of 1 MiB.
#include <benchmark/benchmark.h>

#include "cpu_time_reporter.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "zub/ringbuffer.h"
#include "zub/scattergather.h"

namespace {

constexpr uint32_t kRingSize = 64 * 1024;
// The ring's transfers start this far into the area, and so do the peers'
// copies, which go back there instead of to the front: the same bytes at
// the same alignment (memcpy is faster on 64-byte aligned areas).
constexpr uint32_t kStart = 24;

void BM_RingPair(benchmark::State &state)
{
    const auto n = static_cast<uint32_t>(state.range(0));
    std::vector<uint8_t> area(kRingSize), in(n, 0x5A), out(n);
    zubRingBuffer_t ring;
    zubRingBufferInit(&ring, area.data(), kRingSize);
    // Start off the front so that transfers also wrap now and then.
    zubRingBufferEnqueue(&ring, in.data(), kStart);
    zubRingBufferDequeue(&ring, nullptr, kStart);
    for (auto _ : state) {
        zubRingBufferEnqueue(&ring, in.data(), n);
        zubRingBufferDequeue(&ring, out.data(), n);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * n);
}

void BM_MemcpyPair(benchmark::State &state)
{
    const auto n = static_cast<uint32_t>(state.range(0));
    std::vector<uint8_t> area(kRingSize), in(n, 0x5A), out(n);
    uint32_t pos = kStart;
    for (auto _ : state) {
        std::memcpy(area.data() + pos, in.data(), n);
        std::memcpy(out.data(), area.data() + pos, n);
        pos = pos + n + n > kRingSize ? kStart : pos + n;
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * n);
}

// The same two copies behind two out-of-line calls, as a library would
// offer them: the fair limit of a ring transfer made by two calls into a
// shared object.
__attribute__((noinline)) void copyIn(uint8_t *area, uint32_t pos, const uint8_t *in, uint32_t n)
{
    std::memcpy(area + pos, in, n);
}
__attribute__((noinline)) void copyOut(uint8_t *out, const uint8_t *area, uint32_t &pos, uint32_t n)
{
    std::memcpy(out, area + pos, n);
    pos = pos + n + n > kRingSize ? kStart : pos + n;
}

void BM_MemcpyCallPair(benchmark::State &state)
{
    const auto n = static_cast<uint32_t>(state.range(0));
    std::vector<uint8_t> area(kRingSize), in(n, 0x5A), out(n);
    uint32_t pos = kStart;
    for (auto _ : state) {
        copyIn(area.data(), pos, in.data(), n);
        copyOut(out.data(), area.data(), pos, n);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * n);
}

void BM_RingHandOut(benchmark::State &state)
{
    const auto n = static_cast<uint32_t>(state.range(0));
    std::vector<uint8_t> area(kRingSize), in(n, 0x5A);
    zubRingBuffer_t ring;
    zubRingBufferInit(&ring, area.data(), kRingSize);
    zubScatterGatherEntry_t parts[2];
    int32_t count = 0;
    for (auto _ : state) {
        zubRingBufferEnqueue(&ring, in.data(), n);
        zubRingBufferDequeueAllParts(&ring, parts, &count, n);
        benchmark::DoNotOptimize(parts);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * n);
}

void BM_MemcpyOnce(benchmark::State &state)
{
    const auto n = static_cast<uint32_t>(state.range(0));
    std::vector<uint8_t> area(kRingSize), in(n, 0x5A);
    for (auto _ : state) {
        std::memcpy(area.data(), in.data(), n);
        benchmark::DoNotOptimize(area.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * n);
}

constexpr uint32_t kBlock = 4096;
constexpr uint32_t kBlocks = 256;

void BM_ScatterGatherCopy(benchmark::State &state)
{
    std::vector<uint8_t> from(kBlock * kBlocks, 0x5A), to(kBlock * kBlocks);
    std::vector<zubScatterGatherEntry_t> source(kBlocks), destination(kBlocks);
    for (uint32_t i = 0; i < kBlocks; ++i) {
        source[i] = {from.data() + i * kBlock, ZUB_SG_WORD(ZUB_SG_KIND_DATA, kBlock)};
        destination[i] = {to.data() + i * kBlock, ZUB_SG_WORD(ZUB_SG_KIND_DATA, kBlock)};
    }
    for (auto _ : state) {
        int32_t count = kBlocks;
        benchmark::DoNotOptimize(zubCopyScatterGather(destination.data(), &count, source.data(),
                                                      kBlocks, 0, nullptr));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock * kBlocks);
}

void BM_MemcpyMiB(benchmark::State &state)
{
    std::vector<uint8_t> from(kBlock * kBlocks, 0x5A), to(kBlock * kBlocks);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size());
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock * kBlocks);
}

BENCHMARK(BM_RingPair)->Arg(64)->Arg(4096);
BENCHMARK(BM_MemcpyPair)->Arg(64)->Arg(4096);
BENCHMARK(BM_MemcpyCallPair)->Arg(64)->Arg(4096);
BENCHMARK(BM_RingHandOut)->Arg(64)->Arg(4096);
BENCHMARK(BM_MemcpyOnce)->Arg(64)->Arg(4096);
BENCHMARK(BM_ScatterGatherCopy);
BENCHMARK(BM_MemcpyMiB);

// Console output as usual, and the time per iteration of every plain run
// kept for the ratio table (CPU time: the build machine is shared).
using RatioReporter = bench::CpuTimeReporter;

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const struct {
        const char *what, *ours, *limit;
    } rows[] = {
        {"enqueue+dequeue 64 B", "BM_RingPair/64", "BM_MemcpyPair/64"},
        {"  the same, memcpy behind calls", "BM_RingPair/64", "BM_MemcpyCallPair/64"},
        {"enqueue+dequeue 4 KiB", "BM_RingPair/4096", "BM_MemcpyPair/4096"},
        {"enqueue+hand-out 64 B", "BM_RingHandOut/64", "BM_MemcpyOnce/64"},
        {"enqueue+hand-out 4 KiB", "BM_RingHandOut/4096", "BM_MemcpyOnce/4096"},
        {"scatter-gather 1 MiB / 4 KiB", "BM_ScatterGatherCopy", "BM_MemcpyMiB"},
    };
    std::printf("\n%-30s %s\n", "throughput vs memcpy", "ratio (1.00 = memcpy)");
    for (const auto &row : rows) {
        const auto ours = reporter.times.find(row.ours);
        const auto limit = reporter.times.find(row.limit);
        if (ours != reporter.times.end() && limit != reporter.times.end() && ours->second > 0) {
            std::printf("%-30s %.2f\n", row.what, limit->second / ours->second);
        }
    }
    return 0;
}
