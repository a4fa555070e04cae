/*
 * Decoding straight out of a byte ring buffer, without copying the stream.
 *
 * The producer serializes a message (its size known before it writes) and
 * enqueues it; earlier traffic has left the ring's positions near the end
 * of the area, so the stream wraps. The consumer takes the buffered bytes
 * in place, as one or two parts, and hands each part to the resumable
 * deserializer as one chunk: the walk goes on across the wrap where the
 * first part ended. Prints the message and exits with 0 when it arrived
 * intact.
 */
#include <inttypes.h>
#include <stdio.h>
#include <string.h>

#include "zub/ringbuffer.h"
#include "zub/serialization.h"

typedef struct {
    uint32_t value;
    uint8_t small;
} Element;
typedef struct {
    uint16_t id;
    uint8_t n;
    Element *elements;
} Message;

static const zubEndianInfoEntry_t elementEntries[] = {ZUB_ENTRY_U32(Element, value),
                                                      ZUB_ENTRY_U8(Element, small), ZUB_ENTRY_END};
static const zubEndianTable_t elementTable = ZUB_ENDIAN_TABLE(Element, elementEntries);
static const zubEndianInfoEntry_t messageEntries[] = {
    ZUB_ENTRY_U16(Message, id), ZUB_ENTRY_VAR8_TABLE(Message, n, elements, elementTable),
    ZUB_ENTRY_END};
static const zubEndianTable_t messageTable = ZUB_ENDIAN_TABLE(Message, messageEntries);

int main(void)
{
    static uint8_t area[64];
    zubRingBuffer_t ring;
    zubRingBufferInit(&ring, area, sizeof area);
    /* Earlier traffic: 56 bytes in and out leave 8 bytes before the end. */
    zubRingBufferEnqueue(&ring, area, 56);
    zubRingBufferDequeue(&ring, NULL, 56);

    /* Producer: size, serialize, enqueue (8 bytes at the end, 5 at the start). */
    Element elements[2] = {{0x0A0B0C0D, 0x0E}, {1, 2}};
    Message sent = {0x0102, 2, elements};
    uint8_t stream[32];
    const int64_t size = zubSerializedSize(&messageTable, &sent); /* 13 */
    if (size < 0 || size > (int64_t)sizeof stream ||
        zubSimpleSerializeInto(stream, (uint32_t)size, &messageTable, &sent) != size ||
        zubRingBufferEnqueue(&ring, stream, (uint32_t)size) != size) {
        fprintf(stderr, "ring_decode: cannot send the message\n");
        return 1;
    }

    /* Consumer: the buffered bytes in place, each part one chunk. */
    zubScatterGatherEntry_t parts[2];
    int32_t partCount = 0;
    const int32_t taken = zubRingBufferDequeueAllParts(&ring, parts, &partCount, sizeof area);
    Message got;
    zubDeserTableState_t stack[ZUB_DESER_DEFAULT_STACK];
    zubDeserState_t s;
    memset(&got, 0, sizeof got);
    memset(&s, 0, sizeof s);
    s.stack = stack;
    s.stackCapacity = ZUB_DESER_DEFAULT_STACK;
    s.current.table = &messageTable;
    s.current.base = &got;
    _zubDeserStatePushTable(&s);
    for (int32_t i = 0; i < partCount && s.state < ZUB_DIS_DONE; i++) {
        s.buffer = parts[i].data;
        s.bufferLength = ZUB_SG_LENGTH(parts[i]);
        s.bufferPosition = 0;
        printf("part %" PRId32 ": %" PRIu32 " bytes\n", i, s.bufferLength);
        if (_zubDeserializeTableFrom(&s) < 0) {
            break;
        }
    }
    if (s.state != ZUB_DIS_DONE) {
        fprintf(stderr, "ring_decode: the message did not arrive whole\n");
        return 1;
    }
    printf("%" PRId32 " bytes in %" PRId32 " parts: id 0x%04x, %u elements:", taken, partCount,
           got.id, got.n);
    int intact = got.id == sent.id && got.n == sent.n;
    for (uint8_t i = 0; i < got.n; i++) {
        printf(" {0x%08" PRIx32 ", %u}", got.elements[i].value, got.elements[i].small);
        intact = intact && got.elements[i].value == elements[i].value &&
                 got.elements[i].small == elements[i].small;
    }
    printf("\n");
    _zubDeserMemoryDealloc(&messageTable, &got, -1);
    return intact ? 0 : 1;
}
