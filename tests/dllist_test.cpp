#include <gtest/gtest.h>

#include <cstdlib>
#include <list>
#include <random>
#include <vector>

#include "zub/dllist.h"

namespace {

// Every link of the list, both directions, the count and each node's list.
void expect_links(dllist_t *list, const std::vector<dlnode_t *> &nodes)
{
    ASSERT_EQ(list->head, &list->headNode);
    ASSERT_EQ(list->tail, &list->tailNode);
    EXPECT_EQ(list->count, nodes.size());
    EXPECT_EQ(list->headNode.prev, nullptr);
    EXPECT_EQ(list->tailNode.next, nullptr);
    EXPECT_EQ(list->headNode.list, list);
    EXPECT_EQ(list->tailNode.list, list);
    dlnode_t *previous = list->head;
    for (size_t i = 0; i < nodes.size(); i++) {
        ASSERT_EQ(previous->next, nodes[i]) << "node " << i;
        EXPECT_EQ(nodes[i]->prev, previous) << "node " << i;
        EXPECT_EQ(nodes[i]->list, list) << "node " << i;
        previous = nodes[i];
    }
    EXPECT_EQ(previous->next, list->tail);
    EXPECT_EQ(list->tail->prev, previous);
}

std::vector<dlnode_t *> visit_order(dllist_t *list)
{
    std::vector<dlnode_t *> seen;
    dlnode_forEach(
        list,
        [](dlnode_t *node, void *argument) -> int32_t {
            static_cast<std::vector<dlnode_t *> *>(argument)->push_back(node);
            return 0;
        },
        &seen);
    return seen;
}

} // namespace

TEST(DlList, FreshListIsEmptyAndWalksNothing)
{
    dllist_t list;
    EXPECT_EQ(dllist_init(&list), 0);
    expect_links(&list, {});
    EXPECT_EQ(list.nodeSize, static_cast<int32_t>(sizeof(dlnode_t)));
    EXPECT_TRUE(visit_order(&list).empty());
    EXPECT_EQ(dlnode_deleteAll(&list), 0);
    expect_links(&list, {});

    dlnode_t node = {&node, &node, reinterpret_cast<dllist_t *>(&node)};
    EXPECT_EQ(dlnode_init(&node), 0);
    EXPECT_EQ(node.next, nullptr);
    EXPECT_EQ(node.prev, nullptr);
    EXPECT_EQ(node.list, nullptr);
}

TEST(DlList, AddAppendsAndAddAfterInsertsAnywhere)
{
    dllist_t list;
    dllist_init(&list);
    dlnode_t a, b, c, d;
    EXPECT_EQ(dlnode_add(&list, &b), 0);
    expect_links(&list, {&b});
    EXPECT_EQ(dlnode_addAfter(list.head, &a), 0); // behind the head sentinel: first
    EXPECT_EQ(dlnode_add(&list, &d), 0);
    EXPECT_EQ(dlnode_addAfter(&b, &c), 0);
    expect_links(&list, {&a, &b, &c, &d});
    EXPECT_EQ(visit_order(&list), (std::vector<dlnode_t *>{&a, &b, &c, &d}));
}

TEST(DlList, AddAfterTakesOverTheListOfItsNeighbour)
{
    dllist_t home, other;
    dllist_init(&home);
    dllist_init(&other);
    dlnode_t anchor;
    dlnode_add(&other, &anchor);
    dlnode_t *node = dlnode_new(&home);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->list, &home);
    EXPECT_EQ(dlnode_addAfter(&anchor, node), 0);
    expect_links(&other, {&anchor, node});
    expect_links(&home, {});
    EXPECT_EQ(dlnode_delete(node), 0);
    expect_links(&other, {&anchor});
}

TEST(DlList, NewAllocatesAtLeastANodeWhateverNodeSizeSays)
{
    dllist_t list;
    dllist_init(&list);
    for (int32_t size : {0, -5, 1, static_cast<int32_t>(sizeof(dlnode_t)), 100}) {
        list.nodeSize = size;
        auto *node = dlnode_new(&list);
        ASSERT_NE(node, nullptr) << size;
        EXPECT_EQ(node->list, &list);
        // The sanitizer build catches a block smaller than the links or nodeSize.
        node->next = node->prev = nullptr;
        if (size > 0) {
            static_cast<unsigned char *>(static_cast<void *>(node))[size - 1] = 1;
        }
        std::free(node);
    }
    EXPECT_EQ(list.count, 0u);
}

TEST(DlList, RemoveKeepsTheNodeFieldsAndDeleteFreesIt)
{
    dllist_t list;
    dllist_init(&list);
    dlnode_t a, b, c;
    dlnode_add(&list, &a);
    dlnode_add(&list, &b);
    dlnode_add(&list, &c);
    EXPECT_EQ(dlnode_remove(&b), 0);
    expect_links(&list, {&a, &c});
    EXPECT_EQ(b.prev, &a);
    EXPECT_EQ(b.next, &c);
    EXPECT_EQ(b.list, &list);
    dlnode_t *heap = dlnode_new(&list);
    dlnode_addAfter(&a, heap);
    EXPECT_EQ(dlnode_delete(heap), 0);
    expect_links(&list, {&a, &c});
}

TEST(DlList, ForEachSurvivesACallbackThatDeletesEveryNode)
{
    dllist_t *list = dllist_new();
    ASSERT_NE(list, nullptr);
    std::vector<dlnode_t *> created;
    for (int i = 0; i < 5; i++) {
        dlnode_t *node = dlnode_new(list);
        dlnode_add(list, node);
        created.push_back(node);
    }
    std::vector<dlnode_t *> seen;
    auto deleting = [](dlnode_t *node, void *argument) -> int32_t {
        static_cast<std::vector<dlnode_t *> *>(argument)->push_back(node);
        dlnode_delete(node);
        return 0;
    };
    EXPECT_EQ(dlnode_forEach(list, deleting, &seen), nullptr);
    EXPECT_EQ(seen, created);
    expect_links(list, {});
    std::free(list);
}

TEST(DlList, ForEachStopsAtMinusOneAndVisitsANodeInsertedBehindCurrent)
{
    dllist_t list;
    dllist_init(&list);
    dlnode_t nodes[5];
    for (auto &node : nodes) {
        dlnode_add(&list, &node);
    }
    struct Walk {
        int calls = 0;
        dlnode_t inserted;
        dlnode_t *first = nullptr;
    } walk;
    walk.first = &nodes[0];
    auto stopAtThird = [](dlnode_t *, void *argument) -> int32_t {
        auto *w = static_cast<Walk *>(argument);
        return ++w->calls == 3 ? -1 : 0;
    };
    EXPECT_EQ(dlnode_forEach(&list, stopAtThird, &walk), &nodes[2]);
    EXPECT_EQ(walk.calls, 3);

    auto insertBehindFirst = [](dlnode_t *node, void *argument) -> int32_t {
        auto *w = static_cast<Walk *>(argument);
        if (node == w->first) {
            dlnode_addAfter(node, &w->inserted);
        }
        return node == &w->inserted ? 7 : 0; // any value but -1 goes on
    };
    EXPECT_EQ(dlnode_forEach(&list, insertBehindFirst, &walk), nullptr);
    EXPECT_EQ(visit_order(&list), (std::vector<dlnode_t *>{&nodes[0], &walk.inserted, &nodes[1],
                                                           &nodes[2], &nodes[3], &nodes[4]}));
}

TEST(DlList, NullArgumentsAreRefused)
{
    dllist_t list;
    dllist_init(&list);
    dlnode_t node;
    EXPECT_EQ(dlnode_addAfter(nullptr, &node), -1);
    EXPECT_EQ(dlnode_addAfter(list.head, nullptr), -1);
    EXPECT_EQ(dlnode_add(nullptr, &node), -1);
    EXPECT_EQ(dlnode_add(&list, nullptr), -1);
    EXPECT_EQ(dlnode_remove(nullptr), -1);
    EXPECT_EQ(dlnode_delete(nullptr), -1);
    EXPECT_EQ(dlnode_deleteAll(nullptr), -1);
    EXPECT_EQ(dlnode_new(nullptr), nullptr);
    EXPECT_EQ(dlnode_forEach(nullptr, [](dlnode_t *, void *) -> int32_t { return -1; }, nullptr), nullptr);
    dlnode_add(&list, &node);
    EXPECT_EQ(dlnode_forEach(&list, nullptr, nullptr), nullptr);
    expect_links(&list, {&node});
}

TEST(DlList, RandomOperationsMatchAShadowList)
{
    for (unsigned seed = 1; seed <= 20; seed++) {
        std::mt19937 random(seed);
        dllist_t list;
        dllist_init(&list);
        std::list<dlnode_t *> shadow;
        for (int step = 0; step < 300; step++) {
            const unsigned op = random() % 5;
            if (op <= 1 || shadow.empty()) {
                dlnode_t *node = dlnode_new(&list);
                if (op == 0 || shadow.empty()) {
                    dlnode_add(&list, node);
                    shadow.push_back(node);
                } else {
                    auto at = std::next(shadow.begin(), static_cast<long>(random() % shadow.size()));
                    dlnode_addAfter(*at, node);
                    shadow.insert(std::next(at), node);
                }
            } else if (op == 2) {
                auto at = std::next(shadow.begin(), static_cast<long>(random() % shadow.size()));
                dlnode_delete(*at);
                shadow.erase(at);
            } else if (op == 3) {
                dlnode_t *node = shadow.front();
                dlnode_remove(node);
                dlnode_addAfter(list.head, node); // remove and put back first
            } else if (random() % 20 == 0) {
                dlnode_deleteAll(&list);
                shadow.clear();
            }
            expect_links(&list, std::vector<dlnode_t *>(shadow.begin(), shadow.end()));
            ASSERT_FALSE(testing::Test::HasFailure()) << "seed " << seed << " step " << step;
        }
        dlnode_deleteAll(&list);
    }
}
