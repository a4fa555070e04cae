// Keyed open hash: insert, find, remove and iteration sequences from the
// fuzz input, with keys from a small alphabet so that collisions, tombstones
// and rebuilds are frequent, checked against std::unordered_map after every
// operation that answers something. Entries are exact-size heap blocks.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "zub_debug_test.h"
#include "fuzz_input.h"
#include "zub/ohash.h"

namespace {

std::string take_key(zubfuzz::Input &in, uint32_t length, uint32_t alphabet)
{
    std::string key(length, '\0');
    for (char &c : key) {
        c = static_cast<char>(in.small(alphabet) * 37u);
    }
    return key;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zubDebugTestEnableAll();
    zubDebugTestCapture(1);
    zubfuzz::Input in(data, size);
    const uint32_t length = in.small(9); // 0 to 8 key bytes
    const uint32_t alphabet = 1 + in.small(8);
    const int32_t exponent = static_cast<int32_t>(in.small(12)) - 1; // -1 and 0 are refused

    ohash table;
    std::memset(&table, 0x5A, sizeof table);
    const int32_t initResult = zubOHashInit(&table, exponent);
    if (exponent <= 0) {
        FUZZ_CHECK(initResult == -22);
        return 0;
    }
    FUZZ_CHECK(initResult == 0);

    std::unordered_map<std::string, void *> model;
    while (!in.empty()) {
        const uint32_t op = in.small(8);
        const std::string key = take_key(in, length, alphabet);
        const auto it = model.find(key);
        if (op < 3) {
            void *entry = std::malloc(length == 0 ? 1 : length);
            std::memcpy(entry, key.data(), length);
            const int32_t result = zubOHashInsert(&table, key.data(), length, entry);
            if (it != model.end()) {
                FUZZ_CHECK(result == -16);
                std::free(entry);
            } else {
                FUZZ_CHECK(result == 0);
                model.emplace(key, entry);
            }
        } else if (op < 5) {
            void *removed = zubOHashRemove(&table, key.data(), length);
            FUZZ_CHECK(removed == (it == model.end() ? nullptr : it->second));
            if (removed != nullptr) {
                std::free(removed);
                model.erase(it);
            }
        } else if (op < 7) {
            FUZZ_CHECK(zubOHashFind(&table, key.data(), length) == (it == model.end() ? nullptr : it->second));
        } else {
            std::unordered_set<void *> seen;
            uint32_t position = 0;
            for (void *e = zubOHashFirstHV(&table, &position); e != nullptr; e = zubOHashNextHV(&table, &position)) {
                FUZZ_CHECK(seen.insert(e).second);
            }
            FUZZ_CHECK(seen.size() == model.size());
            for (const auto &kv : model) {
                FUZZ_CHECK(seen.count(kv.second) == 1);
            }
        }
        // The counters match the slots, and every operation restores the load bounds: at most
        // three-quarters of the slots used, tombstones at most a quarter of them once there are four.
        uint32_t used = 0, tombstones = 0;
        for (uint32_t i = 0; i < table.size; ++i) {
            used += table.slots[i].entry != nullptr;
            tombstones += table.slots[i].entry == ohash_deleted(&table);
        }
        FUZZ_CHECK(used == table.total && tombstones == table.deleted && ohash_entries(&table) == model.size());
        FUZZ_CHECK(4ull * table.total <= 3ull * table.size && (table.deleted < 4 || 4 * table.deleted <= table.total));
        zubDebugTestClear();
    }
    for (const auto &kv : model) {
        std::free(kv.second);
    }
    ohash_delete(&table);
    ohash_delete(&table); // a second delete is harmless
    zubDebugTestClear();
    return 0;
}
