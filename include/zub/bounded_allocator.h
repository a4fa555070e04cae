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
 * One record belongs to one walk at a time; it has no lock.
 */
#ifndef ZUB_BOUNDED_ALLOCATOR_H
#define ZUB_BOUNDED_ALLOCATOR_H

#include <stdlib.h>

#include "zub/types.h"

ZUB_EXTERN_C_BEGIN

typedef struct zubBoundedAllocator {
    zubAllocator_t record; /* first: hand &bounded->record (or the result of Init) to a walk */
    size_t limit;          /* most bytes that may be handed out between resets */
    size_t used;           /* bytes handed out since the last reset; never above limit */
    size_t blocks;         /* blocks handed out since the last reset */
} zubBoundedAllocator_t;

/* Allocation function of the record: a zero-filled block of `size` bytes,
 * or null when `size` does not fit the remaining budget or calloc fails
 * (the budget is then unchanged). A size of 0 takes a unique block. */
static inline void *zubBoundedAllocatorAlloc(void *context, size_t size, uintptr_t zero)
{
    zubBoundedAllocator_t *bounded = (zubBoundedAllocator_t *)context;
    void *block;
    (void)zero;
    if (size > bounded->limit - bounded->used) {
        return NULL;
    }
    block = calloc(1, size != 0 ? size : 1);
    if (block != NULL) {
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

/* Sets up `bounded` with a budget of `limit` bytes and returns its
 * allocator record, ready for zubDeserState_t.allocator. */
static inline zubAllocator_t *zubBoundedAllocatorInit(zubBoundedAllocator_t *bounded, size_t limit)
{
    bounded->record.context = bounded;
    bounded->record.alloc = zubBoundedAllocatorAlloc;
    bounded->record.release = zubBoundedAllocatorRelease;
    bounded->limit = limit;
    bounded->used = 0;
    bounded->blocks = 0;
    return &bounded->record;
}

/* Starts a fresh budget (for the next message); live blocks stay valid. */
static inline void zubBoundedAllocatorReset(zubBoundedAllocator_t *bounded)
{
    bounded->used = 0;
    bounded->blocks = 0;
}

ZUB_EXTERN_C_END

#endif /* ZUB_BOUNDED_ALLOCATOR_H */
