#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "zub/dllist.h"

namespace {

// Every link in both directions, the count and each node's list.
void expect_links(dllist_t *list, const std::vector<dlnode_t *> &nodes)
{
    ASSERT_TRUE(list->head == &list->headNode && list->tail == &list->tailNode);
    EXPECT_EQ(list->count, nodes.size());
    EXPECT_TRUE(list->headNode.prev == nullptr && list->tailNode.next == nullptr);
    EXPECT_TRUE(list->headNode.list == list && list->tailNode.list == list);
    dlnode_t *previous = list->head;
    for (dlnode_t *node : nodes) {
        ASSERT_EQ(previous->next, node);
        EXPECT_EQ(node->prev, previous);
        EXPECT_EQ(node->list, list);
        previous = node;
    }
    EXPECT_EQ(previous->next, list->tail);
    EXPECT_EQ(list->tail->prev, previous);
}

struct Walk {
    std::vector<dlnode_t *> seen;
    int stopAt = -1; // call number that returns -1
    bool deleteEach = false;
    dlnode_t *insertBehind = nullptr;
    dlnode_t inserted;
};

int32_t walker(dlnode_t *node, void *argument)
{
    auto *walk = static_cast<Walk *>(argument);
    walk->seen.push_back(node);
    if (node == walk->insertBehind) {
        dlnode_addAfter(node, &walk->inserted);
    }
    if (walk->deleteEach) {
        dlnode_delete(node);
    }
    return static_cast<int>(walk->seen.size()) == walk->stopAt ? -1 : 7;
}

} // namespace

TEST(DlList, NodesKeepTheirFieldsAndJoinTheListOfTheirNeighbour)
{
    dllist_t list, other;
    EXPECT_EQ(dllist_init(&list), 0);
    dllist_init(&other);
    expect_links(&list, {});
    EXPECT_EQ(list.nodeSize, static_cast<int32_t>(sizeof(dlnode_t)));
    dlnode_t a, b;
    dlnode_add(&list, &b);
    dlnode_addAfter(list.head, &a);
    dlnode_t *stranger = dlnode_new(&other); // made for the other list
    EXPECT_EQ(stranger->list, &other);
    dlnode_addAfter(&b, stranger);
    expect_links(&list, {&a, &b, stranger});
    expect_links(&other, {});
    EXPECT_EQ(dlnode_remove(&b), 0); // keeps its own fields
    EXPECT_TRUE(b.prev == &a && b.next == stranger && b.list == &list);
    EXPECT_EQ(dlnode_delete(stranger), 0);
    expect_links(&list, {&a});
    EXPECT_EQ(dlnode_init(&b), 0);
    EXPECT_TRUE(b.prev == nullptr && b.next == nullptr && b.list == nullptr);
    for (int32_t size : {0, -5, 1, 100}) { // never smaller than a node or nodeSize
        list.nodeSize = size;
        auto *bytes = reinterpret_cast<unsigned char *>(dlnode_new(&list));
        bytes[std::max<int32_t>(size, sizeof(dlnode_t)) - 1] =
            1; // the sanitizer build checks the size
        std::free(bytes);
    }
    for (int32_t result :
         {dlnode_addAfter(nullptr, &a), dlnode_addAfter(list.head, nullptr),
          dlnode_add(nullptr, &a), dlnode_add(&list, nullptr), dlnode_remove(nullptr),
          dlnode_delete(nullptr), dlnode_deleteAll(nullptr)}) {
        EXPECT_EQ(result, -1);
    }
    EXPECT_EQ(dlnode_new(nullptr), nullptr);
    EXPECT_EQ(dlnode_forEach(nullptr, walker, nullptr), nullptr);
    EXPECT_EQ(dlnode_forEach(&list, nullptr, nullptr), nullptr);
    expect_links(&list, {&a});
}

TEST(DlList, ForEachToleratesDeletionStopsAtMinusOneAndVisitsInsertions)
{
    dllist_t *list = dllist_new();
    std::vector<dlnode_t *> nodes;
    for (int i = 0; i < 4; i++) {
        nodes.push_back(dlnode_new(list));
        dlnode_add(list, nodes.back());
    }
    Walk stop;
    stop.stopAt = 3;
    stop.insertBehind = nodes[0];
    EXPECT_EQ(dlnode_forEach(list, walker, &stop), nodes[1]);
    EXPECT_EQ(stop.seen, (std::vector<dlnode_t *>{nodes[0], &stop.inserted, nodes[1]}));
    dlnode_remove(&stop.inserted);

    Walk deleting;
    deleting.deleteEach = true;
    EXPECT_EQ(dlnode_forEach(list, walker, &deleting), nullptr);
    EXPECT_EQ(deleting.seen, nodes);
    expect_links(list, {});
    EXPECT_EQ(dlnode_forEach(list, walker, &deleting), nullptr); // empty: no call
    EXPECT_EQ(deleting.seen.size(), nodes.size());
    EXPECT_EQ(dlnode_deleteAll(list), 0); // empty: stays empty and usable
    expect_links(list, {});
    std::free(list);
}
