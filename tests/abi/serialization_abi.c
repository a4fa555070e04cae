/* Record layouts of the serialization family on armhf and on 64-bit hosts. */
#include "abi_expect.h"

#include "zub/serialization.h"

_Static_assert(sizeof(zubEndianInfoEntry_t) == ZUB_ABI_EXPECT(8, 16), "zubEndianInfoEntry_t size");
_Static_assert(offsetof(zubEndianInfoEntry_t, memberOffset) == 0, "entry.memberOffset");
_Static_assert(offsetof(zubEndianInfoEntry_t, packed) == 2, "entry packed unit");
_Static_assert(offsetof(zubEndianInfoEntry_t, argument) == ZUB_ABI_EXPECT(4, 8), "entry.argument");
_Static_assert(sizeof(zubEndianArgument_t) == sizeof(uintptr_t), "argument word");

_Static_assert(sizeof(zubEndianTable_t) == ZUB_ABI_EXPECT(8, 16), "zubEndianTable_t size");
_Static_assert(offsetof(zubEndianTable_t, entries) == ZUB_ABI_EXPECT(4, 8), "table.entries");

_Static_assert(sizeof(zubDeserTableState_t) == ZUB_ABI_EXPECT(24, 40), "zubDeserTableState_t size");
_Static_assert(offsetof(zubDeserTableState_t, entry) == ZUB_ABI_EXPECT(4, 8), "tableState.entry");
_Static_assert(offsetof(zubDeserTableState_t, count) == ZUB_ABI_EXPECT(8, 16), "tableState.count");
_Static_assert(offsetof(zubDeserTableState_t, index) == ZUB_ABI_EXPECT(12, 20), "tableState.index");
_Static_assert(offsetof(zubDeserTableState_t, multiplicity) == ZUB_ABI_EXPECT(16, 24),
               "tableState.multiplicity");
_Static_assert(offsetof(zubDeserTableState_t, base) == ZUB_ABI_EXPECT(20, 32), "tableState.base");

_Static_assert(sizeof(zubDeserState_t) == ZUB_ABI_EXPECT(76, 120), "zubDeserState_t size");
_Static_assert(offsetof(zubDeserState_t, bufferLength) == ZUB_ABI_EXPECT(4, 8),
               "state.bufferLength");
_Static_assert(offsetof(zubDeserState_t, bufferPosition) == ZUB_ABI_EXPECT(8, 12),
               "state.bufferPosition");
_Static_assert(offsetof(zubDeserState_t, stack) == ZUB_ABI_EXPECT(12, 16), "state.stack");
_Static_assert(offsetof(zubDeserState_t, stackCapacity) == ZUB_ABI_EXPECT(16, 24),
               "state.stackCapacity");
_Static_assert(offsetof(zubDeserState_t, allocator) == ZUB_ABI_EXPECT(20, 32), "state.allocator");
_Static_assert(offsetof(zubDeserState_t, totalBytes) == ZUB_ABI_EXPECT(24, 40), "state.totalBytes");
_Static_assert(offsetof(zubDeserState_t, current) == ZUB_ABI_EXPECT(28, 48), "state.current");
_Static_assert(offsetof(zubDeserState_t, state) == ZUB_ABI_EXPECT(52, 88), "state.state");
_Static_assert(offsetof(zubDeserState_t, nextState) == ZUB_ABI_EXPECT(56, 92), "state.nextState");
_Static_assert(offsetof(zubDeserState_t, bytesOfMemberDone) == ZUB_ABI_EXPECT(60, 96),
               "state.bytesOfMemberDone");
_Static_assert(offsetof(zubDeserState_t, totalBytesOfMember) == ZUB_ABI_EXPECT(64, 100),
               "state.totalBytesOfMember");
_Static_assert(offsetof(zubDeserState_t, stackDepth) == ZUB_ABI_EXPECT(68, 104),
               "state.stackDepth");
_Static_assert(offsetof(zubDeserState_t, errorCode) == ZUB_ABI_EXPECT(70, 106), "state.errorCode");
_Static_assert(offsetof(zubDeserState_t, srcval) == ZUB_ABI_EXPECT(72, 112), "state.srcval");

/* Predefined host types: count, then the pointer right after it. */
_Static_assert(sizeof(zubDeserBlobUint16_t) == ZUB_ABI_EXPECT(8, 16), "blob size");
_Static_assert(offsetof(zubDeserBlobUint16_t, data) == ZUB_ABI_EXPECT(4, 8), "blob.data");
_Static_assert(sizeof(zubDeserString_t) == ZUB_ABI_EXPECT(8, 16), "string size");
_Static_assert(offsetof(zubDeserStringArray_t, data) == ZUB_ABI_EXPECT(4, 8), "string array.data");
_Static_assert(sizeof(zubOsalTime_t) == 16, "zubOsalTime_t size");
_Static_assert(offsetof(zubOsalTime_t, nanoseconds) == 8, "zubOsalTime_t second member");

/* The worked example's packed unit: VAR8 whose data pointer lies 2 bytes
 * after the count. */
_Static_assert(ZUB_ENDIAN_PACK(ZUB_DESER_TYPE_VAR8, 1026) == 0x4026, "packed unit");
