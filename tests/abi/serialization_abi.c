/* Record layouts of the serialization family on armhf and on 64-bit hosts. */
#include "abi_expect.h"

#include "zub/serialization.h"

ZUB_ABI_SIZE(zubEndianInfoEntry_t, 8, 16);
ZUB_ABI_OFFSET(zubEndianInfoEntry_t, memberOffset, 0, 0);
ZUB_ABI_OFFSET(zubEndianInfoEntry_t, packed, 2, 2);
ZUB_ABI_OFFSET(zubEndianInfoEntry_t, argument, 4, 8);
_Static_assert(sizeof(zubEndianArgument_t) == sizeof(uintptr_t), "argument word");

ZUB_ABI_SIZE(zubEndianTable_t, 8, 16);
ZUB_ABI_OFFSET(zubEndianTable_t, entries, 4, 8);

ZUB_ABI_SIZE(zubDeserTableState_t, 24, 40);
ZUB_ABI_OFFSET(zubDeserTableState_t, entry, 4, 8);
ZUB_ABI_OFFSET(zubDeserTableState_t, count, 8, 16);
ZUB_ABI_OFFSET(zubDeserTableState_t, index, 12, 20);
ZUB_ABI_OFFSET(zubDeserTableState_t, multiplicity, 16, 24);
ZUB_ABI_OFFSET(zubDeserTableState_t, base, 20, 32);

ZUB_ABI_SIZE(zubDeserState_t, 76, 120);
ZUB_ABI_OFFSET(zubDeserState_t, bufferLength, 4, 8);
ZUB_ABI_OFFSET(zubDeserState_t, bufferPosition, 8, 12);
ZUB_ABI_OFFSET(zubDeserState_t, stack, 12, 16);
ZUB_ABI_OFFSET(zubDeserState_t, stackCapacity, 16, 24);
ZUB_ABI_OFFSET(zubDeserState_t, allocator, 20, 32);
ZUB_ABI_OFFSET(zubDeserState_t, totalBytes, 24, 40);
ZUB_ABI_OFFSET(zubDeserState_t, current, 28, 48);
ZUB_ABI_OFFSET(zubDeserState_t, state, 52, 88);
ZUB_ABI_OFFSET(zubDeserState_t, nextState, 56, 92);
ZUB_ABI_OFFSET(zubDeserState_t, bytesOfMemberDone, 60, 96);
ZUB_ABI_OFFSET(zubDeserState_t, totalBytesOfMember, 64, 100);
ZUB_ABI_OFFSET(zubDeserState_t, stackDepth, 68, 104);
ZUB_ABI_OFFSET(zubDeserState_t, errorCode, 70, 106);
ZUB_ABI_OFFSET(zubDeserState_t, srcval, 72, 112);

/* Predefined host types: count, then the pointer right after it. */
ZUB_ABI_SIZE(zubDeserBlobUint16_t, 8, 16);
ZUB_ABI_OFFSET(zubDeserBlobUint16_t, data, 4, 8);
ZUB_ABI_SIZE(zubDeserString_t, 8, 16);
ZUB_ABI_OFFSET(zubDeserStringArray_t, data, 4, 8);
ZUB_ABI_SIZE(zubOsalTime_t, 16, 16);
ZUB_ABI_OFFSET(zubOsalTime_t, nanoseconds, 8, 8);

/* The worked example's packed unit: VAR8 whose data pointer lies 2 bytes
 * after the count. */
_Static_assert(ZUB_ENDIAN_PACK(ZUB_DESER_TYPE_VAR8, 1026) == 0x4026, "packed unit");
