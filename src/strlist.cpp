// String list: a sorted doubly linked list of strings with optional hash
// buckets chained through the nodes.
//
// Sorted insertion walks backward from the last node, so a new string lands
// in front of the strings equal to it. Lookups compare the cached 16-bit
// length (hashed chains) or the first four bytes as one big-endian word
// (backward walk of a plain list) before calling strcmp; both sorted walks
// stop at the first string past the searched one.
#include "zub/strlist.h"

#include <cstdlib>
#include <cstring>

#include "internal/bytes.h"

namespace {

struct HashAndLength {
    uint32_t hash;
    uint16_t length; // modulo 65536
};

HashAndLength hash_and_length(const char *string)
{
    uint32_t h = 0;
    size_t n = 0;
    for (const auto *p = reinterpret_cast<const unsigned char *>(string); *p != 0; ++p, ++n) {
        h = (h << 6) + *p;
    }
    return {h, static_cast<uint16_t>(n)};
}

strlist_t *owner(strnode_t *node)
{
    // A string node's list field points to the strlist_t, which begins with
    // its dllist_t.
    return reinterpret_cast<strlist_t *>(node->node.list);
}

strnode_t *as_strnode(dlnode_t *node)
{
    return reinterpret_cast<strnode_t *>(node);
}

bool hashes(const strlist_t *list)
{
    return list->buckets != nullptr && list->bucketCount != 0;
}

void chain_append(strlist_t *list, strnode_t *node)
{
    strnode_t **link = &list->buckets[strnode_Hash(node->string) % list->bucketCount];
    while (*link != nullptr) {
        link = &(*link)->hashNext;
    }
    *link = node;
}

// Unlinks `node` from whichever chain holds it, by identity. Its string's
// bucket holds it unless the caller cleared or changed the string of a
// linked node; then every bucket is searched, so that no chain keeps a node
// that is removed or freed.
bool unlink_from(strnode_t **link, const strnode_t *node)
{
    while (*link != nullptr && *link != node) {
        link = &(*link)->hashNext;
    }
    if (*link == nullptr) {
        return false;
    }
    *link = node->hashNext;
    return true;
}

void chain_unlink(strnode_t *node)
{
    strlist_t *list = owner(node);
    if (list == nullptr || !hashes(list)) {
        return;
    }
    if (node->string != nullptr &&
        unlink_from(&list->buckets[strnode_Hash(node->string) % list->bucketCount], node)) {
        return;
    }
    for (uint32_t i = 0; i < list->bucketCount && !unlink_from(&list->buckets[i], node); i++) {
    }
}

strnode_t *chain_find(const strlist_t *list, const char *string)
{
    const HashAndLength key = hash_and_length(string);
    for (strnode_t *node = list->buckets[key.hash % list->bucketCount]; node != nullptr;
         node = node->hashNext) {
        if (node->length == key.length && node->string != nullptr &&
            std::strcmp(node->string, string) == 0) {
            return node;
        }
    }
    return nullptr;
}

// Short strings: forward from the first node; the first greater string ends it.
strnode_t *find_forward(strlist_t *list, const char *string)
{
    for (dlnode_t *at = list->list.head->next; at != list->list.tail; at = at->next) {
        const char *text = as_strnode(at)->string;
        if (text == nullptr) {
            continue;
        }
        const int order = std::strcmp(text, string);
        if (order == 0) {
            return as_strnode(at);
        }
        if (order > 0) {
            return nullptr;
        }
    }
    return nullptr;
}

// Strings of four or more bytes: backward from the last node, comparing the
// first four bytes as one word; the first smaller string ends it.
strnode_t *find_backward(strlist_t *list, const char *string)
{
    const uint32_t key = zub::detail::load_be32(string);
    for (dlnode_t *at = list->list.tail->prev; at != list->list.head; at = at->prev) {
        strnode_t *node = as_strnode(at);
        if (node->string == nullptr) {
            continue;
        }
        int order; // node string against the searched one
        if (node->length >= 4) {
            const uint32_t word = zub::detail::load_be32(node->string);
            if (key < word) {
                continue;
            }
            if (key > word) {
                return nullptr;
            }
            order = std::strcmp(node->string + 4, string + 4);
        } else {
            order = std::strcmp(node->string, string);
        }
        if (order == 0) {
            return node;
        }
        if (order < 0) {
            return nullptr;
        }
    }
    return nullptr;
}

} // namespace

extern "C" {

uint32_t strnode_Hash(const char *string)
{
    return hash_and_length(string).hash;
}

int32_t strnode_Init(strnode_t *node)
{
    dlnode_init(&node->node);
    node->hashNext = nullptr;
    node->string = nullptr;
    node->length = 0;
    return 0;
}

int32_t strnode_InitString(strnode_t *node, const char *string)
{
    strnode_Init(node);
    const size_t length = std::strlen(string);
    auto *copy = static_cast<char *>(std::malloc(length + 1));
    if (copy == nullptr) {
        return -1;
    }
    std::memcpy(copy, string, length + 1);
    node->string = copy;
    node->length = static_cast<uint16_t>(length);
    return 0;
}

int32_t strlist_Init(strlist_t *list)
{
    dllist_init(&list->list);
    list->list.nodeSize = static_cast<int32_t>(sizeof(strnode_t));
    list->bucketCount = 0;
    list->buckets = nullptr;
    return 0;
}

int32_t strlist_InitHash(strlist_t *list, uint32_t bucketCount)
{
    strlist_Init(list);
    auto *buckets = static_cast<strnode_t **>(std::calloc(bucketCount, sizeof(strnode_t *)));
    if (buckets == nullptr) {
        // calloc(0, ...) may legitimately return null: a count of 0 hashes
        // nothing and is not a failure.
        return bucketCount == 0 ? 0 : -1;
    }
    list->buckets = buckets;
    list->bucketCount = bucketCount;
    return 0;
}

int32_t strlist_DestroyData(strlist_t *list)
{
    std::free(list->buckets);
    list->buckets = nullptr;
    list->bucketCount = 0;
    return 0;
}

strlist_t *strlist_New(void)
{
    auto *list = static_cast<strlist_t *>(std::malloc(sizeof(strlist_t)));
    if (list != nullptr) {
        strlist_Init(list);
    }
    return list;
}

strnode_t *strnode_New(strlist_t *list)
{
    if (list == nullptr) {
        return nullptr;
    }
    size_t size = sizeof(strnode_t);
    if (list->list.nodeSize > 0 && static_cast<size_t>(list->list.nodeSize) > size) {
        size = static_cast<size_t>(list->list.nodeSize);
    }
    auto *node = static_cast<strnode_t *>(std::calloc(1, size));
    if (node != nullptr) {
        strnode_Init(node);
        node->node.list = &list->list;
    }
    return node;
}

int32_t strnode_Insert(strlist_t *list, strnode_t *node)
{
    if (list == nullptr || node == nullptr || node->string == nullptr) {
        return -1;
    }
    node->length = static_cast<uint16_t>(std::strlen(node->string));
    dlnode_t *candidate = list->list.tail->prev;
    while (candidate != list->list.head) {
        const char *text = as_strnode(candidate)->string;
        if (text != nullptr && std::strcmp(text, node->string) < 0) {
            break;
        }
        candidate = candidate->prev;
    }
    node->hashNext = nullptr;
    if (hashes(list)) {
        chain_append(list, node);
    }
    return dlnode_addAfter(candidate, &node->node);
}

strnode_t *strnode_Create(strlist_t *list, const char *string)
{
    if (list == nullptr || string == nullptr || string[0] == '\0') {
        return nullptr;
    }
    strnode_t *node = strnode_New(list);
    if (node == nullptr) {
        return nullptr;
    }
    node->string = strdup(string);
    if (node->string == nullptr) {
        std::free(node);
        return nullptr;
    }
    strnode_Insert(list, node);
    return node;
}

int32_t strnode_Remove(strnode_t *node)
{
    if (node == nullptr) {
        return -1;
    }
    chain_unlink(node);
    return dlnode_remove(&node->node);
}

int32_t strnode_Delete(strnode_t *node)
{
    if (node == nullptr) {
        return -1;
    }
    chain_unlink(node);
    std::free(node->string);
    return dlnode_delete(&node->node);
}

int32_t strnode_DeleteAll(strlist_t *list)
{
    if (list == nullptr) {
        return -1;
    }
    if (list->buckets != nullptr) {
        for (uint32_t i = 0; i < list->bucketCount; i++) {
            list->buckets[i] = nullptr;
        }
    }
    dlnode_t *at = list->list.head->next;
    while (at != list->list.tail) {
        dlnode_t *next = at->next;
        std::free(as_strnode(at)->string);
        std::free(at);
        at = next;
    }
    list->list.count = 0;
    list->list.head->next = list->list.tail;
    list->list.tail->prev = list->list.head;
    return 0;
}

strnode_t *strnode_Find(strlist_t *list, const char *string)
{
    if (list == nullptr || string == nullptr) {
        return nullptr;
    }
    if (hashes(list)) {
        return chain_find(list, string);
    }
    const auto length = static_cast<uint16_t>(std::strlen(string));
    return length < 4 ? find_forward(list, string) : find_backward(list, string);
}

strnode_t *strnode_HashFind(strlist_t *list, const char *string)
{
    if (!hashes(list)) {
        return nullptr;
    }
    return chain_find(list, string);
}

} // extern "C"
