/*
 * Intrusive doubly linked list with two sentinel nodes kept inside the list
 * record.
 *
 * A node (dlnode_t) sits at the start of the caller's own record and knows
 * the list that holds it, so removal needs only the node. The list records
 * how large its nodes are, so that dlnode_new can allocate a caller's larger
 * record type. Nothing here locks: one thread at a time per list, or the
 * caller's lock.
 *
 * A list record holds pointers to its own sentinels: it must not be copied
 * or moved after dllist_init.
 *
 * Nodes that the list frees (dlnode_delete, dlnode_deleteAll) are released
 * with free(), so they must come from malloc/calloc (dlnode_new does).
 *
 * Choices of this implementation:
 *  - dlnode_new allocates at least sizeof(dlnode_t) bytes whatever nodeSize
 *    holds, so a node is always large enough for its own links.
 *
 * Example: a list of the caller's own records.
 *
 *     #include <stdio.h>
 *     #include "zub/dllist.h"
 *     typedef struct { dlnode_t node; int value; } Item; // the node first
 *     static int32_t print(dlnode_t *node, void *argument)
 *     {
 *         (void)argument;
 *         printf("%d\n", ((Item *)node)->value);
 *         return 0; // -1 would stop the walk
 *     }
 *     int main(void)
 *     {
 *         dllist_t list;
 *         Item *item;
 *         int i;
 *         dllist_init(&list);
 *         list.nodeSize = sizeof(Item); // dlnode_new allocates whole items
 *         for (i = 0; i < 3; i++) {
 *             item = (Item *)dlnode_new(&list);
 *             if (!item) break;
 *             item->value = i;
 *             dlnode_add(&list, &item->node);
 *         }
 *         dlnode_forEach(&list, print, NULL); // 0 1 2
 *         dlnode_deleteAll(&list);            // free() of every node
 *         return 0;
 *     }
 */
#ifndef ZUB_DLLIST_H
#define ZUB_DLLIST_H

#include "zub/types.h"

ZUB_EXTERN_C_BEGIN

struct dllist;

/* A node, at the start of the caller's record. */
typedef struct dlnode {
    /* following node; the tail sentinel after the last node; null for the tail sentinel */
    struct dlnode *next;
    /* preceding node; the head sentinel before the first node; null for the head sentinel */
    struct dlnode *prev;
    struct dllist *list; /* the list holding the node; null for a node that was only initialised */
} dlnode_t;

/* A list with its two sentinels; not to be copied or moved after dllist_init. */
typedef struct dllist {
    /* always &headNode after dllist_init; operations reach the head sentinel through it */
    dlnode_t *head;
    dlnode_t *tail; /* always &tailNode after dllist_init */
    /* head sentinel: next = first node (tail sentinel when empty), prev = null */
    dlnode_t headNode;
    dlnode_t tailNode; /* tail sentinel: prev = last node (head sentinel when empty), next = null */
    int32_t nodeSize;  /* bytes dlnode_new allocates; 0 or below means sizeof(dlnode_t) */
    uint32_t count;    /* real nodes in the list, sentinels not counted */
} dllist_t;

/* Callback of dlnode_forEach: -1 stops the walk, any other value goes on. */
typedef int32_t (*dlnode_callback_t)(dlnode_t *node, void *argument);

/* Makes `list` (not null) empty: sentinels linked to each other, their outer
 * links null, their list fields = list, nodeSize = sizeof(dlnode_t),
 * count = 0. Returns 0. */
ZUB_API int32_t dllist_init(dllist_t *list);

/* A malloc'ed, initialised list, or null when malloc fails. The caller
 * frees it with free() after dlnode_deleteAll. */
ZUB_API dllist_t *dllist_new(void);

/* A malloc'ed block of nodeSize bytes (at least sizeof(dlnode_t)) whose
 * list field is `list`; its links and the rest of the block are not
 * initialised and it is not linked. Null for a null list or when malloc
 * fails. */
ZUB_API dlnode_t *dlnode_new(dllist_t *list);

/* Sets next, prev and list of `node` (not null) to null. Returns 0. */
ZUB_API int32_t dlnode_init(dlnode_t *node);

/* Links `node` (in no list) directly behind `after` (a real node or the head
 * sentinel, never the tail sentinel); the node takes over the list of
 * `after`, whose count grows by one. -1 when either argument is null, else 0. */
ZUB_API int32_t dlnode_addAfter(dlnode_t *after, dlnode_t *node);

/* Appends `node` at the end of `list`. -1 when either argument is null,
 * else 0. */
ZUB_API int32_t dlnode_add(dllist_t *list, dlnode_t *node);

/* Unlinks a real node from its list (count falls by one). The node's own
 * next, prev and list keep their values; it is not freed. -1 for null,
 * else 0. */
ZUB_API int32_t dlnode_remove(dlnode_t *node);

/* dlnode_remove, then free(node). -1 for null, else 0. */
ZUB_API int32_t dlnode_delete(dlnode_t *node);

/* Frees every real node with free() (without unlinking them one by one),
 * then leaves the list empty and usable. -1 for null, else 0. */
ZUB_API int32_t dlnode_deleteAll(dllist_t *list);

/* Calls callback(node, argument) for each node from first to last. Returns
 * the node for which the callback returned -1, or null when the walk reached
 * the end (also for a null or empty list, and for a null callback, which is
 * never called). The callback may remove or
 * delete the node it was given; a node it inserts directly behind that node
 * is visited next. */
ZUB_API dlnode_t *dlnode_forEach(dllist_t *list, dlnode_callback_t callback, void *argument);

ZUB_EXTERN_C_END

#endif /* ZUB_DLLIST_H */
