/*
 * Byte ring buffer: a FIFO of bytes over a data area that the caller owns.
 *
 * Bytes go in all or nothing, come out by copying (or dropping) up to a
 * requested count, or are handed out in place as one or two scatter-gather
 * data entries. The data area can be exchanged for a larger or smaller one
 * while bytes are buffered; they move with it, oldest first. The family
 * never allocates, never releases memory and writes no diagnostics. There
 * is no locking: a producer and a consumer on different threads serialise
 * their calls on one ring under a lock of their own.
 *
 * A record filled with zero bytes is a detached ring (capacity 0): enqueues
 * fail with -28, dequeues return 0, and zubRingBufferSetMemory attaches an
 * area to it. Any other record must come from zubRingBufferInit.
 *
 * Results are signed 32-bit and byte counts unsigned 32-bit, and a handed
 * out part holds its length in 30 bits: a ring meant for single transfers
 * of 1 GiB or more is outside what these calls can report.
 *
 * Decoding in place: each part that zubRingBufferDequeueAllParts hands out
 * can be one chunk for the deserializer, which goes on across the wrap
 * where the first part ended (examples/ring_decode.c). The parts stay valid
 * until the next enqueue reuses their bytes: finish the walk, or take the
 * bytes out, before the producer enqueues again.
 *
 * Example:
 *
 *     #include "zub/ringbuffer.h"
 *     static uint8_t area[4096];
 *     int main(void)
 *     {
 *         zubRingBuffer_t ring;
 *         uint8_t out[5];
 *         zubScatterGatherEntry_t parts[2];
 *         int32_t partCount = 0;
 *         zubRingBufferInit(&ring, area, sizeof area);     // capacity: a multiple of 8
 *         zubRingBufferEnqueue(&ring, "hello, world", 12); // 12, or -28 when it does not fit
 *         zubRingBufferDequeue(&ring, out, 5);             // copies "hello"
 *         zubRingBufferDequeue(&ring, NULL, 2);            // drops ", "
 *         // the other 5 bytes in place, as one part or two where they wrap
 *         zubRingBufferDequeueAllParts(&ring, parts, &partCount, zubRingBufferGetUsedBytes(&ring));
 *         return partCount;
 *     }
 */
#ifndef ZUB_RINGBUFFER_H
#define ZUB_RINGBUFFER_H

#include "zub/types.h"

ZUB_EXTERN_C_BEGIN

/* A ring: positions and counts over the caller's data area. */
typedef struct zubRingBuffer {
    uint32_t writePos;  /* where the next enqueued byte goes; 0 <= writePos <= capacity
                           (equal to capacity only right after a move that filled the area) */
    uint32_t readPos;   /* the oldest buffered byte; 0 <= readPos < capacity, or 0 */
    uint32_t available; /* free bytes; available <= capacity; used = capacity - available */
    uint32_t capacity;  /* size of the data area in bytes, a multiple of 8 (0 when detached) */
    uint8_t *data;      /* the caller's data area of capacity bytes; null when detached */
} zubRingBuffer_t;

/* Sets up an empty ring over memory: capacity = size rounded down to a
 * multiple of 8, both positions 0. Returns 0, or -22 for a null ring or
 * memory or a size of 8 or less (the record is then not written). */
ZUB_API int32_t zubRingBufferInit(zubRingBuffer_t *ring, void *memory, uint32_t size);

/* Ends the ring. Does nothing: the data area stays the caller's. */
ZUB_API void zubRingBufferRelease(zubRingBuffer_t *ring);

/* Number of buffered bytes (capacity - available); 0 for a null ring. */
ZUB_API uint32_t zubRingBufferGetUsedBytes(const zubRingBuffer_t *ring);

/* Number of free bytes; 0 for a null ring. */
ZUB_API uint32_t zubRingBufferGetAvailableBytes(const zubRingBuffer_t *ring);

/* Appends all length bytes from source, wrapping at the end of the area.
 * Returns length; 0 for a length of 0; -22 for a null ring or source;
 * -28 when length exceeds the capacity or the free bytes (nothing stored,
 * the record unchanged). source must not overlap the data area. */
ZUB_API int32_t zubRingBufferEnqueue(zubRingBuffer_t *ring, const void *source, uint32_t length);

/* Takes n = min(used, length) oldest bytes and copies them to destination,
 * or drops them when destination is null. Returns n (0 when nothing is
 * buffered or length is 0) or -22 for a null ring. The positions are not
 * reset when the ring becomes empty. */
ZUB_API int32_t zubRingBufferDequeue(zubRingBuffer_t *ring, void *destination, uint32_t length);

/* Takes n = min(used, maxLength) oldest bytes without copying them: parts
 * (room for two entries) receives one or two data entries pointing into the
 * data area, *partCount 1 or 2. When the ring becomes empty both positions
 * return to 0. Returns n; 0 when n is 0 (parts and *partCount untouched);
 * -22 for a null ring, parts or partCount. The parts stay valid until a
 * later enqueue reuses their bytes. */
ZUB_API int32_t zubRingBufferDequeueAllParts(zubRingBuffer_t *ring, zubScatterGatherEntry_t *parts,
                                             int32_t *partCount, uint32_t maxLength);

/* Moves the ring to a new data area: the buffered bytes are copied, oldest
 * first, to the start of memory; readPos becomes 0 and writePos the used
 * count. A null memory or a size below 8 detaches the ring (capacity 0),
 * which succeeds only while nothing is buffered. Returns 0, -28 when the
 * buffered bytes do not fit the new capacity (nothing changes), or -22 for
 * a null ring.
 * The new area may overlap the old one (the same area, or one grown or
 * shrunk in place): the bytes are then moved with memmove, and wrapped
 * contents are first rotated into order inside the old area, so the whole
 * old area must still be valid during the call. An old area that does not
 * overlap the new bytes is only read; it stays the caller's. */
ZUB_API int32_t zubRingBufferSetMemory(zubRingBuffer_t *ring, void *memory, uint32_t size);

ZUB_EXTERN_C_END

#endif /* ZUB_RINGBUFFER_H */
