/*
 * String list: NUL-terminated strings in a doubly linked list (zub/dllist.h)
 * kept in ascending strcmp order, optionally indexed by a fixed array of
 * hash buckets whose chains run through the nodes themselves.
 *
 * A strlist_t begins with its dllist_t and a strnode_t with its dlnode_t,
 * so the list operations apply too (dlnode_forEach walks in sorted order).
 * A caller's node type may begin with a strnode_t; the list's nodeSize then
 * names the larger size.
 *
 * Memory comes from malloc, calloc, strdup and free; a node owns its string
 * (released with free by strnode_Delete and strnode_DeleteAll). Nothing
 * here locks. A list record must not be copied or moved after
 * initialisation (its sentinels point into it).
 *
 * Hash: h = (h << 6) + byte over the unsigned bytes of the string, in
 * 32-bit arithmetic; the bucket is h % bucketCount. "abc" hashes to 403683.
 *
 * Choices of this implementation:
 *  - strnode_InitString leaves string null, length 0 and returns -1 when
 *    the copy cannot be allocated.
 *  - strnode_New allocates at least sizeof(strnode_t) whatever nodeSize
 *    holds.
 *  - Lookups and removals pass over nodes whose string is null (they cannot
 *    be inserted, but a caller may clear the field of a linked node).
 *  - strnode_Remove and strnode_Delete unlink a node from its bucket chain
 *    by identity: from its string's bucket, or, when the string was cleared
 *    or changed while linked, from whichever bucket holds it (every bucket
 *    is searched). A removed or deleted node is never left in any chain.
 *  - strlist_DestroyData sets buckets to null as well as bucketCount to 0.
 *  - strnode_HashFind returns null for a list without buckets instead of
 *    dividing by a bucket count of 0.
 *
 * Example:
 *
 *     #include <stdio.h>
 *     #include "zub/strlist.h"
 *     int main(void)
 *     {
 *         strlist_t names;
 *         strnode_t *hit;
 *         if (strlist_InitHash(&names, 31) != 0) return 1; // 31 hash buckets
 *         strnode_Create(&names, "pear");
 *         strnode_Create(&names, "apple");                 // kept in strcmp order: apple, pear
 *         hit = strnode_HashFind(&names, "pear");
 *         if (hit) printf("%s %u\n", hit->string, (unsigned)hit->length);
 *         strnode_DeleteAll(&names);
 *         strlist_DestroyData(&names);                     // the buckets
 *         return 0;
 *     }
 */
#ifndef ZUB_STRLIST_H
#define ZUB_STRLIST_H

#include "zub/dllist.h"

ZUB_EXTERN_C_BEGIN

/* A string node: list links, bucket chain link and the string. */
typedef struct strnode {
    dlnode_t node; /* list links; node.list points to the strlist_t */
    /* next node of the same bucket chain; null at its end and without buckets */
    struct strnode *hashNext;
    char *string;    /* NUL-terminated, owned by the node; unchanged while linked */
    uint16_t length; /* strlen(string) modulo 65536, set on insertion */
} strnode_t;

/* A string list: a linked list of string nodes and its optional buckets. */
typedef struct strlist {
    dllist_t list;        /* nodeSize = sizeof(strnode_t) or a caller's larger node record */
    uint32_t bucketCount; /* number of buckets; 0 = no hashing */
    strnode_t **buckets;  /* bucketCount chain heads (calloc'ed) or null = no hashing */
} strlist_t;

/* Hash of a non-null string; 0 for "". */
ZUB_API uint32_t strnode_Hash(const char *string);

/* dlnode_init, then hashNext = string = null, length = 0. Returns 0. */
ZUB_API int32_t strnode_Init(strnode_t *node);

/* dlnode_init, hashNext = null, string = a malloc'ed copy of `string` (not
 * null), length = its length. Returns 0; -1 (string null, length 0) when
 * the copy cannot be allocated. */
ZUB_API int32_t strnode_InitString(strnode_t *node, const char *string);

/* dllist_init, nodeSize = sizeof(strnode_t), no buckets. Returns 0. */
ZUB_API int32_t strlist_Init(strlist_t *list);

/* strlist_Init, then a zero-filled array of bucketCount chain heads.
 * 0 on success; -1 when calloc fails (the list stays valid, without
 * buckets). A count of 0 gives a list that does not hash. */
ZUB_API int32_t strlist_InitHash(strlist_t *list, uint32_t bucketCount);

/* Frees the bucket array, bucketCount = 0, buckets = null; the nodes stay
 * and the list works on without buckets. Returns 0. */
ZUB_API int32_t strlist_DestroyData(strlist_t *list);

/* A malloc'ed, initialised list without buckets, or null. Release it with
 * free(). */
ZUB_API strlist_t *strlist_New(void);

/* A calloc'ed node of the list's nodeSize bytes, initialised, with its list
 * set but not linked. Null for a null list or when calloc fails. */
ZUB_API strnode_t *strnode_New(strlist_t *list);

/* Links an unlinked node with a string at its sorted position, in front of
 * equal strings, and appends it to the end of its bucket chain. Sets length
 * and hashNext. -1 when list or node is null or the node has no string. */
ZUB_API int32_t strnode_Insert(strlist_t *list, strnode_t *node);

/* strnode_New + strdup(string) + strnode_Insert. Null for a null list, a
 * null or empty string, or a failed allocation (nothing is left allocated). */
ZUB_API strnode_t *strnode_Create(strlist_t *list, const char *string);

/* Takes a linked node out of its bucket chain and its list; keeps its string
 * and does not free it, so it can be inserted again. -1 for null, else 0. */
ZUB_API int32_t strnode_Remove(strnode_t *node);

/* strnode_Remove, then frees the string and the node. -1 for null, else 0. */
ZUB_API int32_t strnode_Delete(strnode_t *node);

/* Empties the buckets (the array stays), frees every node and its string,
 * leaves an empty usable list. -1 for null, else 0. */
ZUB_API int32_t strnode_DeleteAll(strlist_t *list);

/* The node holding a string equal to `string`, or null (also for null
 * arguments). With buckets: the earliest inserted of the equal strings
 * still in the chain. Without: strings shorter than 4 bytes are searched
 * forward (the most recently inserted of equal strings is found), longer
 * ones backward (the earliest inserted is found); both walks stop at the
 * first string past the searched one. */
ZUB_API strnode_t *strnode_Find(strlist_t *list, const char *string);

/* The earliest inserted node of the string's bucket chain holding an equal
 * string, or null. `list` hashes and `string` is not null. */
ZUB_API strnode_t *strnode_HashFind(strlist_t *list, const char *string);

ZUB_EXTERN_C_END

#endif /* ZUB_STRLIST_H */
