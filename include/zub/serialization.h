/*
 * Table-driven serialization: type description tables, the big-endian byte
 * stream, the resumable serializer and deserializer, the release of
 * deserialized memory and the in-place byte-order conversion.
 *
 * A host structure is described by a constant table (zubEndianTable_t): its
 * size and a list of entries (zubEndianInfoEntry_t), one per member that
 * takes part, ended by the terminator entry ZUB_ENTRY_END. Write tables with
 * the ZUB_ENTRY_* macros below; they compute offsets with offsetof and reject
 * impossible entries at compile time. The example at the end of this
 * overview describes an 8-byte message of a 16-bit id and an 8-bit count of
 * elements {u32 value; u8 small}.
 *
 * The byte stream of a structure is the concatenation of its entries'
 * encodings in entry order, with no header, padding or end mark:
 *   kinds U8/U16/U32/U64   the value, most significant byte first;
 *   kind TABLE             the nested structure's stream, in place;
 *   kinds VAR8/VAR16/VAR32/STRING
 *                          the count in 1/2/4/2 bytes, then count atoms
 *                          (each most significant byte first) or count
 *                          element streams;
 *   kind FIXED             fixedCount atoms, no count;
 *   kind MODIFIER, end     nothing.
 * The example's message with id 0x0102 and elements {0x0A0B0C0D, 0x0E} and
 * {1, 2} is the 13 bytes 01 02 02 0A 0B 0C 0D 0E 00 00 00 01 02.
 *
 * Walks. The serializer, deserializer and release keep their whole progress
 * in a zubDeserState_t and a caller-provided stack of zubDeserTableState_t:
 * one record for the top-level structure (pushed once by whoever starts the
 * walk) plus one per nested structure or array of structures being walked,
 * so a stack of n records allows n - 1 levels of nesting.
 *
 * Choices made by this library where the platform left them open:
 *  - A table ends, for the serializer, deserializer and release, at the
 *    first entry whose argument has its low 32 bits all ones; for the
 *    byte-order conversion at the first entry of kind 0. A MODIFIER entry
 *    whose limit is 0xFFFFFFFF therefore ends the table for the walkers
 *    (ZUB_ENTRY_MULTIPLICITY rejects that limit at compile time).
 *  - A FIXED entry whose argument is above 15 (not an atom size) is an
 *    invalid entry (-14), not a fixed array of a pointer's worth of bytes.
 *    So is a TABLE entry whose argument is 15 or less (not a table).
 *  - memberOffset 0xFFFF stands for "no count field" in STRING entries
 *    only: the serializer and deserializer refuse such a string as an
 *    invalid entry (-14, nothing written) and the release passes over it.
 *    In VAR8/VAR16/VAR32 entries 0xFFFF is an offset like any other (a
 *    structure above 64 KiB); the serializer reports each such member with
 *    the message "s->srcval is NULL " (level 2, class 3000) and goes on.
 *  - A counted member whose atom data exceed 0x200000 bytes fails the walk:
 *    state FAILED, errorCode -1, result -1 (serializer and deserializer).
 *    A caller that refills the buffer and calls again therefore never loops.
 *  - A bufferPosition above bufferLength is taken as no space left (the
 *    serializer then leaves bufferPosition at bufferLength).
 *  - The byte-order conversion passes over a TABLE entry whose argument is
 *    not a table (15 or less, null included, or all ones), and does nothing
 *    for a null destination, source or table. It ends a table at its first
 *    kind 0 entry only (an integer entry's argument is not looked at). It
 *    converts nested structures at any depth, with no limit and no message;
 *    a nested structure whose table is already among the levels that
 *    enclose it (a table that contains itself, directly or through others)
 *    is passed over, so the conversion returns.
 *  - The deserializer reads nothing when bufferPosition is above
 *    bufferLength: it returns with ZUB_DES_ERR_XRUN and leaves
 *    bufferPosition and totalBytes as they were.
 *  - The deserializer refuses a TABLE entry whose argument is not a table
 *    and a FIXED entry whose argument is a table with the invalid-entry
 *    message and -14, as the serializer does.
 *  - A table that contains itself (by mistake or malice) stops the
 *    serializer and deserializer at their stack's depth and the release at
 *    its maxDepth. It describes a structure whose nested member lies over
 *    its other members, so what the deserializer hangs there at one level
 *    it replaces at the next. The release passes over a nested structure
 *    whose table and address are those of a level enclosing it in place,
 *    so it frees such a shared block once, not once per level.
 *
 * No function here keeps global state; separate walks may run on separate
 * threads and share tables. One state record, its stack, its buffer and its
 * host structure are used by one thread at a time.
 *
 * Compiles as C99 and as C++.
 *
 * Example: the message, its size and its stream.
 *
 *     #include <stdio.h>
 *     #include "zub/serialization.h"
 *     typedef struct { uint32_t value; uint8_t small; } Element;
 *     typedef struct { uint16_t id; uint8_t n; Element *elements; } Message;
 *     static const zubEndianInfoEntry_t elementEntries[] = {
 *         ZUB_ENTRY_U32(Element, value), ZUB_ENTRY_U8(Element, small), ZUB_ENTRY_END};
 *     static const zubEndianTable_t elementTable = ZUB_ENDIAN_TABLE(Element, elementEntries);
 *     static const zubEndianInfoEntry_t messageEntries[] = {
 *         ZUB_ENTRY_U16(Message, id),
 *         ZUB_ENTRY_VAR8_TABLE(Message, n, elements, elementTable), ZUB_ENTRY_END};
 *     static const zubEndianTable_t messageTable = ZUB_ENDIAN_TABLE(Message, messageEntries);
 *     int main(void)
 *     {
 *         Element elements[2] = {{0x0A0B0C0D, 0x0E}, {1, 2}};
 *         Message message = {0x0102, 2, elements};
 *         uint8_t out[64];
 *         int64_t size = zubSerializedSize(&messageTable, &message);            // 13
 *         int32_t n = zubSimpleSerializeInto(out, sizeof out, &messageTable, &message);
 *         printf("%lld %d\n", (long long)size, n); // 13 13: 01 02 02 0a 0b 0c 0d 0e 00 00 00 01 02
 *         return 0;
 *     }
 */
#ifndef ZUB_SERIALIZATION_H
#define ZUB_SERIALIZATION_H

#include <stddef.h>
#include <stdint.h>

#include "zub/types.h"

ZUB_EXTERN_C_BEGIN

/* ---- Entry kinds (bits 0-3 of an entry's packed unit) ------------------ */

/* Kinds carry no signedness: signed and unsigned members of one width share
 * a kind. 0, 5, 12, 13 and 14 are invalid except in the terminator. */
#define ZUB_DESER_TYPE_U8 1u        /* 1-byte integer at memberOffset */
#define ZUB_DESER_TYPE_U16 2u       /* 2-byte integer */
#define ZUB_DESER_TYPE_TABLE 3u     /* nested structure, argument = its table */
#define ZUB_DESER_TYPE_U32 4u       /* 4-byte integer */
#define ZUB_DESER_TYPE_VAR8 6u      /* 8-bit count, data pointer */
#define ZUB_DESER_TYPE_VAR16 7u     /* 16-bit count, data pointer */
#define ZUB_DESER_TYPE_U64 8u       /* 8-byte integer */
#define ZUB_DESER_TYPE_VAR32 9u     /* 32-bit count, data pointer */
#define ZUB_DESER_TYPE_STRING 10u   /* 16-bit length, pointer to the characters */
#define ZUB_DESER_TYPE_FIXED 11u    /* fixedCount inline atoms of argument bytes */
#define ZUB_DESER_TYPE_MODIFIER 15u /* no member; argument = multiplicity */

/* ---- Records ----------------------------------------------------------- */

struct zubEndianTable;

/* The third word of an entry. On armhf one 32-bit word; on 64-bit hosts a
 * native pointer-sized word. Read it as .value; .table exists so that table
 * references can be written in C static initialisers and C++ constexpr
 * contexts alike. */
typedef union zubEndianArgument {
    uintptr_t value;                    /* atom size (0-15), multiplicity, or all ones (end) */
    const struct zubEndianTable *table; /* element or nested table (value above 15) */
} zubEndianArgument_t;

/* One table entry: 8 bytes on armhf, in this layout. */
typedef struct zubEndianInfoEntry {
    /* Offset of the member in the host structure; for counted kinds the
     * offset of the count field. 0xFFFF in a STRING entry: no count field
     * (refused, see above). */
    uint16_t memberOffset;
    /* Bits 0-3: kind. Counted kinds: bits 4-14 pointerOffset, the data
     * pointer lying at memberOffset + pointerOffset - 1024. FIXED: bits 4-15
     * fixedCount (0-4095). MODIFIER: bits 4-15 must be 0 for the entry to
     * set a multiplicity. Terminator: 0. */
    uint16_t packed;
    /* Kinds VAR8/VAR16/VAR32/STRING/FIXED: atom size (1, 2, 4 or 8) or, for
     * counted kinds only, the element table. TABLE: the nested table.
     * MODIFIER: the multiplicity. Terminator: all ones. Otherwise 0. */
    zubEndianArgument_t argument;
} zubEndianInfoEntry_t;

/* A type description table: constant data, never changed by a walker. */
typedef struct zubEndianTable {
    uint32_t size;                       /* byte size of the host structure (array stride) */
    const zubEndianInfoEntry_t *entries; /* ended by the terminator entry */
} zubEndianTable_t;

/* Accessors of an entry (pointer to zubEndianInfoEntry_t). */
#define ZUB_ENDIAN_KIND(e) ((unsigned)((e)->packed & 0xFu))
#define ZUB_ENDIAN_POINTER_OFFSET(e) ((unsigned)(((e)->packed >> 4) & 0x7FFu))
#define ZUB_ENDIAN_FIXED_COUNT(e) ((unsigned)((e)->packed >> 4))
#define ZUB_ENDIAN_IS_END(e) ((uint32_t)(e)->argument.value == 0xFFFFFFFFu)
/* An argument of 15 or less is an atom size, anything larger a table. */
#define ZUB_ENDIAN_ARGUMENT_IS_TABLE(e) (((e)->argument.value & ~(uintptr_t)0xFu) != 0u)

/* Saved table state: one level of a walk. */
typedef struct zubDeserTableState {
    const zubEndianTable_t *table;     /* table being walked */
    const zubEndianInfoEntry_t *entry; /* its current entry */
    /* Element count of the member being walked; on the stack, for the
     * level enclosing an array of structures, the elements still to walk;
     * 0 for the level enclosing a TABLE member. */
    uint32_t count;
    uint32_t index;        /* index of the element being walked in its array (0 outside arrays) */
    uint32_t multiplicity; /* deserializer's limit for the next count; 0xFFFFFFFF: none */
    void *base;            /* host structure described by table (an array element itself) */
} zubDeserTableState_t;

/* Traversal state of one walk. Owned by the caller, holds no memory. */
typedef struct zubDeserState {
    /* stream buffer (written by the serializer, read by the deserializer) */
    uint8_t *buffer;
    uint32_t bufferLength;       /* bytes in buffer */
    uint32_t bufferPosition;     /* bytes of buffer used so far; never above bufferLength */
    zubDeserTableState_t *stack; /* caller's array of stackCapacity records */
    uint16_t stackCapacity;      /* records in stack */
    /* deserializer's blocks; null or ZUB_ALLOCATOR_DEFAULT: malloc */
    const zubAllocator_t *allocator;
    uint32_t totalBytes;          /* stream bytes written or read over all calls of the walk */
    zubDeserTableState_t current; /* the level being walked now */
    uint32_t state;               /* ZUB_SIS_* / ZUB_DIS_*; above 8: the walk is over */
    uint32_t nextState;           /* state entered when the integer being moved is complete */
    uint32_t bytesOfMemberDone;   /* bytes of the current member moved so far */
    uint32_t totalBytesOfMember;  /* bytes of the current member in all */
    uint16_t stackDepth;          /* records in use on stack; 1 for the top level */
    int16_t errorCode;            /* outcome of the last call (ZUB_DES_ERR_*, -14, -1000, -1) */
    /* Host byte being moved: while an integer or count moves, its next
     * (lower) byte; while atom data move, the first byte of the data. */
    uint8_t *srcval;
} zubDeserState_t;

/* Default number of stack records (19 levels below the top). */
#define ZUB_DESER_DEFAULT_STACK 20u
/* Largest atom data of one counted member, in bytes. */
#define ZUB_DESER_MAX_MEMBER_BYTES 0x200000u
/* multiplicity value meaning "no limit". */
#define ZUB_DESER_NO_MULTIPLICITY 0xFFFFFFFFu

/* Serializer states (values of state). */
#define ZUB_SIS_START_TABLE 0u
#define ZUB_SIS_ENTER_ELEMENTS 1u
#define ZUB_SIS_HANDLE_ENTRY 2u
#define ZUB_SIS_ADVANCE_ENTRY 3u
#define ZUB_SIS_WRITING_INTEGRAL 4u
#define ZUB_SIS_START_ARRAY 6u
#define ZUB_SIS_WRITE_ARRAY 7u
#define ZUB_SIS_DONE 9u
#define ZUB_SIS_FAILED 10u

/* Deserializer states: the same numbering. */
#define ZUB_DIS_START_TABLE 0u
#define ZUB_DIS_ENTER_ELEMENTS 1u
#define ZUB_DIS_HANDLE_ENTRY 2u
#define ZUB_DIS_ADVANCE_ENTRY 3u
#define ZUB_DIS_READING_INTEGRAL 4u
#define ZUB_DIS_START_ARRAY 6u
#define ZUB_DIS_READ_ARRAY 7u
#define ZUB_DIS_CHECK_COUNT 8u
#define ZUB_DIS_DONE 9u
#define ZUB_DIS_FAILED 10u

/* Positive outcomes left in errorCode. */
#define ZUB_DES_ERR_XRUN 1         /* buffer used up (or, in state DONE, walk complete) */
#define ZUB_DES_ERR_NOMEM 2        /* null structure address or failed allocation */
#define ZUB_DES_ERR_MULTIPLICITY 4 /* a received count exceeded the multiplicity */

/* The entry macros and the predefined types are laid out by hand. */
/* clang-format off */
/* ---- Table-writing macros ---------------------------------------------- */
/*
 * Each ZUB_ENTRY_* expands to a braced initializer of one
 * zubEndianInfoEntry_t, usable in C static initialisers and C++ constexpr
 * contexts. `type` is the host structure type, members are named as in
 * offsetof. Compile-time checks: integer and count members have the kind's
 * width, data pointer members are pointer-sized and lie -1024..1023 bytes
 * from their count, atom sizes are 1, 2, 4 or 8, fixedCount is at most 4095
 * and the fixed atoms fit the member, offsets are below 0xFFFF.
 * Table arguments name the zubEndianTable_t object (its address is taken).
 */

/* 0 when cond holds; a compile error otherwise. */
#define ZUB_ENDIAN_CHECK_(cond) (0u * (unsigned)sizeof(char[(cond) ? 1 : -1]))
#define ZUB_ENDIAN_SIZEOF_(type, member) sizeof(((type *)0)->member)
#define ZUB_ENDIAN_OFFSET_(type, member) \
    ((uint16_t)(offsetof(type, member) + ZUB_ENDIAN_CHECK_(offsetof(type, member) < 0xFFFFu)))
#define ZUB_ENDIAN_ATOM_OK_(a) ((a) == 1 || (a) == 2 || (a) == 4 || (a) == 8)
/* An entry's packed unit from its kind and its upper 12 bits. */
#define ZUB_ENDIAN_PACK(kind, high12) \
    ((uint16_t)(((0xFFFu & (unsigned)(high12)) << 4) | (0xFu & (unsigned)(kind))))
/* pointerOffset of a data member relative to a count member, checked. */
#define ZUB_ENDIAN_PTROFF_(type, countMember, dataMember)                                  \
    ((unsigned)((long)offsetof(type, dataMember) - (long)offsetof(type, countMember) + 1024L) + \
     ZUB_ENDIAN_CHECK_((long)offsetof(type, dataMember) - (long)offsetof(type, countMember) >= -1024L && \
                       (long)offsetof(type, dataMember) - (long)offsetof(type, countMember) <= 1023L) + \
     ZUB_ENDIAN_CHECK_(ZUB_ENDIAN_SIZEOF_(type, dataMember) == sizeof(void *)))

/* An entry from its three raw values (argument as an integer). */
#define ZUB_ENTRY_RAW(memberOffset, packed, argumentValue) \
    {(uint16_t)(memberOffset), (uint16_t)(packed), {(uintptr_t)(argumentValue)}}

/* Integer members of 1, 2, 4 and 8 bytes. */
#define ZUB_ENTRY_INT_(type, member, kind)                                                   \
    {(uint16_t)(ZUB_ENDIAN_OFFSET_(type, member) +                                           \
                ZUB_ENDIAN_CHECK_(ZUB_ENDIAN_SIZEOF_(type, member) == (kind))),              \
     ZUB_ENDIAN_PACK(kind, 0), {0u}}
#define ZUB_ENTRY_U8(type, member) ZUB_ENTRY_INT_(type, member, 1u)
#define ZUB_ENTRY_U16(type, member) ZUB_ENTRY_INT_(type, member, 2u)
#define ZUB_ENTRY_U32(type, member) ZUB_ENTRY_INT_(type, member, 4u)
#define ZUB_ENTRY_U64(type, member) ZUB_ENTRY_INT_(type, member, 8u)

/* Nested structure `member`, described by tableObject. */
#define ZUB_ENTRY_TABLE(type, member, tableObject) \
    {ZUB_ENDIAN_OFFSET_(type, member), ZUB_ENDIAN_PACK(ZUB_DESER_TYPE_TABLE, 0), {.table = &(tableObject)}}

#define ZUB_ENTRY_COUNTED_(type, countMember, dataMember, kind, width)                       \
    (uint16_t)(ZUB_ENDIAN_OFFSET_(type, countMember) +                                       \
               ZUB_ENDIAN_CHECK_(ZUB_ENDIAN_SIZEOF_(type, countMember) == (width))),         \
        ZUB_ENDIAN_PACK(kind, ZUB_ENDIAN_PTROFF_(type, countMember, dataMember))
#define ZUB_ENTRY_ATOMS_(type, countMember, dataMember, kind, width, atomSize)               \
    {ZUB_ENTRY_COUNTED_(type, countMember, dataMember, kind, width),                         \
     {(uintptr_t)(atomSize) + ZUB_ENDIAN_CHECK_(ZUB_ENDIAN_ATOM_OK_(atomSize))}}
#define ZUB_ENTRY_ELEMENTS_(type, countMember, dataMember, kind, width, tableObject)         \
    {ZUB_ENTRY_COUNTED_(type, countMember, dataMember, kind, width), {.table = &(tableObject)}}

/* Counted arrays of atoms (atomSize 1, 2, 4 or 8 bytes each). */
#define ZUB_ENTRY_VAR8(type, countMember, dataMember, atomSize) \
    ZUB_ENTRY_ATOMS_(type, countMember, dataMember, ZUB_DESER_TYPE_VAR8, 1u, atomSize)
#define ZUB_ENTRY_VAR16(type, countMember, dataMember, atomSize) \
    ZUB_ENTRY_ATOMS_(type, countMember, dataMember, ZUB_DESER_TYPE_VAR16, 2u, atomSize)
#define ZUB_ENTRY_VAR32(type, countMember, dataMember, atomSize) \
    ZUB_ENTRY_ATOMS_(type, countMember, dataMember, ZUB_DESER_TYPE_VAR32, 4u, atomSize)
/* Counted string: 16-bit length, pointer to the characters (no NUL sent). */
#define ZUB_ENTRY_STRING(type, lengthMember, dataMember) \
    ZUB_ENTRY_ATOMS_(type, lengthMember, dataMember, ZUB_DESER_TYPE_STRING, 2u, 1u)

/* Counted arrays of structures described by tableObject. */
#define ZUB_ENTRY_VAR8_TABLE(type, countMember, dataMember, tableObject) \
    ZUB_ENTRY_ELEMENTS_(type, countMember, dataMember, ZUB_DESER_TYPE_VAR8, 1u, tableObject)
#define ZUB_ENTRY_VAR16_TABLE(type, countMember, dataMember, tableObject) \
    ZUB_ENTRY_ELEMENTS_(type, countMember, dataMember, ZUB_DESER_TYPE_VAR16, 2u, tableObject)
#define ZUB_ENTRY_VAR32_TABLE(type, countMember, dataMember, tableObject) \
    ZUB_ENTRY_ELEMENTS_(type, countMember, dataMember, ZUB_DESER_TYPE_VAR32, 4u, tableObject)

/* fixedCount inline atoms of atomSize bytes at member. */
#define ZUB_ENTRY_FIXED(type, member, atomSize, fixedCount)                                  \
    {(uint16_t)(ZUB_ENDIAN_OFFSET_(type, member) +                                           \
                ZUB_ENDIAN_CHECK_(ZUB_ENDIAN_ATOM_OK_(atomSize) && (fixedCount) <= 4095u &&  \
                                  (unsigned long)(atomSize) * (fixedCount) <=                \
                                      ZUB_ENDIAN_SIZEOF_(type, member))),                    \
     ZUB_ENDIAN_PACK(ZUB_DESER_TYPE_FIXED, fixedCount), {(uintptr_t)(atomSize)}}
/* A whole inline array member of integers: atom and count from its type. */
#define ZUB_ENTRY_FIXED_ARRAY(type, member)                                                  \
    ZUB_ENTRY_FIXED(type, member, ZUB_ENDIAN_SIZEOF_(type, member[0]),                       \
                    ZUB_ENDIAN_SIZEOF_(type, member) / ZUB_ENDIAN_SIZEOF_(type, member[0]))

/* Limits the next counted member's count (deserializer). A limit of
 * 0xFFFFFFFF would read as the table end and is refused. */
#define ZUB_ENTRY_MULTIPLICITY(limit)                                                        \
    {0u, ZUB_ENDIAN_PACK(ZUB_DESER_TYPE_MODIFIER, 0),                                        \
     {(uintptr_t)(uint32_t)(limit) + ZUB_ENDIAN_CHECK_((uint32_t)(limit) != 0xFFFFFFFFu)}}

/* The terminator: memberOffset 0, kind 0, argument all ones. */
#define ZUB_ENTRY_END {0u, 0u, {~(uintptr_t)0}}

/* A table record for `type` with the entry array `entryArray`. */
#define ZUB_ENDIAN_TABLE(type, entryArray) {(uint32_t)sizeof(type), (entryArray)}

/* ---- Predefined types --------------------------------------------------- */

/* Each is a 32-bit count followed by a pointer to count elements; its table
 * has one VAR32 entry (count at 0, pointer right after it) and the
 * terminator. Strings are counted bytes without a terminating NUL. */
typedef struct zubDeserBlobInt8 { uint32_t count; int8_t *data; } zubDeserBlobInt8_t;
typedef struct zubDeserBlobInt16 { uint32_t count; int16_t *data; } zubDeserBlobInt16_t;
typedef struct zubDeserBlobInt32 { uint32_t count; int32_t *data; } zubDeserBlobInt32_t;
typedef struct zubDeserBlobInt64 { uint32_t count; int64_t *data; } zubDeserBlobInt64_t;
typedef struct zubDeserBlobUint8 { uint32_t count; uint8_t *data; } zubDeserBlobUint8_t;
typedef struct zubDeserBlobUint16 { uint32_t count; uint16_t *data; } zubDeserBlobUint16_t;
typedef struct zubDeserBlobUint32 { uint32_t count; uint32_t *data; } zubDeserBlobUint32_t;
typedef struct zubDeserBlobUint64 { uint32_t count; uint64_t *data; } zubDeserBlobUint64_t;
typedef struct zubDeserVectorU8 { uint32_t count; uint8_t *data; } zubDeserVectorU8_t;
typedef struct zubDeserVectorU16 { uint32_t count; uint16_t *data; } zubDeserVectorU16_t;
typedef struct zubDeserVectorU32 { uint32_t count; uint32_t *data; } zubDeserVectorU32_t;
/* count is the length in bytes; data holds exactly count characters. */
typedef struct zubDeserString { uint32_t count; char *data; } zubDeserString_t;
/* count strings. */
typedef struct zubDeserBlobString { uint32_t count; zubDeserString_t *data; } zubDeserBlobString_t;
typedef struct zubDeserStringArray { uint32_t count; zubDeserString_t *data; } zubDeserStringArray_t;

#ifndef ZUB_OSAL_TIME_DEFINED
#define ZUB_OSAL_TIME_DEFINED
/* 16 bytes: sent as 12 (the 64-bit then the 32-bit member; padding never). */
typedef struct zubOsalTime {
    int64_t seconds;      /* first, sent as 8 bytes */
    uint32_t nanoseconds; /* second, sent as 4 bytes */
} zubOsalTime_t;
#endif

#define ZUB_PREDEFINED_TABLE_(t)                                            \
    ZUB_API extern const zubEndianTable_t __zub_EndianTable_##t;            \
    ZUB_API extern const zubEndianInfoEntry_t __zub_EndianInfoEntries_##t[2];
ZUB_PREDEFINED_TABLE_(zubDeserBlobInt8_t)
ZUB_PREDEFINED_TABLE_(zubDeserBlobInt16_t)
ZUB_PREDEFINED_TABLE_(zubDeserBlobInt32_t)
ZUB_PREDEFINED_TABLE_(zubDeserBlobInt64_t)
ZUB_PREDEFINED_TABLE_(zubDeserBlobUint8_t)
ZUB_PREDEFINED_TABLE_(zubDeserBlobUint16_t)
ZUB_PREDEFINED_TABLE_(zubDeserBlobUint32_t)
ZUB_PREDEFINED_TABLE_(zubDeserBlobUint64_t)
ZUB_PREDEFINED_TABLE_(zubDeserVectorU8_t)
ZUB_PREDEFINED_TABLE_(zubDeserVectorU16_t)
ZUB_PREDEFINED_TABLE_(zubDeserVectorU32_t)
ZUB_PREDEFINED_TABLE_(zubDeserString_t)
ZUB_PREDEFINED_TABLE_(zubDeserBlobString_t)   /* elements: zubDeserString_t */
ZUB_PREDEFINED_TABLE_(zubDeserStringArray_t)  /* elements: zubDeserString_t */
#undef ZUB_PREDEFINED_TABLE_
/* zubOsalTime_t: U64 at 0, U32 at 8, terminator. */
ZUB_API extern const zubEndianTable_t __zub_EndianTable_zubOsalTime_t;
ZUB_API extern const zubEndianInfoEntry_t __zub_EndianInfoEntries_zubOsalTime_t[3];

/* clang-format on */

/* ---- Stack operations --------------------------------------------------- */
/* state must not be null. None allocates or touches anything but the record
 * and its stack. */

/* Copies current into stack[stackDepth] and increments stackDepth: 0.
 * stackDepth already at stackCapacity: -12, nothing changes. */
ZUB_API int32_t _zubDeserStatePushTable(zubDeserState_t *state);
/* Copies stack[stackDepth - 1] over current, depth unchanged: 0.
 * stackDepth 0: -9, nothing changes. */
ZUB_API int32_t _zubDeserStatePeekTable(zubDeserState_t *state);
/* Decrements stackDepth and copies stack[stackDepth] over current: 0.
 * stackDepth 0: -9, nothing changes. */
ZUB_API int32_t _zubDeserStatePopTable(zubDeserState_t *state);

/* The constant text "ZUB_DESER_NODEBUG", always (entries carry no names). */
ZUB_API const char *_zubDeserGetFieldName(void);

/* ---- Serializer --------------------------------------------------------- */

/*
 * Writes the structure current.base (described by current.table) into
 * buffer from bufferPosition on, as far as the space allows; a later call
 * with fresh space goes on at the exact byte where this one stopped.
 * Prepare: buffer, bufferLength, bufferPosition (<= bufferLength), stack,
 * stackCapacity, current.table, current.base; current.count, current.index,
 * state (ZUB_SIS_START_TABLE), totalBytes and stackDepth 0; then push once.
 * Each call adds the bytes it wrote to totalBytes and leaves bufferPosition
 * after the last byte written. Result:
 *   -22  state is null;
 *    0   state above 8 on entry (walk over): nothing changes;
 *    0   walk complete (state ZUB_SIS_DONE, errorCode 1) or buffer used up
 *        (errorCode ZUB_DES_ERR_XRUN, state WRITING_INTEGRAL or WRITE_ARRAY);
 *  -14   invalid entry kind, invalid state (5 or 8) or unsupported entry;
 * -1000  the stack is full (nesting too deep);
 *   -1   a counted member's atom data exceed 0x200000 bytes; its count has
 *        been written, none of its data.
 * Failures leave state ZUB_SIS_FAILED and errorCode equal to the result.
 * A 32-bit count of 0xFFFFFFFF marks a null data pointer and is sent as 0.
 * An atom size other than 1, 2, 4 or 8 leaves its bytes unwritten in the
 * buffer but counted, so the stream keeps its length. Never allocates.
 */
ZUB_API int32_t _zubSerializeTableInto(zubDeserState_t *state);

/*
 * One-call form with a 20-record stack of its own: serializes data
 * (described by table) into buffer and returns the number of bytes
 * written, or the negative result of _zubSerializeTableInto. A buffer too
 * short is not reported: the stream is cut off and bufferLength returned.
 * A null table gives -22.
 */
ZUB_API int32_t zubSimpleSerializeInto(uint8_t *buffer, uint32_t bufferLength,
                                       const zubEndianTable_t *table, const void *data);

/* ---- Deserializer ------------------------------------------------------- */

/*
 * Rebuilds the structure current.base (described by current.table) from the
 * chunk buffer[bufferPosition .. bufferLength), consuming as much as it can;
 * the next call goes on at the exact stream byte where this one stopped.
 * Prepare: stack, stackCapacity, allocator, current.table, current.base,
 * state ZUB_DIS_START_TABLE, all else 0; push once; then per chunk set
 * buffer, bufferLength, bufferPosition and call. Counted members get blocks
 * from allocator (null/ZUB_ALLOCATOR_DEFAULT: malloc; arrays of structures
 * from the default allocator are zero-filled so that a walk abandoned half
 * way can still be released). Arrays of atoms are filled with 0x75 before
 * their bytes arrive. Result: -22 null s; -14 invalid entry or state;
 * -1000 stack full; -1 member data above 0x200000 bytes (nothing allocated
 * or read for it); else 0, with errorCode ZUB_DES_ERR_XRUN (more input
 * needed, or state ZUB_DIS_DONE: complete), ZUB_DES_ERR_NOMEM or
 * ZUB_DES_ERR_MULTIPLICITY (state ZUB_DIS_FAILED). A call on a walk that is
 * over returns 0 and changes nothing. A caller's allocator record decides
 * what its blocks hold: zero-fill them if the structure may be released
 * after a failed walk. To cap what a stream can make you allocate, use the
 * header-only bounded allocator of zub/bounded_allocator.h. The chunk must
 * not overlap the structure being filled or its blocks.
 */
ZUB_API int32_t _zubDeserializeTableFrom(zubDeserState_t *s);

/* ---- Release of deserialized memory ------------------------------------- */

/*
 * Frees, with free(), every block that the deserializer hung from record
 * (described by table), depth first in entry order; record itself is not
 * freed. Marks: a freed array of structures' data pointer field is filled
 * with 0x87 over its whole width; after an array of atoms (freed, or null)
 * the 32-bit value 0x57575700 + index is written over the first four bytes
 * of the structure being walked. maxDepth: nesting levels the walk may
 * enter; negative: the default 20-record stack; above 65534 clamped.
 * Result: -1 null table or record (nothing done); 2 the stack could not be
 * allocated (nothing released); -1000 nesting deeper than maxDepth (what
 * was met before is released); 0 complete, or stopped at a null structure
 * address. Only for blocks from malloc (the default allocator).
 * The marker of a freed array of atoms covers the first four bytes of the
 * structure; a count or data pointer there that a later entry needs is read
 * from a copy of those bytes taken when the structure's walk began, so such
 * tables release correctly. Entries the deserializer refuses (a STRING
 * with memberOffset 0xFFFF, a TABLE entry whose argument is not a table)
 * are passed over.
 * After a failed walk: a count that failed (above the multiplicity, or its
 * block refused) inside an array of structures leaves that element with a
 * count and a null data pointer; the release stops there with result 0 and
 * does not free the arrays that enclose it. Give back everything a failed
 * walk took with the bounded allocator's block log
 * (zubBoundedAllocatorFreeAll in zub/bounded_allocator.h).
 * After a walk that failed with -1000, release with maxDepth at least the
 * deserializing stack's capacity: the walk may have allocated an array one
 * level deeper than its stack.
 */
ZUB_API int32_t _zubDeserMemoryDealloc(const zubEndianTable_t *table, void *record,
                                       int32_t maxDepth);

/* ---- Byte-order conversion ---------------------------------------------- */

/*
 * Converts the U16, U32 and U64 members of source (described by table) to
 * the other byte order into destination, copies U8 members, and converts
 * TABLE members (at most 19 levels deep) within destination. Counted
 * members, their data, strings, fixed arrays and modifiers are neither
 * converted nor copied; the table ends at its first kind 0 entry. In place
 * (destination == source) the conversion is complete; with distinct buffers destination must already
 * hold a copy of source for nested structures and unconverted members.
 * No result; one message when the nesting is deeper than 19 levels.
 */
ZUB_API void zubProtocolToHost(void *destination, const void *source,
                               const zubEndianTable_t *table);
/* The same operation: calls zubProtocolToHost. */
ZUB_API void zubHostToProtocol(void *destination, const void *source,
                               const zubEndianTable_t *table);

/* ---- Size of a stream before writing it --------------------------------- */

/*
 * Header-only, so it adds nothing to the exported interface: runs the
 * resumable serializer over a 64-byte scratch buffer, emptied after every
 * call, and returns the length of the stream that zubSimpleSerializeInto or
 * a resumable walk writes for data (described by table), without writing
 * it anywhere. Same walk, same 20-record stack as zubSimpleSerializeInto,
 * so the same tables succeed and fail. Costs one walk (about as much as
 * serializing) and some 0.6 KiB of call stack on armhf (1 KiB on 64-bit
 * hosts).
 *
 * Result: int64_t, because a resumable walk has no 4 GiB limit on the
 * stream (arrays of structures are not capped) and the walk's own 32-bit
 * totalBytes could wrap; every length is at least 0, every failure below 0:
 *   >= 0   the stream length in bytes;
 *   -22    table or data is null;
 *   -14    invalid entry kind (the invalid-entry message is written);
 * -1000    nesting deeper than 19 levels below the top;
 *   -1     a counted member's atom data exceed 0x200000 bytes (after the
 *          oversize message and backtrace).
 * Every refill is a buffer overrun to the serializer, so with level 2
 * diagnostics enabled each 64 bytes write one overrun message.
 */
static inline int64_t zubSerializedSize(const zubEndianTable_t *table, const void *data)
{
    zubDeserTableState_t stack[ZUB_DESER_DEFAULT_STACK];
    uint8_t scratch[64];
    zubDeserState_t s;
    int64_t total = 0;
    int32_t result = 0;
    if (table == NULL || data == NULL) {
        return -22;
    }
    /* Every field set by name: an empty or {0} initializer is not valid in
     * both languages without warnings, and this header has no memset. */
    s.buffer = scratch;
    s.bufferLength = 0;
    s.bufferPosition = 0;
    s.stack = stack;
    s.stackCapacity = ZUB_DESER_DEFAULT_STACK;
    s.allocator = NULL;
    s.totalBytes = 0;
    s.current.table = table;
    s.current.entry = NULL;
    s.current.count = 0;
    s.current.index = 0;
    s.current.multiplicity = ZUB_DESER_NO_MULTIPLICITY;
    s.current.base = (void *)(uintptr_t)data; /* only read by the serializer */
    s.state = ZUB_SIS_START_TABLE;
    s.nextState = 0;
    s.bytesOfMemberDone = 0;
    s.totalBytesOfMember = 0;
    s.stackDepth = 0;
    s.errorCode = 0;
    s.srcval = NULL;
    (void)_zubDeserStatePushTable(&s);
    /* A call that stops for lack of space has filled the whole scratch, so
     * every round but the last moves 64 bytes and the loop ends. */
    do {
        s.buffer = scratch;
        s.bufferLength = (uint32_t)sizeof scratch;
        s.bufferPosition = 0;
        result = _zubSerializeTableInto(&s);
        total += s.bufferPosition;
    } while (result == 0 && s.state != ZUB_SIS_DONE);
    return result < 0 ? (int64_t)result : total;
}

ZUB_EXTERN_C_END

#endif /* ZUB_SERIALIZATION_H */
