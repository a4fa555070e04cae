// Deserializer throughput on one representative message, beside a
// hand-written decoder (the practical limit) and XDR decoding, the peer a
// user would reach for. Every variant allocates the same blocks and frees
// them again inside the timed loop, so each figure is a whole message
// received and released. Prints the ratios and allocations per message.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <rpc/xdr.h>

#include "internal/bytes.h"
#include "representative_message.h"

namespace {

using namespace bench;

struct Fixture : MessageData {
    std::vector<uint8_t> stream;
    std::vector<char> xdrStream;
};
Fixture fixture;

// The practical limit: straight-line big-endian loads with the length
// checks a decoder of network input needs, the same blocks from malloc.
bool handDecode(const uint8_t *p, size_t length, Msg &m, size_t *allocations)
{
    using namespace zub::detail;
    const uint8_t *end = p + length;
    auto need = [&](size_t n) { return static_cast<size_t>(end - p) >= n; };
    if (!need(17)) return false;
    m.u8 = *p++;
    m.u16 = load_be16(p), p += 2;
    m.u32 = load_be32(p), p += 4;
    m.u64 = load_be64(p), p += 8;
    m.nameLength = load_be16(p), p += 2;
    if (!need(m.nameLength + 4u)) return false;
    m.name = static_cast<char *>(std::malloc(m.nameLength ? m.nameLength : 1));
    std::memcpy(m.name, p, m.nameLength), p += m.nameLength;
    m.valueCount = load_be32(p), p += 4;
    if (m.valueCount > 0x80000u || !need(m.valueCount * 4ull + 1)) return false;
    m.values = static_cast<uint32_t *>(std::malloc(m.valueCount * 4u));
    for (uint32_t i = 0; i < m.valueCount; ++i, p += 4) m.values[i] = load_be32(p);
    m.itemCount = *p++;
    m.items = static_cast<Item *>(std::malloc(m.itemCount * sizeof(Item)));
    *allocations += 3;
    for (uint32_t i = 0; i < m.itemCount; ++i) {
        Item &it = m.items[i];
        if (!need(10)) return false;
        it.id = load_be32(p), p += 4;
        it.value = load_be32(p), p += 4;
        it.nameLength = load_be16(p), p += 2;
        if (!need(it.nameLength)) return false;
        it.name = static_cast<char *>(std::malloc(it.nameLength ? it.nameLength : 1));
        std::memcpy(it.name, p, it.nameLength), p += it.nameLength;
        *allocations += 1;
    }
    return true;
}

void handRelease(Msg &m)
{
    for (uint32_t i = 0; i < m.itemCount; ++i) std::free(m.items[i].name);
    std::free(m.items);
    std::free(m.values);
    std::free(m.name);
}

// XDR routines for the same structure, written both ways as rpcgen-style
// code is (XDR pads to 4 bytes, so its stream is longer).
bool_t xdrItem(XDR *x, Item *it)
{
    u_int length = it->nameLength;
    if (!(xdr_u_int(x, &it->id) && xdr_u_int(x, &it->value) && xdr_bytes(x, &it->name, &length, 64))) {
        return FALSE;
    }
    it->nameLength = static_cast<uint16_t>(length);
    return TRUE;
}

bool_t xdrMsg(XDR *x, Msg *m)
{
    u_char u8 = m->u8;
    u_short u16 = m->u16;
    u_int nameLength = m->nameLength;
    u_int itemCount = m->itemCount;
    char *values = reinterpret_cast<char *>(m->values);
    char *items = reinterpret_cast<char *>(m->items);
    const bool_t ok =
        xdr_u_char(x, &u8) && xdr_u_short(x, &u16) && xdr_u_int(x, &m->u32) &&
        xdr_u_int64_t(x, reinterpret_cast<u_int64_t *>(&m->u64)) && xdr_bytes(x, &m->name, &nameLength, 64) &&
        xdr_array(x, &values, &m->valueCount, 1024, sizeof(uint32_t), reinterpret_cast<xdrproc_t>(xdr_u_int)) &&
        xdr_array(x, &items, &itemCount, 255, sizeof(Item), reinterpret_cast<xdrproc_t>(xdrItem));
    m->u8 = u8;
    m->u16 = u16;
    m->nameLength = static_cast<uint16_t>(nameLength);
    m->values = reinterpret_cast<uint32_t *>(values);
    m->items = reinterpret_cast<Item *>(items);
    m->itemCount = static_cast<uint8_t>(itemCount);
    return ok;
}

// Counts the blocks the deserializer asks for (plain malloc blocks, so
// the release frees them as usual).
size_t deserializerBlocks = 0;
void *countingAlloc(void *, size_t size, uintptr_t)
{
    ++deserializerBlocks;
    return std::malloc(size);
}
void plainFree(void *, void *block) { std::free(block); }
const zubAllocator_t countingRecord = {nullptr, countingAlloc, plainFree};

// One message through the deserializer in chunks of `chunk` bytes (0: all
// at once), then released.
bool deserialize(uint32_t chunk, const zubAllocator_t *allocator)
{
    zubDeserTableState_t stack[4];
    zubDeserState_t s;
    std::memset(&s, 0, sizeof s);
    s.stack = stack;
    s.stackCapacity = 4;
    s.allocator = allocator;
    Msg m{};
    s.current.table = &msgTable;
    s.current.base = &m;
    _zubDeserStatePushTable(&s);
    const uint32_t total = static_cast<uint32_t>(fixture.stream.size());
    const uint32_t step = chunk ? chunk : total;
    for (uint32_t at = 0; s.state < ZUB_DIS_DONE;) {
        s.buffer = fixture.stream.data() + at;
        s.bufferLength = total - at < step ? total - at : step;
        s.bufferPosition = 0;
        _zubDeserializeTableFrom(&s);
        at += s.bufferPosition;
    }
    benchmark::DoNotOptimize(m.items[15].id);
    const bool ok = s.state == ZUB_DIS_DONE && m.items[15].id == 15;
    _zubDeserMemoryDealloc(&msgTable, &m, 2);
    return ok;
}

void count(benchmark::State &state, size_t allocations)
{
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fixture.stream.size()));
    state.counters["allocs/msg"] = static_cast<double>(allocations);
}

void BM_Deserialize(benchmark::State &state)
{
    const auto chunk = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(deserialize(chunk, nullptr));
    }
    deserializerBlocks = 0;
    deserialize(chunk, &countingRecord);
    count(state, deserializerBlocks);
}

void BM_HandDecoder(benchmark::State &state)
{
    size_t allocations = 0;
    for (auto _ : state) {
        Msg m{};
        allocations = 0;
        benchmark::DoNotOptimize(handDecode(fixture.stream.data(), fixture.stream.size(), m, &allocations));
        benchmark::DoNotOptimize(m.items[15].id);
        handRelease(m);
    }
    count(state, allocations);
}

void BM_XdrDecode(benchmark::State &state)
{
    for (auto _ : state) {
        Msg m{};
        XDR x;
        xdrmem_create(&x, fixture.xdrStream.data(), static_cast<u_int>(fixture.xdrStream.size()), XDR_DECODE);
        benchmark::DoNotOptimize(xdrMsg(&x, &m));
        benchmark::DoNotOptimize(m.items[15].id);
        xdr_free(reinterpret_cast<xdrproc_t>(xdrMsg), reinterpret_cast<char *>(&m));
    }
    count(state, 3 + 16); // the same blocks: name, values, items, one name per item
}

BENCHMARK(BM_Deserialize)->Arg(0)->Arg(64)->Arg(1);
BENCHMARK(BM_HandDecoder);
BENCHMARK(BM_XdrDecode);

// Keeps messages per second of every run for the summary.
class Collector : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> rate;
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            // With --benchmark_repetitions the median stands for the run.
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            auto it = run.counters.find("items_per_second");
            if (it != run.counters.end()) rate[run.run_name.str()] = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char **argv)
{
    fixture.stream.resize(4096);
    const int32_t n = zubSimpleSerializeInto(fixture.stream.data(), 4096, &msgTable, &fixture.msg);
    fixture.stream.resize(n > 0 ? static_cast<size_t>(n) : 0);
    fixture.xdrStream.resize(4096);
    XDR x;
    xdrmem_create(&x, fixture.xdrStream.data(), 4096, XDR_ENCODE);
    Msg copy = fixture.msg;
    if (!xdrMsg(&x, &copy)) {
        std::fprintf(stderr, "XDR encoding failed\n");
        return 1;
    }
    fixture.xdrStream.resize(xdr_getpos(&x));
    size_t allocations = 0;
    Msg check{};
    const bool handOk = handDecode(fixture.stream.data(), fixture.stream.size(), check, &allocations);
    if (!handOk || check.items[15].value != 105 || !deserialize(0, nullptr) || !deserialize(1, nullptr)) {
        std::fprintf(stderr, "the decoders disagree with the stream\n");
        return 1;
    }
    handRelease(check);

    benchmark::Initialize(&argc, argv);
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    const double one = collector.rate["BM_Deserialize/0"];
    auto ratio = [&](const char *name, const char *of, double base) {
        if (base > 0 && collector.rate.count(name)) {
            std::printf("  %-22s %8.3f x %s\n", name, collector.rate[name] / base, of);
        }
    };
    std::printf("\nDeserializer ratios (messages per second, %zu-byte message, %zu blocks each):\n",
                fixture.stream.size(), allocations);
    ratio("BM_Deserialize/0", "hand-written decoder (aim >= 0.5)", collector.rate["BM_HandDecoder"]);
    ratio("BM_Deserialize/0", "XDR decoding (aim > 1)", collector.rate["BM_XdrDecode"]);
    ratio("BM_Deserialize/64", "one chunk", one);
    ratio("BM_Deserialize/1", "one chunk", one);
    return 0;
}
