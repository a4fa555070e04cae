// Keyed open hash: insert, find, remove and iteration sequences from the
// fuzz input, with keys from a small alphabet so that collisions, tombstones
// and rebuilds are frequent, checked against std::unordered_map after every
// operation that answers something. Entries are exact-size heap blocks.
// Refused sizes, refused arguments and the duplicate's message are checked
// on the way.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "zub_debug_test.h"
#include "fuzz_input.h"
#include "zub/ohash.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zubDebugTestEnableAll();
    zubDebugTestCapture(1);
    zubfuzz::Input in(data, size);
    const uint32_t length = in.small(9); // 0 to 8 key bytes
    const uint32_t alphabet = 1 + in.small(8);
    int32_t exponent = static_cast<int32_t>(in.small(13)) - 1; // -1, 0 and past 31 are refused
    exponent = exponent == 11 ? 32 + (in.u8() << 23) : exponent;

    ohash table, untouched;
    std::memset(&table, 0x5A, sizeof table);
    std::memset(&untouched, 0x5A, sizeof table);
    FUZZ_CHECK(zubOHashInit(&untouched, 32) == -22);
    const int32_t initResult = zubOHashInit(&table, exponent);
    if (exponent <= 0 || exponent > 31) {
        FUZZ_CHECK(initResult == -22 && std::memcmp(&table, &untouched, sizeof table) == 0);
        return 0;
    }
    FUZZ_CHECK(initResult == 0 && table.size == (exponent < 4 ? 16u : 1u << exponent) && table.setup.keyOffset == 0);

    std::unordered_map<std::string, void *> model;
    while (!in.empty()) {
        const uint32_t op = in.small(8);
        std::string key(length, '\0');
        for (char &c : key) {
            c = static_cast<char>(in.small(alphabet) * 37u);
        }
        const auto it = model.find(key);
        void *const present = it == model.end() ? nullptr : it->second;
        if (op < 3) {
            void *entry = std::memcpy(std::malloc(length == 0 ? 1 : length), key.data(), length);
            const int32_t result = zubOHashInsert(&table, key.data(), length, entry);
            FUZZ_CHECK(result == (present ? -16 : 0));
            FUZZ_CHECK(zubDebugTestCount() == (present ? 1u : 0u));
            if (present) {
                uint32_t site[3];
                FUZZ_CHECK(std::strcmp(zubDebugTestMessage(0), "zubOHashInsert: collision in open hash!\n") == 0);
                FUZZ_CHECK(zubDebugTestSite(0, site) && site[0] == 0x00010BB8u && site[1] == 0 && site[2] == 0);
                std::free(entry);
            } else {
                model.emplace(key, entry);
            }
        } else if (op < 5) {
            void *removed = zubOHashRemove(&table, key.data(), length);
            FUZZ_CHECK(removed == present);
            std::free(removed);
            model.erase(key);
        } else if (op < 7) {
            FUZZ_CHECK(zubOHashFind(&table, key.data(), length) == present);
            // Refused arguments change nothing: no key bytes, no entry, the deleted marker.
            FUZZ_CHECK(zubOHashInsert(&table, nullptr, 1 + length, &model) == -22 &&
                       zubOHashInsert(&table, key.data(), length, nullptr) == -22 &&
                       zubOHashInsert(&table, key.data(), length, &table) == -22);
            FUZZ_CHECK(zubOHashFind(&table, nullptr, 1 + length) == nullptr &&
                       zubOHashRemove(&table, nullptr, 1 + length) == nullptr);
        } else {
            std::unordered_set<void *> seen;
            uint32_t position = 0;
            for (void *e = zubOHashFirstHV(&table, &position); e != nullptr; e = zubOHashNextHV(&table, &position)) {
                FUZZ_CHECK(seen.insert(e).second && model.count(std::string(static_cast<char *>(e), length)) == 1);
            }
            FUZZ_CHECK(seen.size() == model.size() && position == table.size);
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
