/*
 * Sorted id list: 16-bit keys (ids) mapped to fixed-size values.
 *
 * Keys are kept in ascending order in one array and their values, in the
 * same order, in a second array, so a lookup is a binary search over the
 * keys only (after two boundary comparisons, so a key above all others
 * needs no search) and the keys can be walked in order. Values are handed
 * out as pointers into the value array; the caller reads and writes them in
 * place. Such a pointer stays valid until the next insertion, removal,
 * enlargement or release.
 *
 * Growth: an enlargement that must make room for m more entries sizes both
 * arrays to count + m + growStep entries, or to maxEntries when fewer than
 * that remain beyond growStep. The arrays never shrink. Each array is
 * allocated and released through its own allocator record
 * (alloc(context, bytes, 0), release(context, block)); null or
 * ZUB_ALLOCATOR_DEFAULT mean malloc and free. Array sizes are computed in
 * 64 bits; a value array that would not fit size_t is a failed allocation
 * (-28) and its allocator is not called.
 *
 * Running into maxEntries or failing to allocate gives -28 (no space);
 * the list keeps all its entries and stays usable.
 *
 * Change counter: every put that hands out a value pointer and every
 * removal decreases modCount (wrapping). An iterator remembers modCount;
 * once they differ, next ends the walk and the getters answer -4.
 *
 * Marks: removing the entry with the largest key fills its value slot with
 * 0x77 bytes; release fills the whole record with 0x55 bytes. A released
 * record must be initialised again before any use; releasing it a second
 * time is the caller's error (its pointers are 0x55 bytes).
 *
 * Keys are typed uint16_t everywhere and compare as unsigned 16-bit
 * numbers; a wider argument is converted by C's usual rules before the
 * call.
 *
 * Not thread-safe: callers serialise all access to one list. Every function
 * but the two with a leading underscore answers -22 for a null list.
 *
 * Example:
 *
 *     #include "zub/sortedidlist.h"
 *     int main(void)
 *     {
 *         zubSortedIdList_t ids;
 *         zubSortedIdListParams_t params = {NULL, NULL, sizeof(int), 1000, 16};
 *         uint16_t key;
 *         void *slot;
 *         if (zubSortedIdListInitialize(&ids, &params) != 0) return 1;
 *         zubSortedIdListCreateKey(&ids, &key);                 // 32768 on an empty list
 *         if (zubSortedIdListPutUnique(&ids, &slot, key) == 0) *(int *)slot = 7;
 *         if (zubSortedIdListGet(&ids, &slot, key) == 0) key = (uint16_t)*(int *)slot; // 7
 *         zubSortedIdListRelease(&ids);                         // the record is 0x55 bytes now
 *         return 0;
 *     }
 */
#ifndef ZUB_SORTEDIDLIST_H
#define ZUB_SORTEDIDLIST_H

#include "zub/types.h"

ZUB_EXTERN_C_BEGIN

/* Filled by the caller, copied by zubSortedIdListInitialize. */
typedef struct zubSortedIdListParams {
    const zubAllocator_t *valueAllocator; /* value array memory; null or all ones: malloc/free */
    const zubAllocator_t *keyAllocator;   /* key array memory; same convention */
    uint32_t valueSize;                   /* bytes per value; not 0 */
    uint16_t maxEntries;                  /* most entries the list may hold; not 0 */
    uint8_t growStep;                     /* entries allocated beyond the need per enlargement */
} zubSortedIdListParams_t;

/* Owned by the caller; changed only through the functions below. */
typedef struct zubSortedIdList {
    const zubAllocator_t *valueAllocator; /* copied from the parameters */
    const zubAllocator_t *keyAllocator;   /* copied from the parameters */
    uint32_t valueSize;                   /* copied from the parameters */
    uint16_t maxEntries;                  /* copied from the parameters */
    uint8_t growStep;                     /* copied from the parameters */
    uint16_t *keys;    /* first count keys strictly ascending; null before the first put */
    void *values;      /* value i at byte offset i * valueSize; null before the first put */
    uint16_t alloced;  /* entries both arrays have room for; count <= alloced <= maxEntries */
    uint16_t count;    /* entries held */
    uint16_t modCount; /* decreased (wrapping) by every change that iterators must notice */
} zubSortedIdList_t;

/* Owned by the caller; made by zubSortedIdListIterator. */
typedef struct zubSortedIdListIterator {
    int32_t position;  /* -1 before the first entry, then the current entry */
    uint32_t modCount; /* the list's modCount when the iterator was made */
} zubSortedIdListIterator_t;

/* Copies the parameters, sets keys and values to null and alloced, count
 * and modCount to 0 (also when it then fails for a 0 maxEntries or
 * valueSize). Returns 0; -22 for a null argument (nothing written), a
 * maxEntries of 0 or a valueSize of 0. Allocates nothing. */
ZUB_API int32_t zubSortedIdListInitialize(zubSortedIdList_t *list,
                                          const zubSortedIdListParams_t *params);

/* Releases the arrays through their allocators (each only when present),
 * then fills the record with 0x55 bytes. Returns 0; -22 for a null list. */
ZUB_API int32_t zubSortedIdListRelease(zubSortedIdList_t *list);

/* Looks up key; value (may be null) receives the address of its value
 * slot. Key present: returns 1 (with value given, modCount is decreased).
 * Key absent: without value returns 0 and changes nothing; with value it
 * inserts the key, leaves the new slot's bytes as they were for the caller
 * to fill, and returns 0. -22 for a null list and -28 when there is no room
 * (value then receives null). */
ZUB_API int32_t zubSortedIdListPutUnique(zubSortedIdList_t *list, void **value, uint16_t key);

/* Returns 1 and the address of key's value in value (may be null), or 0 and
 * a null value when the key is absent; -22 (null value) for a null list.
 * Changes nothing. */
ZUB_API int32_t zubSortedIdListGet(zubSortedIdList_t *list, void **value, uint16_t key);

/* Removes key and its value; later entries move down one place. Removing
 * the largest key fills its value slot with 0x77. Returns 0; -2 when the
 * key is absent; -22 for a null list. The arrays are not shrunk. */
ZUB_API int32_t zubSortedIdListRemove(zubSortedIdList_t *list, uint16_t key);

/* Proposes a key not in the list, without inserting it: 32768 for an empty
 * list, else the largest key + 2 when the largest key is at most 65532,
 * else the smallest key - 2 when the smallest key is above 1, else the
 * lower key of the first neighbouring pair more than 1 apart plus half
 * their difference. Returns 0; -22 for a null argument; -28 when no such
 * pair exists. */
ZUB_API int32_t zubSortedIdListCreateKey(zubSortedIdList_t *list, uint16_t *key);

/* Returns count, or -22 for a null list. */
ZUB_API int32_t zubSortedIdListGetSize(const zubSortedIdList_t *list);

/* Store the smallest (largest) key. Return 0; -22 for a null argument; -2
 * for an empty list. */
ZUB_API int32_t zubSortedIdListGetFirstKey(const zubSortedIdList_t *list, uint16_t *key);
ZUB_API int32_t zubSortedIdListGetLastKey(const zubSortedIdList_t *list, uint16_t *key);

/* Store the smallest (largest) key and the address of its value, each only
 * when its pointer is given. Return 0; -22 for a null list; -2 when empty. */
ZUB_API int32_t zubSortedIdListGetFirstEntry(zubSortedIdList_t *list, uint16_t *key, void **value);
ZUB_API int32_t zubSortedIdListGetLastEntry(zubSortedIdList_t *list, uint16_t *key, void **value);

/* Makes iterator stand before the first entry and remember modCount.
 * Returns 0; -22 for a null argument. */
ZUB_API int32_t zubSortedIdListIterator(const zubSortedIdList_t *list,
                                        zubSortedIdListIterator_t *iterator);

/* Moves to the next entry and returns 1; returns 0 without moving at the
 * end, when the list was changed since the iterator was made, for a position
 * below -1 or a null list. The iterator pointer must be valid. */
ZUB_API int32_t zubSortedIdListNext(const zubSortedIdList_t *list,
                                    zubSortedIdListIterator_t *iterator);

/* Stores the current key, widened to 32 bits. key is set to 0 first.
 * Returns 0; -22 for a null argument or before the first next; -4 when the
 * list was changed; -2 past the end. */
ZUB_API int32_t zubSortedIdListGetKey(const zubSortedIdList_t *list,
                                      const zubSortedIdListIterator_t *iterator, uint32_t *key);

/* Stores the address of the current value; value is set to null first.
 * Results as zubSortedIdListGetKey. */
ZUB_API int32_t zubSortedIdListGetValue(zubSortedIdList_t *list,
                                        const zubSortedIdListIterator_t *iterator, void **value);

/* Binary search without argument checks. Returns 1 and key's position, or 0
 * and the insertion position (the number of smaller keys). */
ZUB_API int32_t _zubSortedIdListFindNoChecks(const zubSortedIdList_t *list, uint32_t *position,
                                             uint16_t key);

/* Makes room for `additional` more entries, without checking the list
 * pointer. Returns 0; -28 when the list is full, the room would pass
 * maxEntries, or an allocation fails. When the key array was replaced but
 * the value array could not be, the larger key array stays installed and
 * alloced is unchanged; the list stays consistent. */
ZUB_API int32_t _zubSortedIdListEnlargeToNoCheck(zubSortedIdList_t *list, int32_t additional);

ZUB_EXTERN_C_END

#endif /* ZUB_SORTEDIDLIST_H */
