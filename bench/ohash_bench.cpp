// Open hash table against std::unordered_map and absl::flat_hash_map:
// insert, successful find, failed find and remove of 1,000,000 entries,
// with 8-byte binary keys (through zubOHash*) and with short text keys
// (through ohash_*). The peers map the same keys to the same entries; text
// keys are string_views into the entries, so no peer copies strings.
// After the runs a table of per-operation times and ratios is printed,
// with the container memory per entry.
#include <benchmark/benchmark.h>

#include <absl/container/flat_hash_map.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "zub/ohash.h"

namespace {

constexpr size_t kEntries = 1000000;

uint64_t mix(uint64_t x) // a bijection: distinct inputs give distinct keys
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

struct BinaryEntry {
    uint64_t key; // the key bytes come first
    uint64_t payload;
};

struct TextEntry {
    char key[16]; // NUL-terminated, at offset 0
};

struct Data {
    std::vector<BinaryEntry> binary;
    std::vector<uint64_t> binaryMisses;
    std::vector<TextEntry> text;
    std::vector<TextEntry> textMisses;
    std::vector<uint32_t> order; // lookup order, shuffled

    Data() : binary(kEntries), binaryMisses(kEntries), text(kEntries), textMisses(kEntries), order(kEntries)
    {
        for (size_t i = 0; i < kEntries; ++i) {
            binary[i] = {mix(i), i};
            binaryMisses[i] = mix(i + kEntries);
            // Identifiers like "k3141592": distinct because i -> odd * i is a bijection mod 2^32.
            const uint32_t n = static_cast<uint32_t>(i) * 2654435761u;
            std::snprintf(text[i].key, sizeof text[i].key, "k%u", n);
            std::snprintf(textMisses[i].key, sizeof textMisses[i].key, "m%u", n);
            order[i] = static_cast<uint32_t>(i);
        }
        std::shuffle(order.begin(), order.end(), std::mt19937(12345));
    }
};

const Data &data()
{
    static const Data d;
    return d;
}

// ---- the table under test ----

struct OHashBinary {
    ohash table;
    OHashBinary() { zubOHashInit(&table, 4); }
    ~OHashBinary() { ohash_delete(&table); }
    void insert(BinaryEntry &e) { zubOHashInsert(&table, &e.key, 8, &e); }
    void *find(const uint64_t &key) { return zubOHashFind(&table, &key, 8); }
    void *remove(const uint64_t &key) { return zubOHashRemove(&table, &key, 8); }
    size_t bytes() const { return table.size * sizeof(ohash_slot); }
};

struct OHashText {
    ohash table;
    OHashText() { zubOHashInit(&table, 4); }
    ~OHashText() { ohash_delete(&table); }
    void insert(TextEntry &e) { ohash_insert(&table, ohash_qlookup(&table, e.key), &e); }
    void *find(const char *key) { return ohash_find(&table, ohash_qlookup(&table, key)); }
    void *remove(const char *key) { return ohash_remove(&table, ohash_qlookup(&table, key)); }
    size_t bytes() const { return table.size * sizeof(ohash_slot); }
};

// ---- the peers, counting their container memory ----

size_t g_peerBytes = 0;

template <typename T> struct CountingAlloc {
    using value_type = T;
    CountingAlloc() = default;
    template <typename U> CountingAlloc(const CountingAlloc<U> &) {}
    T *allocate(size_t n)
    {
        g_peerBytes += n * sizeof(T);
        return static_cast<T *>(::operator new(n * sizeof(T)));
    }
    void deallocate(T *p, size_t n)
    {
        g_peerBytes -= n * sizeof(T);
        ::operator delete(p);
    }
    template <typename U> bool operator==(const CountingAlloc<U> &) const { return true; }
};

template <typename Map> struct PeerBinary {
    Map map;
    void insert(BinaryEntry &e) { map.emplace(e.key, &e); }
    void *find(const uint64_t &key)
    {
        auto it = map.find(key);
        return it == map.end() ? nullptr : it->second;
    }
    void *remove(const uint64_t &key)
    {
        auto it = map.find(key);
        if (it == map.end()) {
            return nullptr;
        }
        void *e = it->second;
        map.erase(it);
        return e;
    }
};

template <typename Map> struct PeerText {
    Map map;
    void insert(TextEntry &e) { map.emplace(std::string_view(e.key), &e); }
    void *find(const char *key)
    {
        auto it = map.find(std::string_view(key));
        return it == map.end() ? nullptr : it->second;
    }
    void *remove(const char *key)
    {
        auto it = map.find(std::string_view(key));
        if (it == map.end()) {
            return nullptr;
        }
        void *e = it->second;
        map.erase(it);
        return e;
    }
};

template <typename K>
using StdMap = std::unordered_map<K, void *, std::hash<K>, std::equal_to<K>,
                                  CountingAlloc<std::pair<const K, void *>>>;
template <typename K>
using AbslMap = absl::flat_hash_map<K, void *, typename absl::flat_hash_map<K, void *>::hasher,
                                    typename absl::flat_hash_map<K, void *>::key_equal,
                                    CountingAlloc<std::pair<const K, void *>>>;

using StdBinary = PeerBinary<StdMap<uint64_t>>;
using AbslBinary = PeerBinary<AbslMap<uint64_t>>;
using StdText = PeerText<StdMap<std::string_view>>;
using AbslText = PeerText<AbslMap<std::string_view>>;

// ---- key access shared by every container ----

struct BinaryKeys {
    static std::vector<BinaryEntry> &entries() { return const_cast<Data &>(data()).binary; }
    static const uint64_t &hit(size_t i) { return data().binary[i].key; }
    static const uint64_t &miss(size_t i) { return data().binaryMisses[i]; }
};

struct TextKeys {
    static std::vector<TextEntry> &entries() { return const_cast<Data &>(data()).text; }
    static const char *hit(size_t i) { return data().text[i].key; }
    static const char *miss(size_t i) { return data().textMisses[i].key; }
};

template <typename Table, typename Keys> void fill(Table &table)
{
    for (auto &e : Keys::entries()) {
        table.insert(e);
    }
}

template <typename Table, typename Keys> void BM_Insert(benchmark::State &state)
{
    for (auto _ : state) {
        auto table = std::make_unique<Table>();
        fill<Table, Keys>(*table);
        benchmark::ClobberMemory();
        state.PauseTiming();
        table.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kEntries));
}

template <typename Table, typename Keys, bool kHit> void BM_Find(benchmark::State &state)
{
    auto table = std::make_unique<Table>();
    fill<Table, Keys>(*table);
    const auto &order = data().order;
    for (auto _ : state) {
        size_t found = 0;
        for (uint32_t i : order) {
            found += table->find(kHit ? Keys::hit(i) : Keys::miss(i)) != nullptr;
        }
        if (found != (kHit ? kEntries : 0)) {
            state.SkipWithError("wrong lookup result");
        }
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kEntries));
}

template <typename Table, typename Keys> void BM_Remove(benchmark::State &state)
{
    const auto &order = data().order;
    for (auto _ : state) {
        state.PauseTiming();
        auto table = std::make_unique<Table>();
        fill<Table, Keys>(*table);
        state.ResumeTiming();
        for (uint32_t i : order) {
            benchmark::DoNotOptimize(table->remove(Keys::hit(i)));
        }
        state.PauseTiming();
        table.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kEntries));
}

// Records nanoseconds per operation by benchmark name for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> nsPerOp;
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            if (!run.error_occurred && run.iterations > 0) {
                nsPerOp[run.benchmark_name()] =
                    run.GetAdjustedCPUTime() * 1e6 / static_cast<double>(kEntries);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

template <typename Table, typename Keys> void registerAll(const std::string &name)
{
    auto unit = [](benchmark::internal::Benchmark *b) { b->Unit(benchmark::kMillisecond); };
    unit(benchmark::RegisterBenchmark(("insert/" + name).c_str(), BM_Insert<Table, Keys>));
    unit(benchmark::RegisterBenchmark(("find_hit/" + name).c_str(), BM_Find<Table, Keys, true>));
    unit(benchmark::RegisterBenchmark(("find_miss/" + name).c_str(), BM_Find<Table, Keys, false>));
    unit(benchmark::RegisterBenchmark(("remove/" + name).c_str(), BM_Remove<Table, Keys>));
}

template <typename Table, typename Keys> double bytesPerEntry()
{
    g_peerBytes = 0;
    auto table = std::make_unique<Table>();
    fill<Table, Keys>(*table);
    if constexpr (requires { table->bytes(); }) {
        return static_cast<double>(table->bytes()) / kEntries;
    } else {
        return static_cast<double>(g_peerBytes) / kEntries;
    }
}

void printSummary(const SummaryReporter &reporter)
{
    // CPU time, not wall time: the machines this runs on are often shared.
    std::printf("\nCPU ns per operation and ratios ohash / peer (below 1: ohash faster)\n");
    std::printf("%-10s %-7s %9s %9s %9s %10s %10s\n", "operation", "keys", "ohash", "std", "absl",
                "ohash/std", "ohash/absl");
    for (const char *keys : {"binary", "text"}) {
        for (const char *op : {"insert", "find_hit", "find_miss", "remove"}) {
            auto get = [&](const char *who) {
                auto it = reporter.nsPerOp.find(std::string(op) + "/" + who + "_" + keys);
                return it == reporter.nsPerOp.end() ? 0.0 : it->second;
            };
            const double ours = get("ohash"), stdPeer = get("std"), abslPeer = get("absl");
            if (ours == 0.0) {
                continue;
            }
            std::printf("%-10s %-7s %9.1f %9.1f %9.1f %10.2f %10.2f\n", op, keys, ours, stdPeer,
                        abslPeer, stdPeer > 0 ? ours / stdPeer : 0.0,
                        abslPeer > 0 ? ours / abslPeer : 0.0);
        }
    }
    std::printf("\ncontainer bytes per entry at %zu entries (entries themselves not counted;\n"
                "ohash: slot array, %zu-byte slots on this build, 8 on armhf)\n",
                kEntries, sizeof(ohash_slot));
    std::printf("%-7s %9s %9s %9s\n", "keys", "ohash", "std", "absl");
    std::printf("%-7s %9.1f %9.1f %9.1f\n", "binary", bytesPerEntry<OHashBinary, BinaryKeys>(),
                bytesPerEntry<StdBinary, BinaryKeys>(), bytesPerEntry<AbslBinary, BinaryKeys>());
    std::printf("%-7s %9.1f %9.1f %9.1f\n", "text", bytesPerEntry<OHashText, TextKeys>(),
                bytesPerEntry<StdText, TextKeys>(), bytesPerEntry<AbslText, TextKeys>());
}

} // namespace

int main(int argc, char **argv)
{
    registerAll<OHashBinary, BinaryKeys>("ohash_binary");
    registerAll<StdBinary, BinaryKeys>("std_binary");
    registerAll<AbslBinary, BinaryKeys>("absl_binary");
    registerAll<OHashText, TextKeys>("ohash_text");
    registerAll<StdText, TextKeys>("std_text");
    registerAll<AbslText, TextKeys>("absl_text");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printSummary(reporter);
    benchmark::Shutdown();
    return 0;
}
