// Intrusive doubly linked list with its two sentinels inside the list record.
//
// Every operation reaches the sentinels through the record's head and tail
// pointers, and every node carries its list, so adding, appending and
// removing never search.
#include "zub/dllist.h"

#include <cstdlib>

namespace {

void unlink(dlnode_t *node)
{
    node->prev->next = node->next;
    node->next->prev = node->prev;
    node->list->count--;
}

} // namespace

extern "C" {

int32_t dllist_init(dllist_t *list)
{
    list->head = &list->headNode;
    list->tail = &list->tailNode;
    list->headNode.next = &list->tailNode;
    list->headNode.prev = nullptr;
    list->headNode.list = list;
    list->tailNode.next = nullptr;
    list->tailNode.prev = &list->headNode;
    list->tailNode.list = list;
    list->nodeSize = static_cast<int32_t>(sizeof(dlnode_t));
    list->count = 0;
    return 0;
}

dllist_t *dllist_new(void)
{
    auto *list = static_cast<dllist_t *>(std::malloc(sizeof(dllist_t)));
    if (list != nullptr) {
        dllist_init(list);
    }
    return list;
}

dlnode_t *dlnode_new(dllist_t *list)
{
    if (list == nullptr) {
        return nullptr;
    }
    // Never smaller than the links themselves, whatever nodeSize says.
    size_t size = sizeof(dlnode_t);
    if (list->nodeSize > 0 && static_cast<size_t>(list->nodeSize) > size) {
        size = static_cast<size_t>(list->nodeSize);
    }
    auto *node = static_cast<dlnode_t *>(std::malloc(size));
    if (node != nullptr) {
        node->list = list;
    }
    return node;
}

int32_t dlnode_init(dlnode_t *node)
{
    node->next = nullptr;
    node->prev = nullptr;
    node->list = nullptr;
    return 0;
}

int32_t dlnode_addAfter(dlnode_t *after, dlnode_t *node)
{
    if (after == nullptr || node == nullptr) {
        return -1;
    }
    dlnode_t *follower = after->next;
    node->prev = after;
    node->next = follower;
    node->list = after->list;
    after->next = node;
    follower->prev = node;
    node->list->count++;
    return 0;
}

int32_t dlnode_add(dllist_t *list, dlnode_t *node)
{
    if (list == nullptr || node == nullptr) {
        return -1;
    }
    return dlnode_addAfter(list->tail->prev, node);
}

int32_t dlnode_remove(dlnode_t *node)
{
    if (node == nullptr) {
        return -1;
    }
    unlink(node);
    return 0;
}

int32_t dlnode_delete(dlnode_t *node)
{
    if (node == nullptr) {
        return -1;
    }
    unlink(node);
    std::free(node);
    return 0;
}

int32_t dlnode_deleteAll(dllist_t *list)
{
    if (list == nullptr) {
        return -1;
    }
    dlnode_t *node = list->head->next;
    while (node != list->tail) {
        dlnode_t *next = node->next;
        std::free(node);
        node = next;
    }
    list->count = 0;
    list->head->next = list->tail;
    list->tail->prev = list->head;
    return 0;
}

dlnode_t *dlnode_forEach(dllist_t *list, dlnode_callback_t callback, void *argument)
{
    if (list == nullptr || callback == nullptr) {
        return nullptr;
    }
    dlnode_t *previous = list->head;
    dlnode_t *current = previous->next;
    while (current != list->tail) {
        if (callback(current, argument) == -1) {
            return current;
        }
        if (previous->next != current) {
            // The callback unlinked (perhaps freed) current: never touch it again.
            current = previous->next;
        } else {
            previous = current;
            current = current->next;
        }
    }
    return nullptr;
}

} // extern "C"
