/*
 * Root of the platform's object model and string duplication.
 *
 * Objects are plain records whose behaviour is described by class records.
 * zubObjectClass is the root of the class tree. The string functions
 * allocate through an optional allocator record (null or
 * ZUB_ALLOCATOR_DEFAULT: malloc); the caller releases the copy with the
 * matching release function or free.
 *
 * Example:
 *
 *     #include <stdio.h>
 *     #include <stdlib.h>
 *     #include "zub/object.h"
 *     int main(void)
 *     {
 *         char *copy = zubSlowStrdup(NULL, "hello");    // NULL allocator: malloc
 *         char *part = zubStrndup(NULL, 3, "hello", 5); // "hel"
 *         if (copy && part) printf("%s %s\n", copy, part);
 *         free(copy);
 *         free(part);
 *         return 0;
 *     }
 */
#ifndef ZUB_OBJECT_H
#define ZUB_OBJECT_H

#include "zub/types.h"

ZUB_EXTERN_C_BEGIN

/* Class record: parent class (null for the root), NUL-terminated class
 * name, and the release operation. */
typedef struct zubClass {
    const struct zubClass *parent;    /* null for the root */
    const char *name;                 /* NUL-terminated */
    int32_t (*release)(void *object); /* ends an object of this class */
} zubClass_t;

/* Written into the first 32-bit word of a released object. */
#define ZUB_OBJECT_RELEASED 0xDEADBABEu

/* The root class: no parent, name "zubObject", release _zubObjectReleaseSelf. */
ZUB_API extern const zubClass_t zubObjectClass;

/* Does nothing; returns 0. */
ZUB_API int32_t zubObjectInitialize(void);

/* Writes 0xDEADBABE into the first word of a non-null object; returns 0. */
ZUB_API int32_t _zubObjectReleaseSelf(void *object);

/* For class slots whose operation is not implemented: writes
 * "Abstract method called.\n" (level 2, class 1000) and returns -1. */
ZUB_API int32_t _zubObjectAbstractMethod(void);

/* A new block of length + 1 bytes holding the length + 1 bytes at text
 * (its terminating NUL included). Null for a null text, a length of
 * 0xFFFFFFFF or a failed allocation. For counted strings without a NUL
 * (as the deserializer makes them) use zubStrndup, which reads no further
 * than length bytes. */
ZUB_API char *zubStrdup(const zubAllocator_t *allocator, const char *text, uint32_t length);

/* zubStrdup(allocator, text, strlen(text)); null for a null text. */
ZUB_API char *zubSlowStrdup(const zubAllocator_t *allocator, const char *text);

/* Copies n = min(limit, length) bytes (no NUL search) into a new block of
 * n + 1 bytes and stores a NUL after them. Null for a null text, n of
 * 0xFFFFFFFF or a failed allocation. */
ZUB_API char *zubStrndup(const zubAllocator_t *allocator, uint32_t limit, const char *text,
                         uint32_t length);

ZUB_EXTERN_C_END

#endif /* ZUB_OBJECT_H */
