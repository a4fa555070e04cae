// Open hash through the keyed map: insert, find, remove and iteration
// sequences from the fuzz input, with keys from a small alphabet so that
// collisions, tombstones and rebuilds are frequent, checked against
// std::unordered_map after every operation. The table comes from
// zubOHashInit (refused sizes included) or from ohash_init with slot arrays
// that the input can make fail, so that the table also fills up; either
// way the slot counters follow the load rules exactly: grow past three
// quarters, rebuild when tombstones pass a quarter of the used slots.
// Entries are exact-size heap blocks; refused arguments and the
// duplicate's message are checked on the way.
#include <string>
#include <unordered_map>

#include "fuzz_input.h"
#include "zub/ohash.h"
#include "zub_debug_test.h"

namespace {

// Zero-filled slot arrays, released with the byte counts they were made
// with (live sums them). Mode 1 fails every allocation, mode 2 one in four.
struct Slots {
    zubfuzz::Input *in;
    uint32_t mode = 0, calls = 0, failed = 0;
    size_t live = 0;
};

void *slots_alloc(size_t bytes, void *user)
{
    auto *s = static_cast<Slots *>(user);
    s->calls += 1;
    s->failed = s->mode == 1 || (s->mode == 2 && s->in->small(4) == 0);
    s->live += s->failed ? 0 : bytes;
    return s->failed ? nullptr : std::calloc(1, bytes);
}

void slots_release(void *block, size_t bytes, void *user)
{
    static_cast<Slots *>(user)->live -= block != nullptr ? bytes : 1; // no null block comes back
    std::free(block);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zubDebugTestEnableAll();
    zubDebugTestCapture(1);
    zubfuzz::Input in(data, size);
    const uint32_t length = in.small(9); // 0 to 8 key bytes
    const uint8_t shape = in.u8();
    const uint32_t alphabet = 1 + shape % 8, mode = shape / 8 % 4; // mode 0: zubOHashInit
    int32_t exponent = static_cast<int32_t>(in.small(13)) - 1;     // -1, 0 and past 31 are refused
    exponent = exponent == 11 ? 32 + (in.small(2) << 30) : exponent;

    ohash table;
    Slots slots{&in};
    const bool own = mode != 0 && exponent > 0 && exponent < 11;
    if (own) {
        const ohash_setup setup{0, &slots, slots_alloc, slots_release, nullptr};
        ohash_init(&table, static_cast<uint32_t>(exponent), &setup);
        slots.mode = mode - 1;
        FUZZ_CHECK(table.slots != nullptr && slots.calls == 1);
    } else if (exponent <= 0 || exponent > 31) {
        FUZZ_CHECK(zubOHashInit(&table, exponent) == -22);
        return 0;
    } else {
        FUZZ_CHECK(zubOHashInit(&table, exponent) == 0 && table.setup.keyOffset == 0);
    }

    std::unordered_map<std::string, void *> model;
    while (!in.empty()) {
        const uint32_t op = in.small(8);
        std::string key(length, '\0');
        std::generate(key.begin(), key.end(), [&] { return in.small(alphabet) * 37u; });
        void *const present = model.count(key) ? model[key] : nullptr;
        const uint32_t size0 = table.size, total0 = table.total, deleted0 = table.deleted;
        uint32_t total = total0, deleted = deleted0; // before a resize
        bool grow = false;
        slots.calls = slots.failed = 0;
        if (op < 3) {
            void *entry = std::memcpy(std::malloc(length == 0 ? 1 : length), key.data(), length);
            const bool full = total0 == size0 && deleted0 == 0;
            const int32_t result = present ? -16 : full ? -12 : 0;
            FUZZ_CHECK(zubOHashInsert(&table, key.data(), length, entry) == result);
            uint32_t site[3] = {};
            FUZZ_CHECK(zubDebugTestCount() == (present ? 1u : 0u) &&
                       (!present || (zubDebugTestSite(0, site) && site[0] == 0x00010BB8u &&
                                     site[1] + site[2] == 0)));
            FUZZ_CHECK(!present || !std::strcmp(zubDebugTestMessage(0),
                                                "zubOHashInsert: collision in open hash!\n"));
            if (present || full) {
                std::free(entry);
            } else {
                const bool reused =
                    table.total == total0 && table.size == size0 && deleted0 > 0; // a tombstone
                deleted -= reused;
                total += !reused;
                grow = !reused && 4 * total > 3 * size0;
                model.emplace(key, entry);
            }
        } else if (op < 5) {
            FUZZ_CHECK(zubOHashRemove(&table, key.data(), length) == present);
            deleted += present != nullptr;
            grow = present != nullptr && deleted >= 4 && 4 * deleted > total;
            std::free(present);
            model.erase(key);
        } else {
            FUZZ_CHECK(zubOHashFind(&table, key.data(), length) == present);
            // Refused arguments change nothing: no key bytes, no entry, the deleted marker.
            FUZZ_CHECK(zubOHashInsert(&table, nullptr, 1 + length, &model) == -22 &&
                       zubOHashInsert(&table, key.data(), length, nullptr) == -22 &&
                       zubOHashInsert(&table, key.data(), length, &table) == -22);
            FUZZ_CHECK(zubOHashFind(&table, nullptr, 1 + length) == nullptr &&
                       zubOHashRemove(&table, nullptr, 1 + length) == nullptr);
        }
        // The load rules: a resize doubles while live entries outnumber four times the
        // tombstones, else halves when tombstones pass two thirds of the used slots; at least 16.
        uint32_t want = size0;
        if (grow && !slots.failed) {
            want = std::max(16u, total > 4 * deleted       ? 2 * size0
                                 : 3 * deleted > 2 * total ? size0 / 2
                                                           : size0);
            total -= deleted;
            deleted = 0;
        }
        FUZZ_CHECK(slots.calls == (own && grow ? 1u : 0u));
        FUZZ_CHECK(table.size == want && table.total == total && table.deleted == deleted &&
                   ohash_entries(&table) == model.size());
        zubDebugTestClear();
    }
    uint32_t position = 0; // iteration meets every entry once
    for (void *e = zubOHashFirstHV(&table, &position); e != nullptr;
         e = zubOHashNextHV(&table, &position)) {
        FUZZ_CHECK(model.erase(std::string(static_cast<char *>(e), length)) == 1);
        std::free(e);
    }
    FUZZ_CHECK(model.empty() && position == table.size);
    ohash_delete(&table);
    FUZZ_CHECK(table.slots == nullptr && table.size == 0 && table.total == 0 &&
               table.deleted == 0 && slots.live == 0);
    zubDebugTestClear();
    return 0;
}
