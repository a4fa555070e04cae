/*
 * Hierarchical bitmask over caller-provided table memory.
 *
 * A bitmask is a fixed-size set of bit flags, indexed from 0, that finds its
 * lowest set bit in a few word reads however large it is. Index i is bit
 * i % 32 (bit b has the value 1 << b) of word i / 32 of level 0. Every level
 * k >= 1 holds one summary bit per 32-bit word of level k - 1, set exactly
 * when that word is not zero; topBits summarises the highest level the same
 * way, so it has at most 32 meaningful bits. Up to 32 bits need no table
 * memory: topBits then holds the bits themselves.
 *
 * | nBits                     | levels | table memory (bytes, armhf) |
 * | ------------------------- | -----: | --------------------------- |
 * | 1 .. 32                   | 0      | 0                           |
 * | 33 .. 1,024               | 1      | 4 * (1 + w0)                |
 * | 1,025 .. 32,768           | 2      | 4 * (2 + w0 + w1)           |
 * | 32,769 .. 1,048,576       | 3      | 4 * (3 + w0 + w1 + w2)      |
 * | 1,048,577 .. 33,554,432   | 4      | 4 * (4 + w0 + ... + w3)     |
 * | 33,554,433 .. 520,093,664 | 5      | 4 * (5 + w0 + ... + w4)     |
 *
 * with wk = ceil(nBits / 32^(k + 1)) words at level k. The table memory is
 * one block: first one native pointer slot per level (slot k holds the
 * address of the level k table; 4 bytes each on armhf, 8 on 64-bit hosts,
 * and zubBitmaskGetRequiredSize counts them so), then the level tables from
 * level 0 upward without gaps. The block needs only 32-bit alignment; the
 * library reads and writes the pointer slots with memcpy.
 *
 * The bitmask allocates nothing and locks nothing: the caller serialises
 * all use of one record. Usage: size = zubBitmaskGetRequiredSize(n), provide
 * that many bytes (any 32-bit aligned storage that outlives the record),
 * zubBitmaskInitialize, then the operations below. There is no release; the
 * caller frees its table memory after the last use. Initialising again, with
 * the same or another count and memory, clears the mask.
 *
 * Choices of this library:
 *   - More than ZUB_BITMASK_MAX_BITS bits cannot be represented (the total
 *     of level words must fit 24 bits). zubBitmaskGetRequiredSize returns 0
 *     for such a count, and the layout refuses it before writing any table
 *     memory: it writes the table-size assertion message (level 1, class
 *     1000) and leaves the record empty and unusable, with nBits 0, nTables
 *     0, nTableData 0, topBits 0 and levelTables null; zubBitmaskInitialize
 *     then returns -22. On such a record every single-bit operation returns
 *     -1, the searches return -22 (next, prev) or -1 (first), and set-all and
 *     reset-all touch only topBits.
 *   - A count of 0 is laid out as 1 bit (no tables), but nBits stays 0, so
 *     no index is valid.
 *   - Set-all fills whole words with 0xFF, topBits included, so it also sets
 *     bits that stand for no index or no word of the level below (only the
 *     last word of each level, and topBits, have such bits). The searches
 *     bound every bit they use: a forward search whose lowest candidate
 *     lies past the last valid index or word knows that nothing valid
 *     follows and returns -1; a backward search only looks at bits at or
 *     below its start. So no search returns an index at or above nBits or
 *     reads past a level table, for masks of up to 32 bits too. Only
 *     reset-all or a new initialisation clears those bits.
 *   - Find-next and find-prev return what testing every index one by one
 *     would return, but read level 0 two words at a time near the start and
 *     skip longer empty runs through the summary levels.
 *
 * The operations rely on the record being as the layout left it: nBits,
 * nTables, nTableData and levelTables must not be changed by the caller, and
 * _zubBitmaskPropagateTables must be called with the count already in nBits.
 *
 * Example:
 *
 *     #include <stdio.h>
 *     #include <stdlib.h>
 *     #include "zub/bitmask.h"
 *     int main(void)
 *     {
 *         zubBitmask_t mask;
 *         uint32_t *tables = malloc(zubBitmaskGetRequiredSize(100000));
 *         if (!tables || zubBitmaskInitialize(&mask, 100000, tables) != 0) return 1; // all clear
 *         zubBitmaskSetBit(&mask, 70000);
 *         zubBitmaskSetBit(&mask, 12);
 *         printf("%d %d %d\n", zubBitmaskFindFirstOne(&mask), // 12
 *                zubBitmaskFindNextOne(&mask, 13),            // 70000
 *                zubBitmaskFindPrevOne(&mask, 69999));        // 12
 *         free(tables);                                       // no release call
 *         return 0;
 *     }
 */
#ifndef ZUB_BITMASK_H
#define ZUB_BITMASK_H

#include "zub/types.h"

ZUB_EXTERN_C_BEGIN

/* The largest count a bitmask can hold: 16,777,215 level words. */
#define ZUB_BITMASK_MAX_BITS 520093664u

/* A bitmask; its level tables lie in the caller's table memory. */
typedef struct zubBitmask {
    /* Number of bits; valid indices are 0 .. nBits - 1. Written only by
     * zubBitmaskInitialize (and set to 0 by a refused layout). */
    uint32_t nBits;
    /* Number of level tables in the table memory: 0 when nBits <= 32, at
     * most 5. */
    uint32_t nTables : 8;
    /* Total 32-bit words of all level tables together, pointer slots not
     * counted; 0 when nTables is 0. */
    uint32_t nTableData : 24;
    /* Top summary word: bit j is set when word j of the highest level is not
     * zero; with nTables 0, the bits of the mask themselves. */
    uint32_t topBits;
    /* Start of the caller's table memory (pointer slots, then the levels);
     * null when nTables is 0. Slot k always points at the level k table. */
    uint32_t **levelTables;
} zubBitmask_t;

/* Bytes of table memory a mask of nBits bits needs: nTables native pointer
 * slots plus 4 bytes per level word (12 for 33 bits on armhf, 16 on 64-bit
 * hosts). 0 for 1 to 32 bits; a count of 0 counts as 1. 0 for counts above
 * ZUB_BITMASK_MAX_BITS, which cannot be initialised. */
ZUB_API uint32_t zubBitmaskGetRequiredSize(uint32_t nBits);

/* Stores nBits in the record and lays out and clears the tables as
 * _zubBitmaskPropagateTables does; returns 0. tableMemory must hold
 * zubBitmaskGetRequiredSize(nBits) bytes, 32-bit aligned, and may be null
 * when that is 0; the record pointer must be valid (neither is checked).
 * Above ZUB_BITMASK_MAX_BITS: the refusal described above, result -22. */
ZUB_API int32_t zubBitmaskInitialize(zubBitmask_t *bitmask, uint32_t nBits, uint32_t *tableMemory);

/* Layout step: writes the pointer slots and clears every level word in
 * tableMemory, and sets nTables, nTableData, levelTables and topBits 0. Does
 * not write nBits, which must already hold the same count. tableMemory is
 * not touched when nBits <= 32. Above ZUB_BITMASK_MAX_BITS: writes the
 * assertion message and leaves the record empty (nBits 0 too), writing
 * nothing into tableMemory. */
ZUB_API void _zubBitmaskPropagateTables(zubBitmask_t *bitmask, uint32_t nBits,
                                        uint32_t *tableMemory);

/* Clears every bit (all level words and topBits). 0, or -1 for a null
 * record. */
ZUB_API int32_t zubBitmaskResetAll(zubBitmask_t *bitmask);

/* Fills every level word and topBits with ones (see the choices above on
 * the bits past the valid ones). 0, or -1 for a null record. */
ZUB_API int32_t zubBitmaskSetAll(zubBitmask_t *bitmask);

/* Sets bit index and its summary bits at every level and in topBits.
 * Returns the bit's previous state as a mask: 1 << (index % 32) when it was
 * set, 0 when not (so 0x80000000 for index % 32 == 31); -1 (all ones) for a
 * null record or index >= nBits, with nothing changed. */
ZUB_API int32_t zubBitmaskSetBit(zubBitmask_t *bitmask, uint32_t index);

/* Clears bit index; a level 0 word that becomes (or is) zero clears its
 * summary bit one level up, and so on while words become zero. Result as
 * for zubBitmaskSetBit. */
ZUB_API int32_t zubBitmaskResetBit(zubBitmask_t *bitmask, uint32_t index);

/* 1 << (index % 32) when bit index is set, 0 when not; -1 for a null record
 * or index >= nBits. */
ZUB_API int32_t zubBitmaskGetBit(const zubBitmask_t *bitmask, uint32_t index);

/* Lowest set index, or -1 when no bit is set or the record is null. One
 * read per level and one of topBits. */
ZUB_API int32_t zubBitmaskFindFirstOne(const zubBitmask_t *bitmask);

/* Lowest set index >= start, -1 when there is none; -22 for a null record
 * or start >= nBits. */
ZUB_API int32_t zubBitmaskFindNextOne(const zubBitmask_t *bitmask, uint32_t start);

/* Highest set index <= start, -1 when there is none; -22 for a null record
 * or start >= nBits. */
ZUB_API int32_t zubBitmaskFindPrevOne(const zubBitmask_t *bitmask, uint32_t start);

ZUB_EXTERN_C_END

#endif /* ZUB_BITMASK_H */
