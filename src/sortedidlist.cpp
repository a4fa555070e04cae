// Sorted id list.
//
// Design: keys and values live in two parallel arrays, keys strictly
// ascending. The search compares against the last and the first key before
// anything else (fresh keys from CreateKey are above all others, so the
// common put needs no search), then runs a branch-free lower bound over the
// keys strictly between them; for unique keys that is the same position the
// classic halving search ends on.
//
// CreateKey's gap search uses that keys[i] - i never decreases along a
// strictly ascending array: the first neighbouring pair more than 1 apart
// ends at the first index where keys[i] - i exceeds keys[0], which a binary
// search finds without walking the array.
#include "zub/sortedidlist.h"

#include <cstdint>
#include <cstring>

#include "internal/alloc.h"

namespace {

constexpr uint8_t kRemovedFill = 0x77;  // 'w': the vacated last value slot
constexpr uint8_t kReleasedFill = 0x55; // a released record
constexpr uint16_t kFirstFreshKey = 0x8000;
constexpr uint16_t kHighestStepUp = 0xFFFC; // largest key that may still get + 2

inline uint8_t *value_ptr(const zubSortedIdList_t &l, uint32_t index)
{
    return static_cast<uint8_t *>(l.values) + static_cast<size_t>(index) * l.valueSize;
}

inline size_t value_bytes(const zubSortedIdList_t &l, uint32_t entries)
{
    return static_cast<size_t>(entries) * l.valueSize;
}

int32_t find(const zubSortedIdList_t &l, uint16_t key, uint32_t *position)
{
    const uint32_t n = l.count;
    const uint16_t *keys = l.keys;
    if (n == 0) {
        *position = 0;
        return 0;
    }
    const uint16_t last = keys[n - 1];
    if (key >= last) {
        *position = key == last ? n - 1 : n;
        return key == last;
    }
    if (key <= keys[0]) {
        *position = 0;
        return key == keys[0];
    }
    // keys[0] < key < keys[n - 1]: the answer lies in [1, n - 1].
    const uint16_t *base = keys;
    uint32_t length = n;
    while (length > 1) {
        const uint32_t half = length / 2;
        base = base[half] < key ? base + half : base;
        length -= half;
    }
    const uint32_t at = static_cast<uint32_t>(base - keys) + 1;
    *position = at;
    return keys[at] == key;
}

int32_t enlarge(zubSortedIdList_t &l, int32_t additional)
{
    const int32_t count = l.count;
    const int32_t maxEntries = l.maxEntries;
    if (count == maxEntries) {
        return ZUB_ENOSPC;
    }
    if (static_cast<int32_t>(l.alloced) - count >= additional) {
        return 0;
    }
    if (additional > maxEntries - count) {
        return ZUB_ENOSPC;
    }
    const int32_t needed = count + additional;
    const uint32_t size =
        static_cast<uint32_t>(maxEntries - needed > l.growStep ? needed + l.growStep : maxEntries);

    auto *keys = static_cast<uint16_t *>(
        zub::detail::allocate(l.keyAllocator, static_cast<uint64_t>(size) * sizeof(uint16_t)));
    if (keys == nullptr) {
        return ZUB_ENOSPC;
    }
    if (count > 0) {
        std::memcpy(keys, l.keys, static_cast<size_t>(count) * sizeof(uint16_t));
    }
    zub::detail::release(l.keyAllocator, l.keys);
    l.keys = keys;

    // From here a failure leaves the larger key array installed and alloced
    // as it was: the list stays consistent, the spare keys are unused.
    uint64_t bytes = 0;
    if (!zub::detail::checked_size(size, l.valueSize, &bytes)) {
        return ZUB_ENOSPC;
    }
    void *values = zub::detail::allocate(l.valueAllocator, bytes);
    if (values == nullptr) {
        return ZUB_ENOSPC;
    }
    if (count > 0) {
        std::memcpy(values, l.values, value_bytes(l, static_cast<uint32_t>(count)));
    }
    zub::detail::release(l.valueAllocator, l.values);
    l.values = values;
    l.alloced = static_cast<uint16_t>(size);
    return 0;
}

int32_t put_unique(zubSortedIdList_t &l, void **value, uint16_t key)
{
    uint32_t at = 0;
    if (find(l, key, &at)) {
        if (value != nullptr) {
            *value = value_ptr(l, at);
            l.modCount--;
        }
        return 1;
    }
    if (value == nullptr) {
        return 0;
    }
    const int32_t result = enlarge(l, 1);
    if (result != 0) {
        *value = nullptr;
        return result;
    }
    const uint32_t behind = l.count - at;
    if (behind > 0) {
        std::memmove(l.keys + at + 1, l.keys + at, behind * sizeof(uint16_t));
        std::memmove(value_ptr(l, at + 1), value_ptr(l, at), value_bytes(l, behind));
    }
    l.keys[at] = key;
    *value = value_ptr(l, at);
    l.modCount--;
    l.count++;
    return 0;
}

int32_t remove_key(zubSortedIdList_t &l, uint16_t key)
{
    uint32_t at = 0;
    if (!find(l, key, &at)) {
        return ZUB_ENOENT;
    }
    const uint32_t behind = l.count - at - 1u;
    if (behind == 0) {
        std::memset(value_ptr(l, at), kRemovedFill, l.valueSize);
    } else {
        std::memmove(l.keys + at, l.keys + at + 1, behind * sizeof(uint16_t));
        std::memmove(value_ptr(l, at), value_ptr(l, at + 1), value_bytes(l, behind));
    }
    l.modCount--;
    l.count--;
    return 0;
}

int32_t create_key(const zubSortedIdList_t &l, uint16_t *key)
{
    const uint32_t n = l.count;
    if (n == 0) {
        *key = kFirstFreshKey;
        return 0;
    }
    const uint16_t *keys = l.keys;
    if (keys[n - 1] <= kHighestStepUp) {
        *key = static_cast<uint16_t>(keys[n - 1] + 2);
        return 0;
    }
    if (keys[0] > 1) {
        *key = static_cast<uint16_t>(keys[0] - 2);
        return 0;
    }
    // Here n >= 2 (the two ends are different keys). Find the first index j
    // with keys[j] - j > keys[0]; the pair (j - 1, j) is the first gap.
    const int32_t offset = keys[0];
    if (static_cast<int32_t>(keys[n - 1]) - static_cast<int32_t>(n - 1) == offset) {
        return ZUB_ENOSPC;
    }
    uint32_t lo = 1;
    uint32_t hi = n - 1;
    while (lo < hi) {
        const uint32_t mid = lo + (hi - lo) / 2;
        if (static_cast<int32_t>(keys[mid]) - static_cast<int32_t>(mid) > offset) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    const uint32_t lower = keys[lo - 1];
    *key = static_cast<uint16_t>(lower + (keys[lo] - lower) / 2);
    return 0;
}

// The checks the two iterator getters share, in their order.
int32_t check_iterator(const zubSortedIdList_t *list, const zubSortedIdListIterator_t *iterator)
{
    if (list == nullptr || iterator == nullptr) {
        return ZUB_EINVAL;
    }
    if (iterator->modCount != list->modCount) {
        return ZUB_EINTR;
    }
    if (iterator->position < 0) {
        return ZUB_EINVAL;
    }
    if (iterator->position >= list->count) {
        return ZUB_ENOENT;
    }
    return 0;
}

int32_t get_entry(zubSortedIdList_t *list, bool last, uint16_t *key, void **value)
{
    if (list == nullptr) {
        return ZUB_EINVAL;
    }
    if (list->count == 0) {
        return ZUB_ENOENT;
    }
    const uint32_t at = last ? list->count - 1u : 0u;
    if (key != nullptr) {
        *key = list->keys[at];
    }
    if (value != nullptr) {
        *value = value_ptr(*list, at);
    }
    return 0;
}

} // namespace

extern "C" {

int32_t zubSortedIdListInitialize(zubSortedIdList_t *list, const zubSortedIdListParams_t *params)
{
    if (list == nullptr || params == nullptr) {
        return ZUB_EINVAL;
    }
    list->valueAllocator = params->valueAllocator;
    list->keyAllocator = params->keyAllocator;
    list->valueSize = params->valueSize;
    list->maxEntries = params->maxEntries;
    list->growStep = params->growStep;
    list->keys = nullptr;
    list->values = nullptr;
    list->alloced = 0;
    list->count = 0;
    list->modCount = 0;
    if (params->maxEntries == 0 || params->valueSize == 0) {
        return ZUB_EINVAL;
    }
    return 0;
}

int32_t zubSortedIdListRelease(zubSortedIdList_t *list)
{
    if (list == nullptr) {
        return ZUB_EINVAL;
    }
    if (list->keys != nullptr) {
        zub::detail::release(list->keyAllocator, list->keys);
    }
    if (list->values != nullptr) {
        zub::detail::release(list->valueAllocator, list->values);
    }
    std::memset(list, kReleasedFill, sizeof *list);
    return 0;
}

int32_t zubSortedIdListPutUnique(zubSortedIdList_t *list, void **value, uint16_t key)
{
    if (list == nullptr) {
        if (value != nullptr) {
            *value = nullptr;
        }
        return ZUB_EINVAL;
    }
    return put_unique(*list, value, key);
}

int32_t zubSortedIdListGet(zubSortedIdList_t *list, void **value, uint16_t key)
{
    if (list == nullptr) {
        if (value != nullptr) {
            *value = nullptr;
        }
        return ZUB_EINVAL;
    }
    uint32_t at = 0;
    const int32_t found = find(*list, key, &at);
    if (value != nullptr) {
        *value = found ? value_ptr(*list, at) : nullptr;
    }
    return found;
}

int32_t zubSortedIdListRemove(zubSortedIdList_t *list, uint16_t key)
{
    return list == nullptr ? ZUB_EINVAL : remove_key(*list, key);
}

int32_t zubSortedIdListCreateKey(zubSortedIdList_t *list, uint16_t *key)
{
    if (list == nullptr || key == nullptr) {
        return ZUB_EINVAL;
    }
    return create_key(*list, key);
}

int32_t zubSortedIdListGetSize(const zubSortedIdList_t *list)
{
    return list == nullptr ? ZUB_EINVAL : list->count;
}

int32_t zubSortedIdListGetFirstKey(const zubSortedIdList_t *list, uint16_t *key)
{
    if (list == nullptr || key == nullptr) {
        return ZUB_EINVAL;
    }
    if (list->count == 0) {
        return ZUB_ENOENT;
    }
    *key = list->keys[0];
    return 0;
}

int32_t zubSortedIdListGetLastKey(const zubSortedIdList_t *list, uint16_t *key)
{
    if (list == nullptr || key == nullptr) {
        return ZUB_EINVAL;
    }
    if (list->count == 0) {
        return ZUB_ENOENT;
    }
    *key = list->keys[list->count - 1];
    return 0;
}

int32_t zubSortedIdListGetFirstEntry(zubSortedIdList_t *list, uint16_t *key, void **value)
{
    return get_entry(list, false, key, value);
}

int32_t zubSortedIdListGetLastEntry(zubSortedIdList_t *list, uint16_t *key, void **value)
{
    return get_entry(list, true, key, value);
}

int32_t zubSortedIdListIterator(const zubSortedIdList_t *list, zubSortedIdListIterator_t *iterator)
{
    if (list == nullptr || iterator == nullptr) {
        return ZUB_EINVAL;
    }
    iterator->position = -1;
    iterator->modCount = list->modCount;
    return 0;
}

int32_t zubSortedIdListNext(const zubSortedIdList_t *list, zubSortedIdListIterator_t *iterator)
{
    if (list == nullptr || iterator->position < -1 || iterator->modCount != list->modCount) {
        return 0;
    }
    if (static_cast<int64_t>(iterator->position) + 1 < list->count) {
        iterator->position++;
        return 1;
    }
    return 0;
}

int32_t zubSortedIdListGetKey(const zubSortedIdList_t *list,
                              const zubSortedIdListIterator_t *iterator, uint32_t *key)
{
    if (key == nullptr) {
        return ZUB_EINVAL;
    }
    *key = 0;
    const int32_t result = check_iterator(list, iterator);
    if (result != 0) {
        return result;
    }
    *key = list->keys[iterator->position];
    return 0;
}

int32_t zubSortedIdListGetValue(zubSortedIdList_t *list, const zubSortedIdListIterator_t *iterator,
                                void **value)
{
    if (value == nullptr) {
        return ZUB_EINVAL;
    }
    *value = nullptr;
    const int32_t result = check_iterator(list, iterator);
    if (result != 0) {
        return result;
    }
    *value = value_ptr(*list, static_cast<uint32_t>(iterator->position));
    return 0;
}

int32_t _zubSortedIdListFindNoChecks(const zubSortedIdList_t *list, uint32_t *position,
                                     uint16_t key)
{
    return find(*list, key, position);
}

int32_t _zubSortedIdListEnlargeToNoCheck(zubSortedIdList_t *list, int32_t additional)
{
    return enlarge(*list, additional);
}

} // extern "C"
