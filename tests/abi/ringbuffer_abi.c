/* Record layouts of the ring buffer and the scatter-gather copy state. */
#include "abi_expect.h"

#include "zub/ringbuffer.h"
#include "zub/scattergather.h"

_Static_assert(sizeof(zubRingBuffer_t) == ZUB_ABI_EXPECT(20, 24), "zubRingBuffer_t size");
_Static_assert(offsetof(zubRingBuffer_t, writePos) == 0, "zubRingBuffer_t.writePos");
_Static_assert(offsetof(zubRingBuffer_t, readPos) == 4, "zubRingBuffer_t.readPos");
_Static_assert(offsetof(zubRingBuffer_t, available) == 8, "zubRingBuffer_t.available");
_Static_assert(offsetof(zubRingBuffer_t, capacity) == 12, "zubRingBuffer_t.capacity");
_Static_assert(offsetof(zubRingBuffer_t, data) == 16, "zubRingBuffer_t.data");

_Static_assert(sizeof(zubScatterGatherCopyState_t) == 20, "zubScatterGatherCopyState_t size");
_Static_assert(offsetof(zubScatterGatherCopyState_t, destinationIndex) == 0,
               "zubScatterGatherCopyState_t.destinationIndex");
_Static_assert(offsetof(zubScatterGatherCopyState_t, destinationPosition) == 4,
               "zubScatterGatherCopyState_t.destinationPosition");
_Static_assert(offsetof(zubScatterGatherCopyState_t, sourceIndex) == 8,
               "zubScatterGatherCopyState_t.sourceIndex");
_Static_assert(offsetof(zubScatterGatherCopyState_t, sourcePosition) == 12,
               "zubScatterGatherCopyState_t.sourcePosition");
_Static_assert(offsetof(zubScatterGatherCopyState_t, total) == 16,
               "zubScatterGatherCopyState_t.total");
