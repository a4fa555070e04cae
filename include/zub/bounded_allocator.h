/*
 * Bounded allocator record: a byte budget over calloc/free.
 *
 * A stream read from the network decides how much the deserializer
 * allocates (a 32-bit count times the element size per counted member).
 * Handing the deserializer this record instead of the default caps the sum
 * of all block sizes of one walk: an allocation that would take the total
 * above `limit` fails, and the walk ends with ZUB_DES_ERR_NOMEM.
 *
 * Everything here is static inline, so it adds nothing to the library's
 * exported interface. Blocks are plain calloc blocks, zero-filled, so that
 *   - _zubDeserMemoryDealloc (which frees with free) releases them, and
 *   - a walk that failed half way through an array of structures leaves
 *     null data pointers in the elements it never reached, which the
 *     release passes over instead of freeing garbage.
 * Releasing a block does not give its bytes back to the budget (the record
 * does not know block sizes); the budget counts what one message made the
 * caller allocate. Call zubBoundedAllocatorReset before the next message.
 *
 * After a failed walk. A count that failed (above the multiplicity, or its
 * block refused) inside an array of structures leaves that element with a
 * count and a null data pointer; _zubDeserMemoryDealloc stops there with
 * result 0 and does not free the arrays that enclose it. To give back
 * everything a failed or abandoned walk took, give the record a block log
 * (an array of pointers of your own) and call zubBoundedAllocatorFreeAll
 * instead of _zubDeserMemoryDealloc. Use one or the other on a structure,
 * never both.
 *
 * One record belongs to one walk at a time; it has no lock.
 *
 * Example: a stream of strings arriving in chunks, decoded within a budget of 64 KiB
 * and 256 blocks; a failed or abandoned walk gives back everything it took.
 *
 *     #include <stddef.h>
 *     #include "zub/bounded_allocator.h"
 *     #include "zub/serialization.h"
 *     extern int32_t receive(uint8_t *chunk, uint32_t size); // the caller's input
 *     extern void use(const zubDeserBlobString_t *names);
 *     void decodeNames(void)
 *     {
 *         zubDeserBlobString_t names = {0};            // zero-filled before the walk
 *         zubDeserTableState_t stack[ZUB_DESER_DEFAULT_STACK];
 *         zubDeserState_t s = {0};
 *         zubBoundedAllocator_t budget;
 *         void *log[256];
 *         uint8_t chunk[512];
 *         int32_t n;
 *         s.stack = stack;
 *         s.stackCapacity = ZUB_DESER_DEFAULT_STACK;
 *         s.allocator = zubBoundedAllocatorInit(&budget, 64 * 1024); // at most 64 KiB
 *         zubBoundedAllocatorSetLog(&budget, log, 256);              // and 256 blocks
 *         s.current.table = &__zub_EndianTable_zubDeserBlobString_t;
 *         s.current.base = &names;
 *         _zubDeserStatePushTable(&s);
 *         while (s.state < ZUB_DIS_DONE && (n = receive(chunk, sizeof chunk)) > 0) {
 *             s.buffer = chunk;
 *             s.bufferLength = (uint32_t)n;
 *             s.bufferPosition = 0;
 *             if (_zubDeserializeTableFrom(&s) < 0) break;
 *         }
 *         if (s.state == ZUB_DIS_DONE) {
 *             use(&names);                             // names.data[i].count bytes each, no NUL
 *             _zubDeserMemoryDealloc(&__zub_EndianTable_zubDeserBlobString_t, &names, -1);
 *         } else {
 *             zubBoundedAllocatorFreeAll(&budget);     // failed or cut short: give everything back
 *         }
 *     }
 */
#ifndef ZUB_BOUNDED_ALLOCATOR_H
#define ZUB_BOUNDED_ALLOCATOR_H

#include <stdlib.h>

#include "zub/types.h"

ZUB_EXTERN_C_BEGIN

/* An allocator record with its budget and counters. */
typedef struct zubBoundedAllocator {
    zubAllocator_t record; /* first: hand &bounded->record (or the result of Init) to a walk */
    size_t limit;          /* most bytes that may be handed out between resets */
    size_t used;           /* bytes handed out since the last reset; never above limit */
    size_t blocks;         /* blocks handed out since the last reset */
    /* Optional block log: null, or an array of logCapacity slots holding
     * the blocks handed out since the last reset, in order (log[0] to
     * log[blocks - 1]). With a log, at most logCapacity blocks are handed
     * out, so the log also caps the number of blocks. */
    void **log;
    size_t logCapacity;
} zubBoundedAllocator_t;

/* Allocation function of the record: a zero-filled block of `size` bytes,
 * or null when `size` does not fit the remaining budget or calloc fails
 * (the budget is then unchanged). A size of 0 takes a unique block. */
static inline void *zubBoundedAllocatorAlloc(void *context, size_t size, uintptr_t zero)
{
    zubBoundedAllocator_t *bounded = (zubBoundedAllocator_t *)context;
    void *block;
    (void)zero;
    if (size > bounded->limit - bounded->used ||
        (bounded->log != NULL && bounded->blocks >= bounded->logCapacity)) {
        return NULL;
    }
    block = calloc(1, size != 0 ? size : 1);
    if (block != NULL) {
        if (bounded->log != NULL) {
            bounded->log[bounded->blocks] = block;
        }
        bounded->used += size;
        bounded->blocks += 1;
    }
    return block;
}

/* Release function of the record: free(block); the budget is unchanged. */
static inline void zubBoundedAllocatorRelease(void *context, void *block)
{
    (void)context;
    free(block);
}

/* Sets up `bounded` with a budget of `limit` bytes and no block log, and
 * returns its allocator record, ready for zubDeserState_t.allocator. */
static inline zubAllocator_t *zubBoundedAllocatorInit(zubBoundedAllocator_t *bounded, size_t limit)
{
    bounded->record.context = bounded;
    bounded->record.alloc = zubBoundedAllocatorAlloc;
    bounded->record.release = zubBoundedAllocatorRelease;
    bounded->limit = limit;
    bounded->used = 0;
    bounded->blocks = 0;
    bounded->log = NULL;
    bounded->logCapacity = 0;
    return &bounded->record;
}

/* Gives the record a block log of `capacity` slots (the array stays the
 * caller's) and starts a fresh budget. */
static inline void zubBoundedAllocatorSetLog(zubBoundedAllocator_t *bounded, void **log,
                                             size_t capacity)
{
    bounded->log = log;
    bounded->logCapacity = capacity;
    bounded->used = 0;
    bounded->blocks = 0;
}

/* Frees every block in the log, newest first, and starts a fresh budget.
 * Without a log it only resets. Not after _zubDeserMemoryDealloc on a
 * structure made of these blocks: that has freed them already. */
static inline void zubBoundedAllocatorFreeAll(zubBoundedAllocator_t *bounded)
{
    if (bounded->log != NULL) {
        while (bounded->blocks > 0) {
            bounded->blocks -= 1;
            free(bounded->log[bounded->blocks]);
        }
    }
    bounded->used = 0;
    bounded->blocks = 0;
}

/* Starts a fresh budget (for the next message); live blocks stay valid. */
static inline void zubBoundedAllocatorReset(zubBoundedAllocator_t *bounded)
{
    bounded->used = 0;
    bounded->blocks = 0;
}

ZUB_EXTERN_C_END

#endif /* ZUB_BOUNDED_ALLOCATOR_H */
