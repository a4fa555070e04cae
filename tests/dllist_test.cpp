#include <gtest/gtest.h>

#include "test_support.h"
#include "zub/dllist.h"

namespace {

// Every link in both directions, the count and each node's list.
bool linked(dllist_t *list, std::vector<dlnode_t *> nodes)
{
    nodes.insert(nodes.begin(), list->head);
    nodes.push_back(list->tail);
    bool ok = list->head == &list->headNode && list->tail == &list->tailNode && !list->head->prev &&
              !list->tail->next && list->tail->list == list && list->count == nodes.size() - 2;
    for (size_t i = 0; i + 1 < nodes.size(); i++) {
        ok = ok && nodes[i]->next == nodes[i + 1] && nodes[i + 1]->prev == nodes[i] &&
             nodes[i]->list == list;
    }
    return ok;
}

// Each visit is recorded; the third returns -1 (the others 7). The first
// node gets `inserted` behind it, and every node is deleted when told.
struct Walk {
    std::vector<dlnode_t *> seen;
    bool deleteEach;
    dlnode_t inserted;

    static int32_t visit(dlnode_t *node, void *argument)
    {
        auto *walk = static_cast<Walk *>(argument);
        walk->seen.push_back(node);
        walk->deleteEach         ? dlnode_delete(node)
        : walk->seen.size() == 1 ? dlnode_addAfter(node, &walk->inserted)
                                 : 0;
        return walk->seen.size() == 3 && !walk->deleteEach ? -1 : 7;
    }
};

} // namespace

// Nodes join the list of the node they are added after, keep their fields
// when removed, and are never allocated smaller than a node; null arguments
// are refused.
TEST(DlList, NodesKeepTheirFieldsJoinTheListOfTheirNeighbourAndSurviveAWalk)
{
    dllist_t list, other;
    ASSERT_TRUE(dllist_init(&list) == 0 && dllist_init(&other) == 0 && linked(&list, {}) &&
                list.nodeSize == int32_t(sizeof(dlnode_t)));
    dlnode_t a, b, *stranger = dlnode_new(&other);
    EXPECT_TRUE(stranger->list == &other && dlnode_add(&list, &b) == 0 &&
                dlnode_addAfter(list.head, &a) == 0 && dlnode_addAfter(&b, stranger) == 0 &&
                linked(&list, {&a, &b, stranger}) && linked(&other, {}));
    EXPECT_TRUE(dlnode_remove(&b) == 0 && b.prev == &a && b.next == stranger && b.list == &list &&
                dlnode_delete(stranger) == 0 && linked(&list, {&a}));
    for (int32_t size : {0, -5, 1, 100}) {
        list.nodeSize = size;
        auto *bytes = reinterpret_cast<unsigned char *>(dlnode_new(&list));
        // The sanitizer build checks the size.
        bytes[std::max<int32_t>(size, sizeof(dlnode_t)) - 1] = 1;
        std::free(bytes);
    }
    dllist_t *heap = dllist_new();
    EXPECT_TRUE(dlnode_addAfter(nullptr, &a) == -1 && dlnode_addAfter(list.head, nullptr) == -1 &&
                dlnode_add(nullptr, &a) == -1 && dlnode_add(&list, nullptr) == -1 &&
                dlnode_remove(nullptr) == -1 && dlnode_delete(nullptr) == -1 &&
                dlnode_deleteAll(nullptr) == -1 && !dlnode_new(nullptr) &&
                !dlnode_forEach(nullptr, Walk::visit, nullptr) &&
                !dlnode_forEach(&list, nullptr, nullptr) && linked(&list, {&a}) &&
                linked(heap, {}));
    // forEach goes on past deletions, stops at -1 and visits nodes added
    // during the walk; an empty list sees no call and stays usable.
    const std::vector<dlnode_t *> nodes{dlnode_new(heap), dlnode_new(heap), dlnode_new(heap)};
    EXPECT_TRUE(dlnode_add(heap, nodes[0]) == 0 && dlnode_add(heap, nodes[1]) == 0 &&
                dlnode_add(heap, nodes[2]) == 0);
    Walk stop{{}, false, {}}, deleting{{}, true, {}};
    EXPECT_EQ(dlnode_forEach(heap, Walk::visit, &stop), nodes[1]);
    EXPECT_EQ(stop.seen, (std::vector<dlnode_t *>{nodes[0], &stop.inserted, nodes[1]}));
    dlnode_remove(&stop.inserted);
    EXPECT_TRUE(dlnode_forEach(heap, Walk::visit, &deleting) == nullptr && deleting.seen == nodes &&
                linked(heap, {}) && !dlnode_forEach(heap, Walk::visit, &deleting) &&
                deleting.seen == nodes && dlnode_deleteAll(heap) == 0 && linked(heap, {}));
    std::free(heap);
}
