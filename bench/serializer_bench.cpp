// Serializer throughput on one representative message, beside a
// hand-written straight-line encoder (the practical limit) and XDR, the
// peer a user would reach for. Prints the ratios after the runs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <rpc/xdr.h>

#include "representative_message.h"

namespace {

using namespace bench;

const MessageData fixture;

// XDR routines for the same structure, as one writes them for rpcgen-style
// code (XDR pads every item to 4 bytes, so its stream is longer).
bool_t xdrItem(XDR *x, Item *it)
{
    u_int length = it->nameLength;
    return xdr_u_int(x, &it->id) && xdr_u_int(x, &it->value) && xdr_bytes(x, &it->name, &length, 64);
}

bool_t xdrMsg(XDR *x, Msg *m)
{
    u_char u8 = m->u8;
    u_short u16 = m->u16;
    u_int nameLength = m->nameLength;
    u_int valueCount = m->valueCount;
    u_int itemCount = m->itemCount;
    char *values = reinterpret_cast<char *>(m->values);
    char *items = reinterpret_cast<char *>(m->items);
    return xdr_u_char(x, &u8) && xdr_u_short(x, &u16) && xdr_u_int(x, &m->u32) &&
           xdr_u_int64_t(x, reinterpret_cast<u_int64_t *>(&m->u64)) &&
           xdr_bytes(x, &m->name, &nameLength, 64) &&
           xdr_array(x, &values, &valueCount, 1024, sizeof(uint32_t), reinterpret_cast<xdrproc_t>(xdr_u_int)) &&
           xdr_array(x, &items, &itemCount, 255, sizeof(Item), reinterpret_cast<xdrproc_t>(xdrItem));
}

void count(benchmark::State &state, size_t bytes)
{
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_SimpleSerialize(benchmark::State &state)
{
    std::vector<uint8_t> out(4096);
    for (auto _ : state) {
        benchmark::DoNotOptimize(zubSimpleSerializeInto(out.data(), 4096, &msgTable, &fixture.msg));
        benchmark::ClobberMemory();
    }
    count(state, kStreamBytes);
}

void BM_ResumableChunks(benchmark::State &state)
{
    const uint32_t chunk = static_cast<uint32_t>(state.range(0));
    std::vector<uint8_t> out(chunk);
    zubDeserTableState_t stack[ZUB_DESER_DEFAULT_STACK];
    for (auto _ : state) {
        zubDeserState_t s;
        std::memset(&s, 0, sizeof s);
        s.stack = stack;
        s.stackCapacity = ZUB_DESER_DEFAULT_STACK;
        s.current.table = &msgTable;
        s.current.base = const_cast<Msg *>(&fixture.msg);
        _zubDeserStatePushTable(&s);
        while (s.state != ZUB_SIS_DONE) {
            s.buffer = out.data();
            s.bufferLength = chunk;
            s.bufferPosition = 0;
            _zubSerializeTableInto(&s);
            benchmark::ClobberMemory();
        }
    }
    count(state, kStreamBytes);
}

void BM_HandEncoder(benchmark::State &state)
{
    std::vector<uint8_t> out(4096);
    for (auto _ : state) {
        benchmark::DoNotOptimize(handEncode(out.data(), fixture.msg));
        benchmark::ClobberMemory();
    }
    count(state, kStreamBytes);
}

void BM_Xdr(benchmark::State &state)
{
    std::vector<char> out(4096);
    Msg m = fixture.msg;
    for (auto _ : state) {
        XDR x;
        xdrmem_create(&x, out.data(), 4096, XDR_ENCODE);
        benchmark::DoNotOptimize(xdrMsg(&x, &m));
        benchmark::ClobberMemory();
    }
    count(state, kStreamBytes);
}

BENCHMARK(BM_SimpleSerialize);
BENCHMARK(BM_ResumableChunks)->Arg(64)->Arg(1);
BENCHMARK(BM_HandEncoder);
BENCHMARK(BM_Xdr);

// Keeps messages per second of every run for the summary.
class Collector : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> rate;
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            auto it = run.counters.find("items_per_second");
            if (it != run.counters.end()) rate[run.benchmark_name()] = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char **argv)
{
    std::vector<uint8_t> a(4096), b(4096);
    const int32_t n = zubSimpleSerializeInto(a.data(), 4096, &msgTable, &fixture.msg);
    if (n != static_cast<int32_t>(kStreamBytes) || handEncode(b.data(), fixture.msg) != kStreamBytes ||
        std::memcmp(a.data(), b.data(), kStreamBytes) != 0) {
        std::fprintf(stderr, "the hand-written encoder and the serializer disagree\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    const double one = collector.rate["BM_SimpleSerialize"];
    auto ratio = [&](const char *name, const char *of, double base) {
        if (base > 0 && collector.rate.count(name)) {
            std::printf("  %-28s %8.3f x %s\n", name, collector.rate[name] / base, of);
        }
    };
    std::printf("\nSerializer ratios (messages per second, %zu-byte message):\n", kStreamBytes);
    ratio("BM_SimpleSerialize", "hand-written encoder (aim >= 0.5)", collector.rate["BM_HandEncoder"]);
    ratio("BM_SimpleSerialize", "XDR (aim > 1)", collector.rate["BM_Xdr"]);
    ratio("BM_ResumableChunks/64", "one-shot (aim >= 0.6)", one);
    ratio("BM_ResumableChunks/1", "one-shot", one);
    return 0;
}
