#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"
#include "zub/strlist.h"

namespace {

std::vector<std::string> in_order(strlist_t *list)
{
    std::vector<std::string> out;
    for (dlnode_t *at = list->list.head->next; at != list->list.tail; at = at->next) {
        out.emplace_back(reinterpret_cast<strnode_t *>(at)->string);
    }
    return out;
}

std::vector<strnode_t *> chain(strlist_t *list, uint32_t bucket)
{
    std::vector<strnode_t *> out;
    for (strnode_t *node = list->buckets[bucket]; node != nullptr; node = node->hashNext) {
        out.push_back(node);
    }
    return out;
}

} // namespace

TEST(StrList, HashAndSortedInsertionInFrontOfEqualStrings)
{
    EXPECT_EQ(strnode_Hash(""), 0u);
    EXPECT_EQ(strnode_Hash("abc"), 403683u);
    EXPECT_EQ(strnode_Hash("\xff"), 255u);          // bytes are unsigned
    EXPECT_EQ(strnode_Hash("aaaaaa"), 0xA28A28A1u); // wraps at 32 bits

    strlist_t list;
    strlist_Init(&list);
    strnode_t *b1 = strnode_Create(&list, "b");
    strnode_Create(&list, "a");
    strnode_Create(&list, "c");
    strnode_t *b2 = strnode_Create(&list, "b");
    strnode_Create(&list, "\xe9");
    EXPECT_EQ(in_order(&list), (std::vector<std::string>{"a", "b", "b", "c", "\xe9"}));
    EXPECT_EQ(b2->node.next, &b1->node);

    strnode_t bare;
    std::memset(&bare, 0xA5, sizeof bare); // a used node: Init clears every field
    strnode_Init(&bare);
    EXPECT_EQ(bare.length, 0);
    EXPECT_EQ(strnode_Insert(&list, &bare), -1); // no string
    EXPECT_EQ(strnode_Create(&list, ""), nullptr);
    EXPECT_EQ(strnode_Create(nullptr, "x"), nullptr);
    EXPECT_EQ(strnode_Create(&list, nullptr), nullptr);
    EXPECT_EQ(strnode_Find(&list, nullptr), nullptr);
    EXPECT_EQ(strnode_Remove(nullptr), -1);
    EXPECT_EQ(strnode_Delete(nullptr), -1);
    EXPECT_EQ(strnode_DeleteAll(nullptr), -1);
    EXPECT_EQ(list.list.count, 5u);
    strnode_DeleteAll(&list);

    std::memset(&bare, 0xA5, sizeof bare);
    EXPECT_EQ(strnode_InitString(&bare, "hello"), 0); // a copy with its length, fields cleared
    EXPECT_TRUE(std::string(bare.string) == "hello" && bare.length == 5 &&
                bare.node.list == nullptr);
    std::free(bare.string);
    for (int32_t size : {-1, 80}) { // zero-filled, never smaller than a string node
        list.list.nodeSize = size;
        auto *bytes = reinterpret_cast<unsigned char *>(strnode_New(&list));
        EXPECT_EQ(reinterpret_cast<strnode_t *>(bytes)->node.list, &list.list);
        EXPECT_EQ(bytes[std::max<int32_t>(size, sizeof(strnode_t)) - 1], 0);
        std::free(bytes);
    }
}

// Hashed lookups of equal strings and deletions anywhere in a chain are
// checked against the model by the random test; here a removed node moving
// to another list, and a list whose buckets are gone.
TEST(StrList, RemovedNodesMoveToOtherListsAndDestroyedBucketsLeaveAPlainList)
{
    strlist_t list, other;
    ASSERT_EQ(strlist_InitHash(&list, 1), 0); // one chain holds everything
    strnode_t *x1 = strnode_Create(&list, "x");
    strnode_t *a = strnode_Create(&list, "a");
    strnode_t *x2 = strnode_Create(&list, "x");
    EXPECT_EQ(chain(&list, 0), (std::vector<strnode_t *>{x1, a, x2}));
    EXPECT_EQ(strnode_Remove(x1), 0); // head of the chain
    EXPECT_EQ(strnode_HashFind(&list, "x"), x2);
    strlist_InitHash(&other, 13);
    EXPECT_EQ(strnode_Insert(&other, x1), 0); // a removed node keeps its string
    EXPECT_EQ(chain(&other, strnode_Hash("x") % 13), (std::vector<strnode_t *>{x1}));
    strnode_DeleteAll(&other);
    strlist_DestroyData(&other);

    strnode_DeleteAll(&list);
    EXPECT_EQ(list.buckets[0], nullptr);
    strlist_DestroyData(&list);
    EXPECT_EQ(list.buckets, nullptr);
    strnode_t *again = strnode_Create(&list, "again"); // now a plain list
    EXPECT_EQ(strnode_Find(&list, "again"), again);
    EXPECT_EQ(strnode_HashFind(&list, "again"), nullptr);
    strnode_DeleteAll(&list);
}

// A caller may clear the string of a linked node: removing or deleting it
// must still take it out of its chain (whichever bucket that is), or the
// next lookup walks a freed node.
TEST(StrList, NodeWithClearedStringLeavesEveryChain)
{
    for (uint32_t buckets : {1u, 7u}) {
        for (bool remove : {true, false}) {
            SCOPED_TRACE(testing::Message()
                         << buckets << " buckets, " << (remove ? "Remove" : "Delete"));
            strlist_t list;
            ASSERT_EQ(strlist_InitHash(&list, buckets), 0);
            strnode_t *a = strnode_Create(&list, "alpha");
            strnode_t *b = strnode_Create(&list, "beta");
            std::free(a->string);
            a->string = nullptr;
            EXPECT_EQ(remove ? strnode_Remove(a) : strnode_Delete(a), 0);
            EXPECT_EQ(strnode_Find(&list, "beta"), b);
            size_t chained = 0;
            for (uint32_t i = 0; i < buckets; i++) {
                chained += chain(&list, i).size();
            }
            EXPECT_EQ(chained, 1u);
            if (remove) {
                std::free(a);
            }
            strnode_DeleteAll(&list);
            strlist_DestroyData(&list);
        }
    }
}

// Random inserts, deletions and lookups in a hashing and a plain list,
// against a model of the documented order (equal strings newest first).
TEST(StrList, RandomOperationsMatchTheModelInBothKindsOfList)
{
    const uint32_t firstSeed = zubtest::testSeed(1);
    for (uint32_t round = 0; round < 12; round++) {
        const uint32_t seed = firstSeed + round;
        for (uint32_t buckets : {0u, 3u}) {
            std::mt19937 random(seed);
            strlist_t list;
            strlist_InitHash(&list, buckets);
            std::vector<std::pair<std::string, strnode_t *>> model; // in list order
            auto randomText = [&random] {
                std::string text(random() % 7, 'a');
                for (char &c : text) {
                    c = static_cast<char>('a' + random() % 3);
                }
                return text;
            };
            for (int step = 0; step < 250; step++) {
                SCOPED_TRACE(testing::Message() << "seed " << seed << " step " << step);
                const std::string text = randomText();
                if (random() % 3 != 0 || model.empty()) {
                    strnode_t *node = strnode_New(&list);
                    node->string = strdup(text.c_str());
                    ASSERT_EQ(strnode_Insert(&list, node), 0);
                    auto at = std::find_if(model.begin(), model.end(),
                                           [&](const auto &e) { return e.first >= text; });
                    model.emplace(at, text, node);
                } else {
                    const size_t victim = random() % model.size();
                    strnode_Delete(model[victim].second);
                    model.erase(model.begin() + static_cast<long>(victim));
                }
                std::vector<std::string> expected;
                strnode_t *want = nullptr;
                const std::string wanted = randomText();
                // Hashed and backward lookups find the earliest inserted (the last of its
                // equals), the forward walk the newest (the first).
                const bool newest = buckets == 0 && wanted.size() < 4;
                for (const auto &[entry, node] : model) {
                    expected.push_back(entry);
                    if (entry == wanted && (want == nullptr || !newest)) {
                        want = node;
                    }
                }
                ASSERT_EQ(in_order(&list), expected);
                ASSERT_EQ(strnode_Find(&list, wanted.c_str()), want);
            }
            strnode_DeleteAll(&list);
            strlist_DestroyData(&list);
        }
    }
}
