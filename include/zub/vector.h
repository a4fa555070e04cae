/*
 * Ring-buffer vector: a growable sequence of fixed-size elements, copied in
 * and out by value.
 *
 * The element at position p (0 <= p < count) lives in slot
 * (head + p) mod alloced of the buffer, at byte offset slot * elementSize.
 * The sequence may wrap around the end of the buffer, so appending at the
 * end (zubVectorInsert with position -1) and removing from the front
 * (zubVectorRemove with position -1) move no other element, and an insert
 * moves whichever side of the insertion point is shorter. Growth goes to
 * 3/2 of the count plus 10 slots (10, 25, 47, 80, 130, ... from empty) and
 * unwraps the sequence to start at slot 0.
 *
 * Memory: the buffer is allocated and released through the allocator record
 * (alloc(context, bytes, 0), release(context, block)); null or
 * ZUB_ALLOCATOR_DEFAULT mean malloc and free. The buffer size
 * alloced * elementSize is computed in 64 bits and must fit in 32 bits on
 * every platform: a larger size is a failed allocation (-12) and the
 * allocator is not called.
 *
 * Marks: a slot vacated by zubVectorRemove is filled with 0x77 bytes, the
 * slots emptied by zubVectorClear with 0x00; nothing is filled on release.
 *
 * Safety notes:
 *  - head keeps its value when the vector empties, is released or regrows,
 *    so it can lie beyond a smaller new buffer. Every use of head as a slot
 *    index is reduced modulo alloced first; the field itself keeps the value
 *    the operations give it.
 *  - Insert positions below -1 are refused with -22.
 *  - A growth whose slot count would pass INT32_MAX (count is signed
 *    32-bit) fails with -12 like any failed allocation.
 *
 * Not thread-safe: callers serialise all access to one vector. Only
 * zubVectorGetSize checks its vector pointer; every other operation needs a
 * valid, initialised record. Element pointers must be valid for elementSize
 * bytes and must not point into the vector's own buffer.
 *
 * Example: the vector as a FIFO queue.
 *
 *     #include "zub/vector.h"
 *     int main(void)
 *     {
 *         zubVector_t q;
 *         zubVectorParams_t params = {NULL, sizeof(int), 0, 0}; // NULL allocator: malloc/free
 *         int x = 42;
 *         if (zubVectorInitialize(&q, &params, -1) != 0) return 1;
 *         zubVectorInsert(&q, -1, &x); // append
 *         zubVectorRemove(&q, &x, -1); // take the front: x == 42
 *         zubVectorRelease(&q);
 *         return 0;
 *     }
 */
#ifndef ZUB_VECTOR_H
#define ZUB_VECTOR_H

#include "zub/types.h"

ZUB_EXTERN_C_BEGIN

/* Filled by the caller, read once by zubVectorInitialize. */
typedef struct zubVectorParams {
    const zubAllocator_t *allocator; /* buffer memory; null or all ones: malloc/free */
    uint32_t elementSize;            /* bytes per element; 0 is allowed (nothing is copied) */
    uintptr_t extra0;                /* kept in the vector, never interpreted */
    uintptr_t extra1;                /* kept in the vector, never interpreted */
} zubVectorParams_t;

/* Owned by the caller; changed only through the functions below. */
typedef struct zubVector {
    const zubAllocator_t *allocator; /* copied from the parameters */
    uint32_t elementSize;            /* copied from the parameters */
    uintptr_t extra0;                /* copied from the parameters */
    uintptr_t extra1;                /* copied from the parameters */
    void *data;       /* alloced * elementSize bytes, or null (then alloced and count are 0) */
    uint32_t alloced; /* slots in data; >= count; alloced * elementSize fits 32 bits */
    uint32_t head;    /* slot of position 0, taken modulo alloced when used */
    int32_t count;    /* elements held, 0 <= count <= alloced */
} zubVector_t;

/* Fills the record with zeros, copies the parameters and, for an initial
 * count >= 0, allocates initialCount slots (0 asks for a zero-byte buffer).
 * A negative count leaves the vector without buffer. Returns 0, or -12 when
 * the buffer cannot be allocated (the record is then empty, without buffer,
 * and usable). */
ZUB_API int32_t zubVectorInitialize(zubVector_t *vector, const zubVectorParams_t *params,
                                    int32_t initialCount);

/* Copies elementSize bytes from element into the sequence at position
 * (0..count; -1 or count append). Grows to 3 * count / 2 + 10 slots when
 * full. Returns 0; -22 for a position above count or below -1; -12 when the
 * growth fails (the vector is unchanged). */
ZUB_API int32_t zubVectorInsert(zubVector_t *vector, int32_t position, const void *element);

/* Removes the first element; position must be -1. Copies it to element when
 * that is not null and fills its slot with 0x77. Returns 0; -2 when empty;
 * -22 for another position. Nothing changes on failure. When the vector
 * becomes empty, head stays where it was. */
ZUB_API int32_t zubVectorRemove(zubVector_t *vector, void *element, int32_t position);

/* Copies the element at position into element. Returns 0, or -2 for a
 * position < 0 or >= count. The vector is not changed. */
ZUB_API int32_t zubVectorGetAt(const zubVector_t *vector, void *element, int32_t position);

/* Returns count, or -22 for a null vector. */
ZUB_API int32_t zubVectorGetSize(const zubVector_t *vector);

/* Resizes the buffer to max(wanted, count) slots and unwraps the sequence to
 * start at slot 0 (head becomes 0 when there are elements). A negative
 * wanted shrinks to count, or releases the buffer of an empty vector
 * (result 0). Without a buffer, wanted <= 0 does nothing. When alloced is
 * already the target nothing is allocated. Returns the new alloced (>= 0)
 * or -12 when the allocation fails (the vector is unchanged). */
ZUB_API int32_t zubVectorSetAlloced(zubVector_t *vector, int32_t wanted);

/* Fills the slots of the elements with zero bytes and sets count to 0; the
 * buffer, alloced and head stay. Returns 0. */
ZUB_API int32_t zubVectorClear(zubVector_t *vector);

/* Releases the buffer (if any): data null, alloced and count 0; head is
 * kept. Returns 0. The vector stays usable; its next insert allocates. */
ZUB_API int32_t zubVectorReleaseData(zubVector_t *vector);

/* The same as zubVectorReleaseData. Returns 0; the record can then be
 * initialised again or discarded. */
ZUB_API int32_t zubVectorRelease(zubVector_t *vector);

/* Not implemented: examines neither argument and returns -38. */
ZUB_API int32_t zubVectorMerge(zubVector_t *destination, const zubVector_t *source);

ZUB_EXTERN_C_END

#endif /* ZUB_VECTOR_H */
