/*
 * libzub-vorn shared types: the allocator record, the result codes and the
 * scatter-gather entry used by several families.
 *
 * Every public header of the library compiles as C99 and as C++.
 *
 * Example: an allocator record that counts its blocks, handed to a vector.
 *
 *     #include <stdlib.h>
 *     #include "zub/vector.h"
 *     // An allocator record that counts the blocks it hands out.
 *     static void *countingAlloc(void *context, size_t size, uintptr_t zero)
 *     {
 *         (void)zero;
 *         ++*(int *)context;
 *         return malloc(size);
 *     }
 *     static void countingRelease(void *context, void *block)
 *     {
 *         if (block) --*(int *)context;
 *         free(block);
 *     }
 *     int main(void)
 *     {
 *         int blocks = 0;
 *         zubAllocator_t counting = {&blocks, countingAlloc, countingRelease};
 *         zubVector_t v;
 *         zubVectorParams_t params = {&counting, sizeof(int), 0, 0};
 *         int x = 1;
 *         if (zubVectorInitialize(&v, &params, -1) != ZUB_OK) return 1;
 *         zubVectorInsert(&v, -1, &x);
 *         zubVectorRelease(&v);    // blocks is 0 again
 *         return blocks;
 *     }
 */
#ifndef ZUB_TYPES_H
#define ZUB_TYPES_H

#include <stddef.h>
#include <stdint.h>

/* Open and close a header's declarations: extern "C" in C++, nothing in C. */
#ifdef __cplusplus
#define ZUB_EXTERN_C_BEGIN extern "C" {
#define ZUB_EXTERN_C_END }
#else
#define ZUB_EXTERN_C_BEGIN
#define ZUB_EXTERN_C_END
#endif

/* Marks a function or object that the shared object exports. The export
 * list decides what is really visible; this keeps the compiler's view in
 * step with it. */
#if defined(__GNUC__)
#define ZUB_API __attribute__((visibility("default")))
#else
#define ZUB_API
#endif

ZUB_EXTERN_C_BEGIN

/*
 * Allocator record. A family that takes a pointer to one allocates with
 * alloc(context, byteCount, 0) and releases with release(context, block).
 * A null pointer or the all-ones pointer value (ZUB_ALLOCATOR_DEFAULT)
 * stands for malloc and free. release must accept a null block.
 */
typedef struct zubAllocator {
    void *context;                                              /* passed back unchanged */
    void *(*alloc)(void *context, size_t size, uintptr_t zero); /* zero is always 0 */
    void (*release)(void *context, void *block);                /* accepts a null block */
} zubAllocator_t;

#define ZUB_ALLOCATOR_DEFAULT ((zubAllocator_t *)(~(uintptr_t)0)) /* malloc and free */

/* Result codes: 0 is success, failures are negative POSIX error numbers. */
#define ZUB_OK 0
#define ZUB_EFAIL (-1)         /* generic failure */
#define ZUB_ENOENT (-2)        /* not found */
#define ZUB_EINTR (-4)         /* changed during iteration */
#define ZUB_EBADF (-9)         /* traversal stack is empty */
#define ZUB_ENOMEM (-12)       /* out of memory */
#define ZUB_EFAULT (-14)       /* bad address or invalid table */
#define ZUB_EBUSY (-16)        /* busy or already present */
#define ZUB_EINVAL (-22)       /* invalid argument */
#define ZUB_ENOSPC (-28)       /* no space */
#define ZUB_ENOSYS (-38)       /* not implemented */
#define ZUB_ESTACKFULL (-1000) /* a serialization walk's state stack is full */

/*
 * Scatter-gather entry: a pointer and a 32-bit word whose top two bits are
 * the kind and whose low 30 bits are the length.
 *   kind 0 (data): data addresses `length` bytes;
 *   kind 1 (link): data addresses a further array of `length` entries.
 * An entry whose whole word is 0 is an empty data entry.
 */
typedef struct zubScatterGatherEntry {
    void *data;             /* kind 0: the bytes; kind 1: the further entries */
    uint32_t lengthAndKind; /* bits 30-31: kind; bits 0-29: length */
} zubScatterGatherEntry_t;

#define ZUB_SG_KIND_DATA 0u                                               /* data entry */
#define ZUB_SG_KIND_LINK 1u                                               /* link entry */
#define ZUB_SG_LENGTH_MASK 0x3FFFFFFFu                                    /* the length bits */
#define ZUB_SG_LENGTH(entry) ((entry).lengthAndKind & ZUB_SG_LENGTH_MASK) /* an entry's length */
#define ZUB_SG_KIND(entry) ((entry).lengthAndKind >> 30)                  /* an entry's kind */
/* The word of an entry of this kind and length. */
#define ZUB_SG_WORD(kind, length) \
    ((uint32_t)(((uint32_t)(kind) << 30) | (ZUB_SG_LENGTH_MASK & (uint32_t)(length))))

ZUB_EXTERN_C_END

#endif /* ZUB_TYPES_H */
