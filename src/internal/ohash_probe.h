// Probe loop and hash of the open hash table, shared by the table itself
// and the keyed map so that a keyed lookup is one inlined pass.
#pragma once

#include <cstdint>
#include <cstring>

#include "internal/bytes.h"
#include "zub/ohash.h"

namespace zub::detail::ohash_probe {

inline bool is_live(const ohash *table, const void *entry)
{
    return entry != nullptr && entry != table;
}

inline uint32_t probe_step(uint32_t hash, uint32_t size)
{
    return (hash % (size - 2u)) | 1u;
}

inline const char *key_of(const ohash *table, const void *entry)
{
    return static_cast<const char *>(entry) + table->setup.keyOffset;
}

// The shared probe loop. `matches(entry)` compares the key; it is called
// only for live slots whose hash equals `hash`. Returns size when every
// slot holds another live entry (only a table whose growth failed).
template <typename Matches> inline uint32_t lookup(ohash *table, uint32_t hash, Matches matches)
{
    const uint32_t size = table->size;
    if (size == 0) {
        return 0;
    }
    ohash_slot *slots = table->slots;
    uint32_t index = hash & (size - 1u);
    uint32_t step = 0;
    uint32_t tombstone = size;
    for (uint32_t probes = 0; probes < size; ++probes) {
        ohash_slot &slot = slots[index];
        if (slot.entry == nullptr) {
            const uint32_t result = tombstone != size ? tombstone : index;
            slots[result].hash = hash;
            return result;
        }
        if (slot.entry == table) {
            if (tombstone == size) {
                tombstone = index;
            }
        } else if (slot.hash == hash && matches(slot.entry)) {
            if (tombstone == size) {
                return index;
            }
            slots[tombstone].hash = hash;
            slots[tombstone].entry = slot.entry;
            slot.entry = table;
            return tombstone;
        }
        if (step == 0) {
            step = probe_step(hash, size);
        }
        index += step; // index and step are below size <= 2^31: no wrap
        if (index >= size) {
            index -= size;
        }
    }
    if (tombstone != size) {
        slots[tombstone].hash = hash;
    }
    return tombstone;
}

// Memory keys: the usual small key lengths compare as one load.
inline uint32_t lookup_memory(ohash *table, const void *key, uint32_t length, uint32_t hash)
{
    switch (length) {
    case 0: return lookup(table, hash, [](const void *) { return true; });
    case 4: {
        const uint32_t want = load<uint32_t>(key);
        return lookup(table, hash, [table, want](const void *entry) {
            return load<uint32_t>(key_of(table, entry)) == want;
        });
    }
    case 8: {
        const uint64_t want = load<uint64_t>(key);
        return lookup(table, hash, [table, want](const void *entry) {
            return load<uint64_t>(key_of(table, entry)) == want;
        });
    }
    default:
        return lookup(table, hash, [table, key, length](const void *entry) {
            return std::memcmp(key_of(table, entry), key, length) == 0;
        });
    }
}

inline uint32_t hash_bytes(const unsigned char *p, size_t length)
{
    if (length == 0) {
        return 0;
    }
    uint32_t k = p[0];
    for (size_t i = 1; i < length; ++i) {
        k = ((k << 2) | (k >> 30)) ^ p[i];
    }
    return k;
}

inline void *find_at(const ohash *table, uint32_t index)
{
    if (index >= table->size) {
        return nullptr;
    }
    void *entry = table->slots[index].entry;
    return is_live(table, entry) ? entry : nullptr;
}

} // namespace zub::detail::ohash_probe
