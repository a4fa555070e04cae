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
TEST(DlList, NodesKeepTheirFieldsAndJoinTheListOfTheirNeighbour)
{
    dllist_t list, other;
    EXPECT_EQ((std::vector<int32_t>{dllist_init(&list), dllist_init(&other)}),
              std::vector<int32_t>(2, 0));
    EXPECT_TRUE(linked(&list, {}) && list.nodeSize == int32_t(sizeof(dlnode_t)));
    dlnode_t a, b, *stranger = dlnode_new(&other);
    EXPECT_EQ(stranger->list, &other);
    EXPECT_EQ((std::vector<int32_t>{dlnode_add(&list, &b), dlnode_addAfter(list.head, &a),
                                    dlnode_addAfter(&b, stranger)}),
              std::vector<int32_t>(3, 0));
    EXPECT_TRUE(linked(&list, {&a, &b, stranger}) && linked(&other, {}));
    EXPECT_EQ(dlnode_remove(&b), 0);
    EXPECT_TRUE(b.prev == &a && b.next == stranger && b.list == &list);
    EXPECT_EQ(dlnode_delete(stranger), 0);
    EXPECT_TRUE(linked(&list, {&a}));
    EXPECT_EQ(dlnode_init(&b), 0);
    EXPECT_TRUE(!b.prev && !b.next && !b.list);
    for (int32_t size : {0, -5, 1, 100}) {
        list.nodeSize = size;
        auto *bytes = reinterpret_cast<unsigned char *>(dlnode_new(&list));
        // The sanitizer build checks the size.
        bytes[std::max<int32_t>(size, sizeof(dlnode_t)) - 1] = 1;
        std::free(bytes);
    }
    EXPECT_EQ((std::vector<int32_t>{dlnode_addAfter(nullptr, &a),
                                    dlnode_addAfter(list.head, nullptr), dlnode_add(nullptr, &a),
                                    dlnode_add(&list, nullptr), dlnode_remove(nullptr),
                                    dlnode_delete(nullptr), dlnode_deleteAll(nullptr)}),
              std::vector<int32_t>(7, -1));
    EXPECT_TRUE(!dlnode_new(nullptr) && !dlnode_forEach(nullptr, Walk::visit, nullptr) &&
                !dlnode_forEach(&list, nullptr, nullptr));
    EXPECT_TRUE(linked(&list, {&a}));
}

// forEach goes on past deletions, stops at -1 and visits nodes added during
// the walk; an empty list sees no call and stays usable.
TEST(DlList, ForEachToleratesDeletionStopsAtMinusOneAndVisitsInsertions)
{
    dllist_t *list = dllist_new();
    ASSERT_TRUE(linked(list, {}));
    std::vector<dlnode_t *> nodes;
    for (int i = 0; i < 4; i++) {
        dlnode_add(list, nodes.emplace_back(dlnode_new(list)));
    }
    Walk stop{{}, false, {}}, deleting{{}, true, {}};
    EXPECT_EQ(dlnode_forEach(list, Walk::visit, &stop), nodes[1]);
    EXPECT_EQ(stop.seen, (std::vector<dlnode_t *>{nodes[0], &stop.inserted, nodes[1]}));
    dlnode_remove(&stop.inserted);
    EXPECT_EQ(dlnode_forEach(list, Walk::visit, &deleting), nullptr);
    EXPECT_TRUE(deleting.seen == nodes && linked(list, {}));
    EXPECT_EQ(dlnode_forEach(list, Walk::visit, &deleting), nullptr);
    EXPECT_EQ(deleting.seen, nodes);
    EXPECT_EQ(dlnode_deleteAll(list), 0);
    EXPECT_TRUE(linked(list, {}));
    std::free(list);
}
