/* Tables that zubsh's --lib option refuses or cannot finish walking, in a
 * shared object of their own (examples/zubsh/zubsh_test.sh). */
#include "zub/serialization.h"

#define EXPORTED __attribute__((visibility("default")))

typedef struct {
    uint8_t a;
    uint16_t b;
} Pair; /* 4 bytes */

/* Kind 12 is no member kind. */
static const zubEndianInfoEntry_t badKindEntries[] = {ZUB_ENTRY_U8(Pair, a),
                                                      ZUB_ENTRY_RAW(2, 12, 0), ZUB_ENTRY_END};
EXPORTED const zubEndianTable_t bad_kind = ZUB_ENDIAN_TABLE(Pair, badKindEntries);

/* A 4-byte member at offset 2 of a 4-byte structure. */
static const zubEndianInfoEntry_t pastEndEntries[] = {ZUB_ENTRY_RAW(2, ZUB_DESER_TYPE_U32, 0),
                                                      ZUB_ENTRY_END};
EXPORTED const zubEndianTable_t past_end = ZUB_ENDIAN_TABLE(Pair, pastEndEntries);

/* A byte, then the structure itself again: nests without end. */
EXPORTED extern const zubEndianTable_t nests_itself;
static const zubEndianInfoEntry_t nestsEntries[] = {
    ZUB_ENTRY_U8(Pair, a), {0, ZUB_DESER_TYPE_TABLE, {.table = &nests_itself}}, ZUB_ENTRY_END};
const zubEndianTable_t nests_itself = ZUB_ENDIAN_TABLE(Pair, nestsEntries);
