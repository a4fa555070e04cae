// Sorted id list: put, get, remove, key proposal, first/last and iterator
// walks from the fuzz input, checked against std::map after every
// operation. Both arrays come from an allocator that the input can make
// fail; at the end nothing may be left allocated.
#include <map>

#include "fuzz_input.h"
#include "test_support.h"
#include "zub/sortedidlist.h"

namespace {

using Model = std::map<uint16_t, std::vector<uint8_t>>;

// The key the list must propose: up from the largest by 2, down from the
// smallest by 2, else the middle of the first gap; -1 when there is none.
long proposed_key(const Model &model)
{
    const long lowest = model.empty() ? 0 : model.begin()->first;
    const long highest = model.empty() ? 32766 : model.rbegin()->first;
    if (highest <= 65532 || lowest > 1)
        return highest <= 65532 ? highest + 2 : lowest - 2;
    for (auto a = model.begin(), b = std::next(a); b != model.end(); ++a, ++b) {
        if (b->first - a->first > 1)
            return a->first + (b->first - a->first) / 2;
    }
    return -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zubfuzz::Input in(data, size);
    zubtest::CountingAllocator values, keys;
    zubSortedIdListParams_t params = {values.record(), keys.record(), 1u + in.small(12),
                                      static_cast<uint16_t>(in.small(2) ? in.small(41) : in.u16()),
                                      in.u8()};
    const bool wideKeys = in.small(2) == 1; // else keys cluster at both ends of the range
    zubSortedIdList_t list; // a refused initialize (no entries allowed) still sets every field
    std::memset(&list, 0xEE, sizeof list);
    FUZZ_CHECK(zubSortedIdListInitialize(&list, &params) == (params.maxEntries == 0 ? -22 : 0) &&
               list.modCount == 0 && list.growStep == params.growStep && !list.keys);

    Model model;
    while (params.maxEntries != 0 && !in.empty()) {
        const uint32_t op = in.small(12);
        const uint16_t raw = in.u16();
        const uint16_t key =
            wideKeys ? raw : static_cast<uint16_t>(raw & 0x8000 ? 0xFFFF - (raw & 15) : raw & 15);
        const auto it = model.find(key);
        const bool found = it != model.end();
        const auto same = [&](const void *v, const std::vector<uint8_t> &b) {
            return !std::memcmp(v, b.data(), params.valueSize);
        };
        void *value = reinterpret_cast<void *>(uintptr_t{1});
        if (op < 4) {
            values.failAfter = in.small(16) == 0 ? 0 : -1;
            keys.failAfter = in.small(16) == 0 ? 0 : -1;
            const int32_t result = zubSortedIdListPutUnique(&list, &value, key);
            if (result == -28 && !found) {
                FUZZ_CHECK(value == nullptr);
                continue;
            }
            FUZZ_CHECK(found ? result == 1 && same(value, it->second)
                             : result == 0 && model.size() < params.maxEntries);
            const auto &bytes = model[key] = std::vector<uint8_t>(params.valueSize, in.u8());
            std::memcpy(value, bytes.data(), bytes.size());
        } else if (op < 6) {
            FUZZ_CHECK(zubSortedIdListGet(&list, &value, key) == found &&
                       (found ? same(value, it->second) : value == nullptr));
        } else if (op < 8) {
            FUZZ_CHECK(zubSortedIdListRemove(&list, key) == (found ? 0 : -2));
            model.erase(key);
        } else if (op == 8) {
            uint16_t proposal = 0;
            const int32_t result = zubSortedIdListCreateKey(&list, &proposal);
            FUZZ_CHECK(proposed_key(model) < 0 ? result == -28
                                               : result == 0 && proposal == proposed_key(model));
        } else if (op == 9) { // the first or the last entry
            const bool last = in.small(2);
            uint16_t ends[2] = {};
            const int32_t want = model.empty() ? -2 : 0;
            FUZZ_CHECK((last ? zubSortedIdListGetLastEntry
                             : zubSortedIdListGetFirstEntry)(&list, &ends[0], &value) == want &&
                       (last ? zubSortedIdListGetLastKey
                             : zubSortedIdListGetFirstKey)(&list, &ends[1]) == want);
            const auto end = last && !want ? std::prev(model.end()) : model.begin();
            FUZZ_CHECK(want || (ends[0] == end->first && ends[1] == end->first &&
                                same(value, end->second)));
        } else {
            // A walk in key order; a change half way ends it.
            zubSortedIdListIterator_t iterator;
            FUZZ_CHECK(zubSortedIdListIterator(&list, &iterator) == 0);
            const size_t changeAt = op == 11 ? in.small(8) : SIZE_MAX;
            size_t step = 0;
            uint32_t got = 7;
            for (auto kv = model.begin(); kv != model.end(); ++kv, ++step) {
                if (step == changeAt) {
                    zubSortedIdListRemove(&list, kv->first);
                    model.erase(kv);
                    FUZZ_CHECK(zubSortedIdListNext(&list, &iterator) == 0 &&
                               zubSortedIdListGetKey(&list, &iterator, &got) == -4 && got == 0);
                    break;
                }
                FUZZ_CHECK(zubSortedIdListNext(&list, &iterator) == 1 &&
                           zubSortedIdListGetKey(&list, &iterator, &got) == 0 && got == kv->first &&
                           zubSortedIdListGetValue(&list, &iterator, &value) == 0 &&
                           same(value, kv->second));
            }
            FUZZ_CHECK(step == changeAt || zubSortedIdListNext(&list, &iterator) == 0);
        }
        FUZZ_CHECK(zubSortedIdListGetSize(&list) == static_cast<int32_t>(model.size()));
    }
    // Null arguments are refused, whatever the list holds.
    uint16_t key = 0;
    uint32_t wide = 0;
    FUZZ_CHECK(zubSortedIdListCreateKey(&list, nullptr) + zubSortedIdListCreateKey(nullptr, &key) +
                   zubSortedIdListGetSize(nullptr) + zubSortedIdListRelease(nullptr) +
                   zubSortedIdListGetFirstKey(&list, nullptr) +
                   zubSortedIdListPutUnique(nullptr, nullptr, key) +
                   zubSortedIdListInitialize(&list, nullptr) +
                   zubSortedIdListGetLastKey(&list, nullptr) +
                   zubSortedIdListGetKey(&list, nullptr, &wide) ==
               9 * -22);
    FUZZ_CHECK((params.maxEntries == 0 || zubSortedIdListRelease(&list) == 0) &&
               values.live.empty() && keys.live.empty());
    return 0;
}
