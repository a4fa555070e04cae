// Sorted id list: put, get, remove, key proposal, first/last and iterator
// walks from the fuzz input, checked against std::map after every
// operation. Both arrays come from an allocator that the input can make
// fail; at the end nothing may be left allocated.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <vector>

#include "fuzz_input.h"
#include "zub/sortedidlist.h"

namespace {

struct Arena {
    zubAllocator_t record;
    long live = 0;
    bool failNext = false;
};

void *arena_alloc(void *context, size_t size, uintptr_t zero)
{
    auto *arena = static_cast<Arena *>(context);
    FUZZ_CHECK(zero == 0 && size != 0);
    if (arena->failNext) {
        arena->failNext = false;
        return nullptr;
    }
    void *block = std::malloc(size);
    std::memset(block, 0xCD, size);
    arena->live += 1;
    return block;
}

void arena_release(void *context, void *block)
{
    auto *arena = static_cast<Arena *>(context);
    if (block != nullptr) {
        arena->live -= 1;
        std::free(block);
    }
}

// The key the list must propose, by its rule, or -1 when none.
long proposed_key(const std::map<uint16_t, std::vector<uint8_t>> &model)
{
    if (model.empty()) {
        return 32768;
    }
    const unsigned lowest = model.begin()->first, highest = model.rbegin()->first;
    if (highest <= 65532) {
        return highest + 2;
    }
    if (lowest > 1) {
        return lowest - 2;
    }
    for (auto a = model.begin(), b = std::next(a); b != model.end(); ++a, ++b) {
        if (b->first - a->first > 1) {
            return a->first + (b->first - a->first) / 2;
        }
    }
    return -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zubfuzz::Input in(data, size);
    Arena values, keys;
    values.record = {&values, arena_alloc, arena_release};
    keys.record = {&keys, arena_alloc, arena_release};
    zubSortedIdListParams_t params = {&values.record, &keys.record, 1u + in.small(12),
                                      static_cast<uint16_t>(in.small(2) ? 1 + in.small(40) : in.u16()),
                                      in.u8()};
    const bool wideKeys = in.small(2) == 1; // else keys cluster at both ends of the range
    zubSortedIdList_t list;
    if (params.maxEntries == 0) {
        FUZZ_CHECK(zubSortedIdListInitialize(&list, &params) == -22);
        return 0;
    }
    FUZZ_CHECK(zubSortedIdListInitialize(&list, &params) == 0);
    const size_t valueSize = params.valueSize;

    std::map<uint16_t, std::vector<uint8_t>> model;
    while (!in.empty()) {
        const uint32_t op = in.small(12);
        const uint16_t raw = in.u16();
        const uint16_t key = wideKeys ? raw : static_cast<uint16_t>(raw & 0x8000 ? 0xFFFF - (raw & 15) : raw & 15);
        const auto it = model.find(key);
        void *value = reinterpret_cast<void *>(uintptr_t{1});
        if (op < 4) {
            values.failNext = in.small(16) == 0;
            keys.failNext = in.small(16) == 0;
            const int32_t result = zubSortedIdListPutUnique(&list, &value, key);
            values.failNext = keys.failNext = false;
            if (it != model.end()) {
                FUZZ_CHECK(result == 1 && std::memcmp(value, it->second.data(), valueSize) == 0);
            } else if (result == -28) {
                FUZZ_CHECK(value == nullptr);
                continue;
            } else {
                FUZZ_CHECK(result == 0 && model.size() < params.maxEntries);
            }
            std::vector<uint8_t> bytes(valueSize);
            for (uint8_t &b : bytes) {
                b = in.u8();
            }
            std::memcpy(value, bytes.data(), valueSize);
            model[key] = bytes;
        } else if (op == 4) {
            FUZZ_CHECK(zubSortedIdListPutUnique(&list, nullptr, key) == (it != model.end() ? 1 : 0));
        } else if (op == 5) {
            const int32_t result = zubSortedIdListGet(&list, &value, key);
            FUZZ_CHECK(result == (it != model.end() ? 1 : 0));
            FUZZ_CHECK(result == 0 ? value == nullptr : std::memcmp(value, it->second.data(), valueSize) == 0);
        } else if (op < 8) {
            FUZZ_CHECK(zubSortedIdListRemove(&list, key) == (it != model.end() ? 0 : -2));
            if (it != model.end()) {
                model.erase(it);
            }
        } else if (op == 8) {
            uint16_t proposal = 0;
            const long want = proposed_key(model);
            const int32_t result = zubSortedIdListCreateKey(&list, &proposal);
            FUZZ_CHECK(want < 0 ? result == -28 : result == 0 && proposal == want && model.count(proposal) == 0);
        } else if (op == 9) {
            uint16_t first = 0, last = 0;
            void *firstValue = nullptr, *lastValue = nullptr;
            const int32_t want = model.empty() ? -2 : 0;
            FUZZ_CHECK(zubSortedIdListGetFirstEntry(&list, &first, &firstValue) == want);
            FUZZ_CHECK(zubSortedIdListGetLastEntry(&list, &last, &lastValue) == want);
            FUZZ_CHECK(zubSortedIdListGetFirstKey(&list, &first) == want);
            FUZZ_CHECK(zubSortedIdListGetLastKey(&list, &last) == want);
            if (want == 0) {
                FUZZ_CHECK(first == model.begin()->first && last == model.rbegin()->first);
                FUZZ_CHECK(std::memcmp(firstValue, model.begin()->second.data(), valueSize) == 0);
                FUZZ_CHECK(std::memcmp(lastValue, model.rbegin()->second.data(), valueSize) == 0);
            }
        } else {
            // A walk in key order; a change half way ends it.
            zubSortedIdListIterator_t iterator;
            FUZZ_CHECK(zubSortedIdListIterator(&list, &iterator) == 0);
            const size_t changeAt = op == 11 ? in.small(8) : SIZE_MAX;
            size_t step = 0;
            for (const auto &kv : model) {
                if (step++ == changeAt) {
                    zubSortedIdListRemove(&list, kv.first);
                    model.erase(kv.first);
                    uint32_t got = 7;
                    FUZZ_CHECK(zubSortedIdListNext(&list, &iterator) == 0);
                    FUZZ_CHECK(zubSortedIdListGetKey(&list, &iterator, &got) == -4 && got == 0);
                    break;
                }
                FUZZ_CHECK(zubSortedIdListNext(&list, &iterator) == 1);
                uint32_t got = 0;
                FUZZ_CHECK(zubSortedIdListGetKey(&list, &iterator, &got) == 0 && got == kv.first);
                FUZZ_CHECK(zubSortedIdListGetValue(&list, &iterator, &value) == 0);
                FUZZ_CHECK(std::memcmp(value, kv.second.data(), valueSize) == 0);
            }
            if (step <= changeAt) {
                FUZZ_CHECK(zubSortedIdListNext(&list, &iterator) == 0);
            }
        }
        FUZZ_CHECK(zubSortedIdListGetSize(&list) == static_cast<int32_t>(model.size()));
        FUZZ_CHECK(list.count <= list.alloced && list.alloced <= list.maxEntries);
    }
    FUZZ_CHECK(zubSortedIdListRelease(&list) == 0);
    FUZZ_CHECK(values.live == 0 && keys.live == 0);
    return 0;
}
