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
// when removed, and are never allocated smaller than a node; forEach goes on
// past deletions, stops at -1 and visits nodes added during the walk.
TEST(DlList, LinksNodeSizesRefusalsAndForEach)
{
    dllist_t list, other, *made = dllist_new();
    EXPECT_EQ(dllist_init(&list) + dllist_init(&other), 0);
    EXPECT_TRUE(linked(&list, {}) && linked(made, {}) &&
                list.nodeSize == int32_t(sizeof(dlnode_t)));
    dlnode_t a, b, *stranger = dlnode_new(&other);
    EXPECT_EQ(stranger->list, &other);
    EXPECT_EQ(
        dlnode_add(&list, &b) + dlnode_addAfter(list.head, &a) + dlnode_addAfter(&b, stranger), 0);
    EXPECT_TRUE(linked(&list, {&a, &b, stranger}) && linked(&other, {}));
    EXPECT_EQ(dlnode_remove(&b), 0);
    EXPECT_TRUE(b.prev == &a && b.next == stranger && b.list == &list);
    EXPECT_TRUE(dlnode_delete(stranger) == 0 && linked(&list, {&a}));
    EXPECT_TRUE(dlnode_init(&b) == 0 && !b.prev && !b.next && !b.list);
    for (int32_t size : {0, -5, 1, 100}) {
        made->nodeSize = size;
        auto *bytes = reinterpret_cast<unsigned char *>(dlnode_new(made));
        // The sanitizer build checks the size.
        bytes[std::max<int32_t>(size, sizeof(dlnode_t)) - 1] = 1;
        dlnode_add(made, reinterpret_cast<dlnode_t *>(bytes));
    }
    EXPECT_EQ(dlnode_addAfter(nullptr, &a) + dlnode_addAfter(list.head, nullptr) +
                  dlnode_add(nullptr, &a) + dlnode_add(&list, nullptr) + dlnode_remove(nullptr) +
                  dlnode_delete(nullptr) + dlnode_deleteAll(nullptr),
              -7);
    EXPECT_TRUE(!dlnode_new(nullptr) && !dlnode_forEach(nullptr, Walk::visit, nullptr) &&
                !dlnode_forEach(&list, nullptr, nullptr) && linked(&list, {&a}));
    std::vector<dlnode_t *> nodes;
    for (dlnode_t *at = made->head->next; at != made->tail; at = at->next) {
        nodes.push_back(at);
    }
    Walk stop{{}, false, {}}, deleting{{}, true, {}};
    EXPECT_EQ(dlnode_forEach(made, Walk::visit, &stop), nodes[1]);
    EXPECT_EQ(stop.seen, (std::vector<dlnode_t *>{nodes[0], &stop.inserted, nodes[1]}));
    dlnode_remove(&stop.inserted);
    EXPECT_TRUE(!dlnode_forEach(made, Walk::visit, &deleting) && deleting.seen == nodes &&
                linked(made, {}));
    // Empty: no call, and deleting all keeps it empty and usable.
    EXPECT_TRUE(!dlnode_forEach(made, Walk::visit, &deleting) && deleting.seen == nodes);
    EXPECT_TRUE(dlnode_deleteAll(made) == 0 && linked(made, {}));
    std::free(made);
}
