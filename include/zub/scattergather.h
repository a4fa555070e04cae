/*
 * Scatter-gather lists: a byte sequence that lies in several memory blocks.
 *
 * A list is given as its first array of zubScatterGatherEntry_t (see
 * zub/types.h) and the number of entries in that array. Walking a list takes
 * the entries of the current array in index order; a link entry (kind 1)
 * continues the list in the array it points to, which holds as many entries
 * as the link's length, starting at index 0 there; entries behind a link in
 * the same array do not belong to the list. The walk ends when the index
 * reaches the current array's count, or at a link whose pointer is null or
 * whose count is 0. Data entries (kind 0) of length 0 are empty and add
 * nothing.
 *
 * Entries of kinds 2 and 3 are never produced by the library; every
 * function here passes over them as if they were absent (they add no bytes,
 * hold no offset, and are never followed).
 *
 * Callers keep lists finite: a link cycle makes a walk endless, as a cyclic
 * linked list would. Blocks must be as large as their stated lengths,
 * arrays must hold their stated counts, and source and destination blocks
 * must not overlap. The family never allocates and writes no diagnostics.
 *
 * Example: copying from byte 7 of a two-block list into one block.
 *
 *     #include "zub/scattergather.h"
 *     int main(void)
 *     {
 *         uint8_t a[4] = "hell", b[8] = "o, world";
 *         zubScatterGatherEntry_t source[2] = {{a, ZUB_SG_WORD(ZUB_SG_KIND_DATA, 4)},
 *                                              {b, ZUB_SG_WORD(ZUB_SG_KIND_DATA, 8)}};
 *         uint8_t out[5];
 *         zubScatterGatherEntry_t destination = {out, ZUB_SG_WORD(ZUB_SG_KIND_DATA, sizeof out)};
 *         int32_t destinationCount = 1;
 *         uint32_t total = zubGetTotalLength(source, 2);                         // 12
 *         zubCopyScatterGather(&destination, &destinationCount, source, 2, 7, NULL); // "world"
 *         return total == 12 ? 0 : 1;
 *     }
 */
#ifndef ZUB_SCATTERGATHER_H
#define ZUB_SCATTERGATHER_H

#include "zub/types.h"

ZUB_EXTERN_C_BEGIN

/* Where zubCopyScatterGather stopped. */
typedef struct zubScatterGatherCopyState {
    int32_t destinationIndex;     /* destination entry, within its array, where copying stopped;
                                     -1 when none was reached; the array's count when the
                                     destination ran off its end; a terminating link's index
                                     when the destination ended there */
    uint32_t destinationPosition; /* bytes written into that entry */
    int32_t sourceIndex;          /* source entry, within its array, where copying stopped
                                     (same rules as destinationIndex) */
    uint32_t sourcePosition;      /* position in that entry of the next byte to take; when the
                                     source ended before the offset, what was left of it */
    uint32_t total;               /* bytes copied */
} zubScatterGatherCopyState_t;

/* Copies the source list's bytes from byte `offset` of its data on into the
 * destination list's blocks until either list ends, and returns the number
 * of bytes copied.
 * *destinationCount holds on entry the count of the destination's first
 * array; on return the destination entries in use: the index + 1 of the
 * last entry written (within its array, which is a linked one when the
 * destination continued through a link), whose length is cut to the bytes
 * written into it; the count of the array where the destination ended when
 * it ran out; 0 when nothing was written because the source's data ended at
 * or before the offset. state, when not null, receives where both walks
 * stopped.
 * With one data entry on each side the copy is a single memcpy; an offset at
 * or past that source entry's end then returns 0 and writes nothing (neither
 * count nor state).
 * A count of 0 or below on either side, a null destination array or a null
 * source array returns 0 with an all-zero state and a destination count of
 * 0; a null destinationCount is such a count of 0 that is not written. */
ZUB_API uint32_t zubCopyScatterGather(zubScatterGatherEntry_t *destination,
                                      int32_t *destinationCount,
                                      const zubScatterGatherEntry_t *source, int32_t sourceCount,
                                      uint32_t offset, zubScatterGatherCopyState_t *state);

/* zubCopyScatterGather with the destination count taken by value (the
 * updated count is not returned) and without a state record. Destination
 * entries are cut as there. Returns the number of bytes copied. */
ZUB_API uint32_t zubReadScatterGatherPart(zubScatterGatherEntry_t *destination,
                                          int32_t destinationCount,
                                          const zubScatterGatherEntry_t *source,
                                          int32_t sourceCount, uint32_t offset);

/* Writes into result a list of at most two entries that describes the
 * source list's data from byte `offset` on, pointing into the source's
 * blocks and arrays (no data is copied; they must outlive the result).
 * *resultCount holds on entry the room in result, on return the entries
 * written:
 *   offset 0, or an offset at the start of an entry: one link to the rest;
 *   an offset inside the last entry of an array: one data entry;
 *   an offset inside an earlier entry: a data entry for its tail and a link
 *   to the entries behind it.
 * Returns 0 (a null source, a count of 0 or below, or an offset exactly at
 * the end of the data give a count of 0), -2 when the offset lies beyond
 * the end of the data (count 0), or -22 for a null result or resultCount or
 * too little room (then neither result nor the count is written). Counts and
 * lengths keep their low 30 bits. Positions are added in 64 bits, so a list
 * of more than 4 GiB never makes an offset match twice. */
ZUB_API int32_t zubScatterGatherCreateListFrom(zubScatterGatherEntry_t *result,
                                               int32_t *resultCount,
                                               const zubScatterGatherEntry_t *source,
                                               int32_t sourceCount, uint32_t offset);

/* Sum of the lengths of the list's data entries, in unsigned 32-bit
 * arithmetic (it wraps past 4 GiB); 0 for a null list or a count of 0 or
 * below. */
ZUB_API uint32_t zubGetTotalLength(const zubScatterGatherEntry_t *entries, int32_t count);

ZUB_EXTERN_C_END

#endif /* ZUB_SCATTERGATHER_H */
