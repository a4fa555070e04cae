/* Record layouts of the ring buffer and the scatter-gather copy state. */
#include "abi_expect.h"

#include "zub/ringbuffer.h"
#include "zub/scattergather.h"

ZUB_ABI_SIZE(zubRingBuffer_t, 20, 24);
ZUB_ABI_OFFSET(zubRingBuffer_t, writePos, 0, 0);
ZUB_ABI_OFFSET(zubRingBuffer_t, readPos, 4, 4);
ZUB_ABI_OFFSET(zubRingBuffer_t, available, 8, 8);
ZUB_ABI_OFFSET(zubRingBuffer_t, capacity, 12, 12);
ZUB_ABI_OFFSET(zubRingBuffer_t, data, 16, 16);

ZUB_ABI_SIZE(zubScatterGatherCopyState_t, 20, 20);
ZUB_ABI_OFFSET(zubScatterGatherCopyState_t, destinationIndex, 0, 0);
ZUB_ABI_OFFSET(zubScatterGatherCopyState_t, destinationPosition, 4, 4);
ZUB_ABI_OFFSET(zubScatterGatherCopyState_t, sourceIndex, 8, 8);
ZUB_ABI_OFFSET(zubScatterGatherCopyState_t, sourcePosition, 12, 12);
ZUB_ABI_OFFSET(zubScatterGatherCopyState_t, total, 16, 16);
