// The sorted id list beside std::map<uint16_t, uint32_t> and a sorted
// std::vector searched with std::lower_bound: put (random and ascending
// keys), get, remove and a full walk, with 1,000 and 60,000 keys. Prints
// peer time / list time per pair (above 1: ours is faster).
#include <benchmark/benchmark.h>

#include "cpu_time_reporter.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "zub/sortedidlist.h"

namespace {

using CollectingReporter = bench::CpuTimeReporter;

// n distinct keys in random order.
std::vector<uint16_t> randomKeys(int64_t n, unsigned seed)
{
    std::vector<uint16_t> all(65536);
    std::iota(all.begin(), all.end(), 0);
    std::mt19937 rng(seed);
    std::shuffle(all.begin(), all.end(), rng);
    all.resize(static_cast<size_t>(n));
    return all;
}

std::vector<uint16_t> ascendingKeys(int64_t n)
{
    std::vector<uint16_t> keys(static_cast<size_t>(n));
    for (size_t i = 0; i < keys.size(); i++) {
        keys[i] = static_cast<uint16_t>(i);
    }
    return keys;
}

struct IdList {
    zubSortedIdList_t list;
    IdList()
    {
        zubSortedIdListParams_t params{nullptr, nullptr, sizeof(uint32_t), 65535, 255};
        zubSortedIdListInitialize(&list, &params);
    }
    ~IdList() { zubSortedIdListRelease(&list); }
    void put(uint16_t key, uint32_t value)
    {
        void *slot;
        if (zubSortedIdListPutUnique(&list, &slot, key) >= 0) {
            std::memcpy(slot, &value, sizeof value);
        }
    }
    uint32_t get(uint16_t key)
    {
        void *slot;
        uint32_t value = 0;
        if (zubSortedIdListGet(&list, &slot, key) == 1) {
            std::memcpy(&value, slot, sizeof value);
        }
        return value;
    }
    void remove(uint16_t key) { zubSortedIdListRemove(&list, key); }
    uint64_t walk()
    {
        uint64_t sum = 0;
        zubSortedIdListIterator_t it;
        zubSortedIdListIterator(&list, &it);
        while (zubSortedIdListNext(&list, &it)) {
            void *slot;
            uint32_t key;
            zubSortedIdListGetKey(&list, &it, &key);
            zubSortedIdListGetValue(&list, &it, &slot);
            uint32_t value;
            std::memcpy(&value, slot, sizeof value);
            sum += key + value;
        }
        return sum;
    }
};

struct Map {
    std::map<uint16_t, uint32_t> map;
    void put(uint16_t key, uint32_t value) { map.emplace(key, value); }
    uint32_t get(uint16_t key)
    {
        auto it = map.find(key);
        return it == map.end() ? 0 : it->second;
    }
    void remove(uint16_t key) { map.erase(key); }
    uint64_t walk()
    {
        uint64_t sum = 0;
        for (auto &e : map) {
            sum += e.first + e.second;
        }
        return sum;
    }
};

struct Sorted {
    std::vector<std::pair<uint16_t, uint32_t>> items;
    static bool less(const std::pair<uint16_t, uint32_t> &e, uint16_t k) { return e.first < k; }
    void put(uint16_t key, uint32_t value)
    {
        auto it = std::lower_bound(items.begin(), items.end(), key, less);
        if (it == items.end() || it->first != key) {
            items.insert(it, {key, value});
        }
    }
    uint32_t get(uint16_t key)
    {
        auto it = std::lower_bound(items.begin(), items.end(), key, less);
        return it != items.end() && it->first == key ? it->second : 0;
    }
    void remove(uint16_t key)
    {
        auto it = std::lower_bound(items.begin(), items.end(), key, less);
        if (it != items.end() && it->first == key) {
            items.erase(it);
        }
    }
    uint64_t walk()
    {
        uint64_t sum = 0;
        for (auto &e : items) {
            sum += e.first + e.second;
        }
        return sum;
    }
};

template <typename C> void PutRandom(benchmark::State &state)
{
    const auto keys = randomKeys(state.range(0), 1);
    for (auto _ : state) {
        C c;
        for (uint16_t k : keys) {
            c.put(k, k);
        }
        benchmark::DoNotOptimize(c);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

template <typename C> void PutAscending(benchmark::State &state)
{
    const auto keys = ascendingKeys(state.range(0));
    for (auto _ : state) {
        C c;
        for (uint16_t k : keys) {
            c.put(k, k);
        }
        benchmark::DoNotOptimize(c);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

template <typename C> void Get(benchmark::State &state)
{
    const auto keys = randomKeys(state.range(0), 2);
    C c;
    for (uint16_t k : keys) {
        c.put(k, k);
    }
    const auto probes = randomKeys(state.range(0), 3); // about n / 65536 of them hit
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(c.get(keys[i]));
        benchmark::DoNotOptimize(c.get(probes[i]));
        if (++i == keys.size()) {
            i = 0;
        }
    }
    state.SetItemsProcessed(state.iterations() * 2);
}

template <typename C> void Remove(benchmark::State &state)
{
    const auto keys = randomKeys(state.range(0), 4);
    auto order = keys;
    std::shuffle(order.begin(), order.end(), std::mt19937(5));
    for (auto _ : state) {
        state.PauseTiming();
        C c;
        for (uint16_t k : keys) {
            c.put(k, k);
        }
        state.ResumeTiming();
        for (uint16_t k : order) {
            c.remove(k);
        }
        benchmark::DoNotOptimize(c);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

template <typename C> void Walk(benchmark::State &state)
{
    const auto keys = randomKeys(state.range(0), 6);
    C c;
    for (uint16_t k : keys) {
        c.put(k, k);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(c.walk());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

} // namespace

#define ZUB_PEERS(bench)                                                                           \
    BENCHMARK(bench<IdList>)->Arg(1000)->Arg(60000);                                               \
    BENCHMARK(bench<Map>)->Arg(1000)->Arg(60000);                                                  \
    BENCHMARK(bench<Sorted>)->Arg(1000)->Arg(60000)

ZUB_PEERS(PutRandom);
ZUB_PEERS(PutAscending);
ZUB_PEERS(Get);
ZUB_PEERS(Remove);
ZUB_PEERS(Walk);

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%-28s %12s %12s\n", "peer / id list (CPU time)", "std::map", "sorted vec");
    for (const auto &[name, ours] : reporter.times) {
        const auto at = name.find("<IdList>");
        if (at == std::string::npos || ours <= 0) {
            continue;
        }
        const std::string op = name.substr(0, at);
        const std::string arg = name.substr(at + 8);
        const auto map = reporter.times.find(op + "<Map>" + arg);
        const auto sorted = reporter.times.find(op + "<Sorted>" + arg);
        std::printf("%-28s %12.2f %12.2f\n", (op + arg).c_str(),
                    map == reporter.times.end() ? 0.0 : map->second / ours,
                    sorted == reporter.times.end() ? 0.0 : sorted->second / ours);
    }
    benchmark::Shutdown();
    return 0;
}
