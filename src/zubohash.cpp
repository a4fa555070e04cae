// Keyed open hash: an ohash whose entries begin with a fixed-length byte
// key. Each call hashes the key bytes, looks the slot up and does the slot
// operation; slot arrays come from calloc and go back to free.
#include <cstdlib>

#include "internal/diag.h"
#include "internal/ohash_probe.h"
#include "zub/ohash.h"

using namespace zub::detail::ohash_probe;

namespace {

// Above this the slot count no longer fits the table's 32-bit size.
constexpr int32_t kMaxExponent = 31;

void *zeroed(size_t bytes, void * /*userData*/)
{
    return std::calloc(1, bytes);
}

void release(void *block, size_t /*bytes*/, void * /*userData*/)
{
    std::free(block);
}

// Slot index of key, or size when the key cannot be looked up.
uint32_t slot_of(ohash *table, const void *key, uint32_t length)
{
    if (key == nullptr && length != 0) {
        return table->size;
    }
    const uint32_t hash = hash_bytes(static_cast<const unsigned char *>(key), length);
    return lookup_memory(table, key, length, hash);
}

} // namespace

extern "C" {

int32_t zubOHashInit(ohash *table, int32_t sizeExponent)
{
    if (table == nullptr || sizeExponent <= 0 || sizeExponent > kMaxExponent) {
        return ZUB_EINVAL;
    }
    const ohash_setup setup = {0, nullptr, zeroed, release, zeroed};
    ohash_init(table, static_cast<uint32_t>(sizeExponent), &setup);
    return table->slots == nullptr ? ZUB_ENOMEM : ZUB_OK;
}

void *zubOHashFind(ohash *table, const void *key, uint32_t length)
{
    return find_at(table, slot_of(table, key, length));
}

int32_t zubOHashInsert(ohash *table, const void *key, uint32_t length, void *entry)
{
    if ((key == nullptr && length != 0) || entry == nullptr || entry == ohash_deleted(table)) {
        return ZUB_EINVAL;
    }
    const uint32_t index = slot_of(table, key, length);
    if (find_at(table, index) != nullptr) {
        ZUB_DIAG(1, 3000, 0, "%s: collision in open hash!\n", "zubOHashInsert");
        return ZUB_EBUSY;
    }
    return ohash_insert(table, index, entry) != nullptr ? ZUB_OK : ZUB_ENOMEM;
}

void *zubOHashRemove(ohash *table, const void *key, uint32_t length)
{
    return ohash_remove(table, slot_of(table, key, length));
}

void *zubOHashFirstHV(ohash *table, uint32_t *position)
{
    return ohash_first(table, position);
}

void *zubOHashNextHV(ohash *table, uint32_t *position)
{
    return ohash_next(table, position);
}

} // extern "C"
