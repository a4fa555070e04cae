// nanopb, the peer an embedded user would reach for, on the representative
// message of the serializer and deserializer benchmarks: the same members
// and values, described by bench/nanopb_message.proto with static sizes so
// that nanopb allocates nothing (its usual embedded set-up). Encode and
// decode messages per second; the figures sit beside BM_SimpleSerialize and
// BM_Deserialize/0 in scripts/bench.sh's table. The protobuf stream is
// varint-coded with tags, so its length differs from ours; the ratios are
// per message. Decoding here fills fixed arrays in place, while our
// deserializer allocates each string and array, so the decode ratio
// includes 19 malloc/free pairs on our side.
#include <benchmark/benchmark.h>

#include <cstdio>

#ifdef ZUB_BENCH_NO_NANOPB

int main()
{
    std::printf("nanopb not installed (Debian: nanopb libnanopb-dev): no nanopb figures\n");
    return 0;
}

#else

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <pb_decode.h>
#include <pb_encode.h>

#include "nanopb_message.pb.h"

namespace {

// The values of the serializer benchmark's fixture.
Msg makeMessage()
{
    Msg m = Msg_init_zero;
    m.u8 = 0x12;
    m.u16 = 0x3456;
    m.u32 = 0x789ABCDE;
    m.u64 = 0x0123456789ABCDEFull;
    std::memcpy(m.name, "a thirty-two byte message name!!", 33);
    m.values_count = 64;
    for (uint32_t i = 0; i < 64; ++i) m.values[i] = i * 0x01010101u;
    m.items_count = 16;
    for (uint32_t i = 0; i < 16; ++i) {
        m.items[i].id = i;
        m.items[i].value = i * 7u;
        std::snprintf(m.items[i].name, sizeof m.items[i].name, "item-%03u", i);
    }
    return m;
}

const Msg message = makeMessage();
uint8_t encoded[Msg_size];
size_t encodedBytes = 0;

void count(benchmark::State &state, size_t bytes)
{
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_NanopbEncode(benchmark::State &state)
{
    std::vector<uint8_t> out(4096);
    for (auto _ : state) {
        pb_ostream_t stream = pb_ostream_from_buffer(out.data(), out.size());
        benchmark::DoNotOptimize(pb_encode(&stream, Msg_fields, &message));
        benchmark::ClobberMemory();
    }
    count(state, encodedBytes);
}

void BM_NanopbDecode(benchmark::State &state)
{
    Msg m;
    for (auto _ : state) {
        pb_istream_t stream = pb_istream_from_buffer(encoded, encodedBytes);
        benchmark::DoNotOptimize(pb_decode(&stream, Msg_fields, &m));
        benchmark::DoNotOptimize(m.items[15].id);
    }
    count(state, encodedBytes);
}

BENCHMARK(BM_NanopbEncode);
BENCHMARK(BM_NanopbDecode);

bool sameMessage(const Msg &a, const Msg &b)
{
    if (a.u8 != b.u8 || a.u16 != b.u16 || a.u32 != b.u32 || a.u64 != b.u64 || std::strcmp(a.name, b.name) != 0 ||
        a.values_count != b.values_count || a.items_count != b.items_count) {
        return false;
    }
    for (pb_size_t i = 0; i < a.values_count; ++i) {
        if (a.values[i] != b.values[i]) return false;
    }
    for (pb_size_t i = 0; i < a.items_count; ++i) {
        if (a.items[i].id != b.items[i].id || a.items[i].value != b.items[i].value ||
            std::strcmp(a.items[i].name, b.items[i].name) != 0) {
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    pb_ostream_t out = pb_ostream_from_buffer(encoded, sizeof encoded);
    Msg back;
    if (!pb_encode(&out, Msg_fields, &message)) {
        std::fprintf(stderr, "nanopb encoding failed: %s\n", PB_GET_ERROR(&out));
        return 1;
    }
    encodedBytes = out.bytes_written;
    pb_istream_t in = pb_istream_from_buffer(encoded, encodedBytes);
    if (!pb_decode(&in, Msg_fields, &back) || !sameMessage(back, message)) {
        std::fprintf(stderr, "nanopb does not give the message back\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("\nnanopb stream of the representative message: %zu bytes\n", encodedBytes);
    return 0;
}

#endif
