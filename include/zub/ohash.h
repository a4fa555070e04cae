/*
 * Open hash table (ohash_*) and the keyed map over it (zubOHash*).
 *
 * ohash is an open-addressing table of entry pointers with double hashing.
 * Entries are caller blocks that hold their key at a fixed byte offset; the
 * caller hashes the key, asks for a slot index with a lookup, then reads,
 * inserts or removes at that index. Keys are text (an interval or a
 * NUL-terminated string) or memory (length bytes compared byte for byte).
 *
 *   probe:  first index = hash mod size,
 *           step = (hash mod (size - 2)) | 1, size subtracted once on wrap.
 *   load:   the table doubles when 4 * total > 3 * size after an insert
 *           into an empty slot, and is rebuilt (doubled, halved or at the
 *           same size) when a remove leaves deleted >= 4 and
 *           4 * deleted > total.
 *
 * A slot index returned by a lookup is valid until the next insert, remove
 * or lookup on the same table. Lookups write to the table (the result
 * slot's hash, moves to an earlier tombstone), so concurrent lookups on one
 * table need the caller's lock.
 *
 * A table record holds a pointer into itself: its own address is the
 * tombstone marker of deleted slots. It must not be copied or moved after
 * ohash_init (or zubOHashInit): the copy's tombstones would name the old
 * record, and a copy kept after the old record is freed reads freed memory.
 *
 * Choices and guards beyond the plain algorithm:
 * - ohash_init takes exponents of 32 and above as 31 (2^31 slots); a
 *   table that has 2^31 slots does not double: a resize rebuilds it at the
 *   same size, or leaves it as it is when it has no tombstones to drop.
 *   Exponents 0 to 4 give 16 slots.
 * - A slot array whose byte count does not fit size_t is a failed
 *   allocation. A failed allocation in ohash_init leaves slots null and
 *   size 0: every lookup then returns 0, an index that ohash_find,
 *   ohash_insert and ohash_remove refuse, and ohash_delete does nothing.
 * - ohash_find, ohash_insert and ohash_remove refuse an index at or past
 *   size (a stale index after a shrink): find and remove return null,
 *   insert returns null and stores nothing. ohash_insert also refuses a
 *   null entry and the table's own address (the tombstone marker).
 * - A lookup probes at most size slots. When every slot holds a live
 *   entry (possible only after growth failed for lack of memory) a lookup
 *   for an absent key returns size, which insert refuses: the table never
 *   overwrites an entry and never loops.
 * - An interval whose end lies before its start is taken as empty. A text
 *   key matches only an entry key with no NUL among its first end - start
 *   characters, so an interval that holds a NUL matches no entry (the
 *   entry key is never read past its own NUL).
 * - ohash_delete sets slots to null and the counters to 0, so a second
 *   delete is harmless.
 * - ohash_create_entry returns null for a negative key offset (the key
 *   would lie before the block).
 * - zubOHashInit refuses exponents of 32 and above (-22) and reports a
 *   failed slot-array allocation as -12 (the table is then as ohash_init
 *   leaves it after a failed allocation; ohash_delete on it is harmless).
 *
 * Example: the keyed map over 8-byte keys at the start of the entries.
 *
 *     #include "zub/ohash.h"
 *     struct node { uint32_t id[2]; int value; }; // key first: 8 bytes
 *     int main(void)
 *     {
 *         ohash table;
 *         struct node n = {{7, 42}, 1};
 *         struct node *hit;
 *         uint32_t pos;
 *         void *e;
 *         if (zubOHashInit(&table, 4) != 0) return 1; // 16 slots, calloc/free
 *         zubOHashInsert(&table, n.id, sizeof n.id, &n); // -16 when the key is present
 *         hit = zubOHashFind(&table, n.id, sizeof n.id);
 *         for (e = zubOHashFirstHV(&table, &pos); e; e = zubOHashNextHV(&table, &pos))
 *             ;                                          // release your entries here
 *         ohash_delete(&table);
 *         return hit == &n ? 0 : 1;
 *     }
 */
#ifndef ZUB_OHASH_H
#define ZUB_OHASH_H

#include "zub/types.h"

ZUB_EXTERN_C_BEGIN

/* One table position. */
typedef struct ohash_slot {
    uint32_t hash; /* full hash of the entry held, or of the key last looked up into it */
    void *entry;   /* null: empty; the table's address: deleted; else the entry */
} ohash_slot;

/* How a table reaches its entries and its memory; ohash_init copies it. */
typedef struct ohash_setup {
    int32_t keyOffset; /* byte offset of the key inside every entry */
    void *userData;    /* passed back unchanged to the three functions */
    /* Returns `bytes` zero-filled bytes or null. */
    void *(*tableAlloc)(size_t bytes, void *userData);
    /* Releases a slot array with the byte count it was allocated with. */
    void (*tableRelease)(void *block, size_t bytes, void *userData);
    /* Allocates an entry; used only by ohash_create_entry. */
    void *(*entryAlloc)(size_t bytes, void *userData);
} ohash_setup;

/* The table record, owned by the caller. */
typedef struct ohash {
    ohash_slot *slots; /* size slots, owned by the table; null only after a failed init */
    ohash_setup setup; /* copy of the setup given to ohash_init */
    uint32_t size;     /* power of two, at least 16 (0 only after a failed init) */
    uint32_t total;    /* slots that are occupied or deleted */
    uint32_t deleted;  /* tombstones; live entries are total - deleted */
} ohash;

/* The tombstone marker of a table: a slot whose entry is this is deleted. */
static inline const void *ohash_deleted(const ohash *table)
{
    return (const void *)table;
}

/* Sets up a table of 2^sizeExponent slots (16 at least, 2^31 at most),
 * copies setup and allocates the zero-filled slot array through
 * setup->tableAlloc. On failure slots is null and size 0; the table must
 * not be used then (it behaves as an empty table that refuses inserts). */
ZUB_API void ohash_init(ohash *table, uint32_t sizeExponent, const ohash_setup *setup);

/* Releases the slot array through tableRelease(slots, size * sizeof(ohash_slot),
 * userData). Entries are not touched: release them first (ohash_first/next). */
ZUB_API void ohash_delete(ohash *table);

/* Hash of the characters [start, *end): 0 when empty, else k = first byte
 * (unsigned) and k = rotl(k, 2) ^ byte for each following byte. A null *end
 * is first set to start + strlen(start); a null end pointer means the same
 * without the write-back. A null start hashes as empty. */
ZUB_API uint32_t ohash_interval(const char *start, const char **end);

/* Slot index for the text key [start, end) with its hash: the slot of the
 * entry whose key has exactly those characters and its NUL right after
 * them, or the slot where such an entry is to be inserted. */
ZUB_API uint32_t ohash_lookup_interval(ohash *table, const char *start, const char *end,
                                       uint32_t hash);

/* Slot index for a memory key: the slot of the entry whose first length
 * key bytes equal key, or the slot where it is to be inserted. */
ZUB_API uint32_t ohash_lookup_memory(ohash *table, const void *key, uint32_t length, uint32_t hash);

/* ohash_lookup_interval for [string, *end) hashed with ohash_interval
 * (a null *end is set to the end of the string). */
ZUB_API uint32_t ohash_qlookupi(ohash *table, const char *string, const char **end);

/* ohash_qlookupi for a NUL-terminated string. */
ZUB_API uint32_t ohash_qlookup(ohash *table, const char *string);

/* The entry in slot index; null when empty, deleted or index >= size. */
ZUB_API void *ohash_find(const ohash *table, uint32_t index);

/* Stores entry in slot index, which a lookup for entry's key has just
 * returned, and returns entry. Filling a tombstone decreases deleted;
 * anything else increases total and may grow the table, so storing over a
 * live entry (its key was found) counts it twice: remove it first to
 * replace it. Returns null, storing nothing, for index >= size, a null
 * entry or the tombstone marker. */
ZUB_API void *ohash_insert(ohash *table, uint32_t index, void *entry);

/* Removes and returns the entry in slot index (the slot becomes a tombstone;
 * the table may be rebuilt). Null, changing nothing, when the slot is empty,
 * deleted or index >= size. */
ZUB_API void *ohash_remove(ohash *table, uint32_t index);

/* Live entries: total - deleted. */
ZUB_API uint32_t ohash_entries(const ohash *table);

/* Sets *position to 0 and returns ohash_next. */
ZUB_API void *ohash_first(const ohash *table, uint32_t *position);

/* The first live entry at or after *position, leaving *position one past
 * its slot; null with *position = size when none is left (null and no
 * change when *position is already at or past size). */
ZUB_API void *ohash_next(const ohash *table, uint32_t *position);

/* A new entry of keyOffset + (end - start) + 1 bytes from setup->entryAlloc
 * with the interval copied to keyOffset and a NUL after it; a null *end is
 * set to start + strlen(start) first. Null when the allocation fails, the
 * size does not fit size_t or keyOffset is negative. */
ZUB_API void *ohash_create_entry(const ohash_setup *setup, const char *start, const char **end);

/*
 * Keyed map over ohash: entries begin with their key (key offset 0), all
 * keys of one table have one length, slot arrays come from calloc and go
 * back to free. The map never copies, allocates or releases entries: the
 * caller releases them (iterating) and then calls ohash_delete(table).
 */

/* Sets up table with 2^sizeExponent slots (16 at least). 0; -22 for an
 * exponent of 0 or less or of 32 and above (table untouched); -12 when the
 * slot array cannot be allocated. */
ZUB_API int32_t zubOHashInit(ohash *table, int32_t sizeExponent);

/* The entry whose first length bytes equal key, or null (also for a null
 * key with a length above 0). */
ZUB_API void *zubOHashFind(ohash *table, const void *key, uint32_t length);

/* Inserts entry, which begins with the same length key bytes. 0; -16 when
 * an entry with that key is present (nothing inserted; "zubOHashInsert:
 * collision in open hash!\n" at level 1, class 3000); -22 for a null entry
 * or key (unless length is 0) or the table's own address; -12 when every
 * slot is live because the table could not grow. */
ZUB_API int32_t zubOHashInsert(ohash *table, const void *key, uint32_t length, void *entry);

/* Removes and returns the entry with that key; null when absent (or for a
 * null key with a length above 0). */
ZUB_API void *zubOHashRemove(ohash *table, const void *key, uint32_t length);

/* Iteration over all entries in slot order: ohash_first and ohash_next. */
ZUB_API void *zubOHashFirstHV(ohash *table, uint32_t *position);
ZUB_API void *zubOHashNextHV(ohash *table, uint32_t *position);

ZUB_EXTERN_C_END

#endif /* ZUB_OHASH_H */
