// Open hash table.
//
// Design note. The slot array is a power of two of (hash, entry) pairs; an
// entry pointer equal to the table's own address marks a tombstone. A key
// probes hash mod size first and then steps by an odd stride, so every
// slot is visited once in size probes. The stride needs a division by
// size - 2 (not a power of two; a library call on cores without a divide
// instruction), so it is computed only when the first probe does not
// settle the lookup; below three-quarter load most lookups end there.
//
// A lookup remembers the first tombstone it passes: a found entry moves
// there (shortening later probes), an absent key gets that slot for its
// insert. total counts occupied and deleted slots, so the three-quarter
// rule on total keeps empty slots that end every probe sequence; the probe
// is still bounded by size so that a table whose growth failed cannot loop.
//
// All load arithmetic (4 * total against 3 * size and so on) is done in 64
// bits: at 2^31 slots the products pass 32 bits.
#include "zub/ohash.h"

#include <cstring>

#include "internal/alloc.h"
#include "internal/ohash_probe.h"

using namespace zub::detail::ohash_probe;

namespace {

constexpr uint32_t kMinExponent = 4;  // 16 slots: odd steps below size - 2 stay useful
constexpr uint32_t kMaxExponent = 31; // the largest power of two a 32-bit size holds
constexpr uint32_t kMinSize = 1u << kMinExponent;
constexpr uint32_t kMaxSize = 1u << kMaxExponent;

// Slot-array bytes for `size` slots; false when they do not fit size_t.
inline bool slot_bytes(uint32_t size, size_t *bytes)
{
    uint64_t wide = 0;
    if (!zub::detail::checked_size(size, sizeof(ohash_slot), &wide)) {
        return false;
    }
    *bytes = static_cast<size_t>(wide);
    return true;
}

ohash_slot *allocate_slots(const ohash_setup &setup, uint32_t size)
{
    size_t bytes = 0;
    if (setup.tableAlloc == nullptr || !slot_bytes(size, &bytes)) {
        return nullptr;
    }
    return static_cast<ohash_slot *>(setup.tableAlloc(bytes, setup.userData));
}

void release_slots(const ohash *table)
{
    size_t bytes = 0;
    slot_bytes(table->size, &bytes); // the array exists, so its size fitted
    table->setup.tableRelease(table->slots, bytes, table->setup.userData);
}

// Rebuilds the table at the size its counters call for. A failed
// allocation leaves everything as it was.
void resize(ohash *table)
{
    const uint64_t total = table->total;
    const uint64_t deleted = table->deleted;
    const uint32_t oldSize = table->size;
    uint32_t newSize = oldSize;
    if (total > 4 * deleted) {
        if (oldSize < kMaxSize) {
            newSize = oldSize * 2u;
        }
    } else if (3 * deleted > 2 * total) {
        newSize = oldSize / 2u;
    }
    if (newSize < kMinSize) {
        newSize = kMinSize;
    }

    // The rules above leave live entries fewer than newSize, so every
    // placement below ends at an empty slot. Only a table of 2^31 slots
    // that cannot double may have no room; it stays as it is.
    if (total - deleted >= newSize) {
        return;
    }
    ohash_slot *fresh = allocate_slots(table->setup, newSize);
    if (fresh == nullptr) {
        return;
    }
    const ohash_slot *old = table->slots;
    for (uint32_t i = 0; i < oldSize; ++i) {
        if (!is_live(table, old[i].entry)) {
            continue;
        }
        const uint32_t hash = old[i].hash;
        uint32_t index = hash & (newSize - 1u);
        if (fresh[index].entry != nullptr) {
            const uint32_t step = probe_step(hash, newSize);
            do {
                index += step;
                if (index >= newSize) {
                    index -= newSize;
                }
            } while (fresh[index].entry != nullptr);
        }
        fresh[index] = old[i];
    }
    release_slots(table);
    table->slots = fresh;
    table->size = newSize;
    table->total -= table->deleted;
    table->deleted = 0;
}

// [start, end) as a length; an end before the start is an empty interval.
inline size_t interval_length(const char *start, const char *end)
{
    return end > start ? static_cast<size_t>(end - start) : 0;
}

// The interval's end, resolving a null *end to the end of the string.
const char *resolve_end(const char *start, const char **end)
{
    if (end != nullptr && *end != nullptr) {
        return *end;
    }
    const char *stop = start == nullptr ? nullptr : start + std::strlen(start);
    if (end != nullptr) {
        *end = stop;
    }
    return stop;
}

} // namespace

extern "C" {

void ohash_init(ohash *table, uint32_t sizeExponent, const ohash_setup *setup)
{
    uint32_t exponent = sizeExponent < kMinExponent ? kMinExponent : sizeExponent;
    if (exponent > kMaxExponent) {
        exponent = kMaxExponent;
    }
    table->setup = *setup;
    table->size = 1u << exponent;
    table->total = 0;
    table->deleted = 0;
    table->slots = allocate_slots(table->setup, table->size);
    if (table->slots == nullptr) {
        table->size = 0;
    }
}

void ohash_delete(ohash *table)
{
    if (table->slots != nullptr) {
        release_slots(table);
    }
    table->slots = nullptr;
    table->size = 0;
    table->total = 0;
    table->deleted = 0;
}

uint32_t ohash_interval(const char *start, const char **end)
{
    const char *stop = resolve_end(start, end);
    if (start == nullptr) {
        return 0;
    }
    return hash_bytes(reinterpret_cast<const unsigned char *>(start), interval_length(start, stop));
}

uint32_t ohash_lookup_interval(ohash *table, const char *start, const char *end, uint32_t hash)
{
    const size_t length = start == nullptr ? 0 : interval_length(start, end);
    return lookup(table, hash, [table, start, length](const void *entry) {
        // Byte by byte so that a shorter key is never read past its NUL.
        const char *key = key_of(table, entry);
        for (size_t i = 0; i < length; ++i) {
            if (key[i] != start[i] || key[i] == '\0') {
                return false;
            }
        }
        return key[length] == '\0';
    });
}

uint32_t ohash_lookup_memory(ohash *table, const void *key, uint32_t length, uint32_t hash)
{
    return lookup_memory(table, key, length, hash);
}

uint32_t ohash_qlookupi(ohash *table, const char *string, const char **end)
{
    const char *stop = resolve_end(string, end);
    const uint32_t hash = ohash_interval(string, &stop);
    return ohash_lookup_interval(table, string, stop, hash);
}

uint32_t ohash_qlookup(ohash *table, const char *string)
{
    const char *end = nullptr;
    return ohash_qlookupi(table, string, &end);
}

void *ohash_find(const ohash *table, uint32_t index)
{
    return find_at(table, index);
}

void *ohash_insert(ohash *table, uint32_t index, void *entry)
{
    if (index >= table->size || !is_live(table, entry)) {
        return nullptr;
    }
    ohash_slot &slot = table->slots[index];
    if (slot.entry == table) {
        slot.entry = entry;
        table->deleted--;
        return entry;
    }
    slot.entry = entry;
    table->total++;
    if (4 * static_cast<uint64_t>(table->total) > 3 * static_cast<uint64_t>(table->size)) {
        resize(table);
    }
    return entry;
}

void *ohash_remove(ohash *table, uint32_t index)
{
    if (index >= table->size) {
        return nullptr;
    }
    ohash_slot &slot = table->slots[index];
    void *entry = slot.entry;
    if (!is_live(table, entry)) {
        return nullptr;
    }
    slot.entry = table;
    table->deleted++;
    if (table->deleted >= 4 &&
        4 * static_cast<uint64_t>(table->deleted) > static_cast<uint64_t>(table->total)) {
        resize(table);
    }
    return entry;
}

uint32_t ohash_entries(const ohash *table)
{
    return table->total - table->deleted;
}

void *ohash_first(const ohash *table, uint32_t *position)
{
    *position = 0;
    return ohash_next(table, position);
}

void *ohash_next(const ohash *table, uint32_t *position)
{
    const uint32_t size = table->size;
    for (uint32_t i = *position; i < size; ++i) {
        void *entry = table->slots[i].entry;
        if (is_live(table, entry)) {
            *position = i + 1u;
            return entry;
        }
    }
    if (*position < size) {
        *position = size;
    }
    return nullptr;
}

void *ohash_create_entry(const ohash_setup *setup, const char *start, const char **end)
{
    const char *stop = resolve_end(start, end);
    if (setup->keyOffset < 0 || setup->entryAlloc == nullptr) {
        return nullptr;
    }
    const size_t length = start == nullptr ? 0 : interval_length(start, stop);
    const uint64_t bytes = static_cast<uint64_t>(setup->keyOffset) + length + 1u;
    if (!zub::detail::fits_size_t(bytes)) {
        return nullptr;
    }
    auto *block =
        static_cast<char *>(setup->entryAlloc(static_cast<size_t>(bytes), setup->userData));
    if (block == nullptr) {
        return nullptr;
    }
    if (length != 0) {
        std::memcpy(block + setup->keyOffset, start, length);
    }
    block[setup->keyOffset + length] = '\0';
    return block;
}

} // extern "C"
