// Predefined type description tables, the walkers' stack operations and
// the field-name stub shared by the serialization family.
#include "zub/serialization.h"

extern "C" {

// Every predefined blob, vector and string type is {u32 count; T *data}.
#define ZUB_DEFINE_COUNTED_(t, element)                           \
    const zubEndianInfoEntry_t __zub_EndianInfoEntries_##t[2] = { \
        ZUB_ENTRY_VAR32(t, count, data, element), ZUB_ENTRY_END}; \
    const zubEndianTable_t __zub_EndianTable_##t = ZUB_ENDIAN_TABLE(t, __zub_EndianInfoEntries_##t);

ZUB_DEFINE_COUNTED_(zubDeserBlobInt8_t, 1u)
ZUB_DEFINE_COUNTED_(zubDeserBlobInt16_t, 2u)
ZUB_DEFINE_COUNTED_(zubDeserBlobInt32_t, 4u)
ZUB_DEFINE_COUNTED_(zubDeserBlobInt64_t, 8u)
ZUB_DEFINE_COUNTED_(zubDeserBlobUint8_t, 1u)
ZUB_DEFINE_COUNTED_(zubDeserBlobUint16_t, 2u)
ZUB_DEFINE_COUNTED_(zubDeserBlobUint32_t, 4u)
ZUB_DEFINE_COUNTED_(zubDeserBlobUint64_t, 8u)
ZUB_DEFINE_COUNTED_(zubDeserVectorU8_t, 1u)
ZUB_DEFINE_COUNTED_(zubDeserVectorU16_t, 2u)
ZUB_DEFINE_COUNTED_(zubDeserVectorU32_t, 4u)
ZUB_DEFINE_COUNTED_(zubDeserString_t, 1u)
#undef ZUB_DEFINE_COUNTED_

const zubEndianInfoEntry_t __zub_EndianInfoEntries_zubDeserBlobString_t[2] = {
    ZUB_ENTRY_VAR32_TABLE(zubDeserBlobString_t, count, data, __zub_EndianTable_zubDeserString_t),
    ZUB_ENTRY_END};
const zubEndianTable_t __zub_EndianTable_zubDeserBlobString_t =
    ZUB_ENDIAN_TABLE(zubDeserBlobString_t, __zub_EndianInfoEntries_zubDeserBlobString_t);

const zubEndianInfoEntry_t __zub_EndianInfoEntries_zubDeserStringArray_t[2] = {
    ZUB_ENTRY_VAR32_TABLE(zubDeserStringArray_t, count, data, __zub_EndianTable_zubDeserString_t),
    ZUB_ENTRY_END};
const zubEndianTable_t __zub_EndianTable_zubDeserStringArray_t =
    ZUB_ENDIAN_TABLE(zubDeserStringArray_t, __zub_EndianInfoEntries_zubDeserStringArray_t);

// Sent as 12 bytes: the padding after the 32-bit member is not described.
const zubEndianInfoEntry_t __zub_EndianInfoEntries_zubOsalTime_t[3] = {
    ZUB_ENTRY_U64(zubOsalTime_t, seconds), ZUB_ENTRY_U32(zubOsalTime_t, nanoseconds),
    ZUB_ENTRY_END};
const zubEndianTable_t __zub_EndianTable_zubOsalTime_t =
    ZUB_ENDIAN_TABLE(zubOsalTime_t, __zub_EndianInfoEntries_zubOsalTime_t);

int32_t _zubDeserStatePushTable(zubDeserState_t *state)
{
    if (state->stackDepth >= state->stackCapacity) {
        return ZUB_ENOMEM;
    }
    state->stack[state->stackDepth++] = state->current;
    return 0;
}

int32_t _zubDeserStatePeekTable(zubDeserState_t *state)
{
    if (state->stackDepth == 0) {
        return ZUB_EBADF;
    }
    state->current = state->stack[state->stackDepth - 1u];
    return 0;
}

int32_t _zubDeserStatePopTable(zubDeserState_t *state)
{
    if (state->stackDepth == 0) {
        return ZUB_EBADF;
    }
    state->current = state->stack[--state->stackDepth];
    return 0;
}

const char *_zubDeserGetFieldName(void)
{
    return "ZUB_DESER_NODEBUG";
}

} // extern "C"
