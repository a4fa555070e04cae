#include <gtest/gtest.h>
#include <malloc.h>

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
        const char *text = reinterpret_cast<strnode_t *>(at)->string;
        out.emplace_back(text ? text : "(none)");
    }
    return out;
}
size_t chained(strlist_t *list)
{
    size_t count = 0;
    for (uint32_t i = 0; i < list->bucketCount; i++) {
        for (strnode_t *node = list->buckets[i]; node != nullptr; node = node->hashNext) {
            count++;
        }
    }
    return count;
}
} // namespace

TEST(StrList, HashNodeSizesAndRefusals)
{
    EXPECT_EQ(
        (std::vector<uint32_t>{strnode_Hash(""), strnode_Hash("abc"), strnode_Hash("\xff"),
                               strnode_Hash("aaaaaa")}),
        (std::vector<uint32_t>{0, 403683, 255, 0xA28A28A1u})); // unsigned bytes, wraps at 32 bits
    strlist_t list;
    strlist_Init(&list);
    strnode_t bare;
    std::memset(&bare, 0xA5, sizeof bare); // a used node: Init clears every field
    strnode_Init(&bare);
    EXPECT_EQ(bare.length, 0);
    EXPECT_EQ(strnode_Insert(&list, &bare), -1); // no string
    EXPECT_TRUE(!strnode_Create(&list, "") && !strnode_Create(nullptr, "x") &&
                !strnode_Create(&list, nullptr) && !strnode_Find(&list, nullptr));
    EXPECT_EQ(strnode_Remove(nullptr) + strnode_Delete(nullptr) + strnode_DeleteAll(nullptr), -3);
    std::memset(&bare, 0xA5, sizeof bare);
    EXPECT_EQ(strnode_InitString(&bare, "hello"), 0); // a copy with its length, fields cleared
    EXPECT_TRUE(std::string(bare.string) == "hello" && bare.length == 5 &&
                bare.node.list == nullptr);
    std::free(bare.string);
    for (int32_t size : {-1, 1, 80}) { // zero-filled, never smaller than a string node
        list.list.nodeSize = size;
        auto *bytes = reinterpret_cast<unsigned char *>(strnode_New(&list));
        const size_t least = std::max<size_t>(size < 0 ? 0 : size_t(size), sizeof(strnode_t));
        EXPECT_GE(malloc_usable_size(bytes), least) << size;
        EXPECT_EQ(reinterpret_cast<strnode_t *>(bytes)->node.list, &list.list);
        EXPECT_EQ(bytes[least - 1], 0);
        std::free(bytes);
    }
}

// A removed node keeps its string and may join another list; a list whose
// buckets are destroyed is a plain list.
TEST(StrList, RemovedNodesMoveToOtherListsAndDestroyedBucketsLeaveAPlainList)
{
    strlist_t list, other;
    ASSERT_EQ(strlist_InitHash(&list, 1), 0); // one chain holds everything
    strnode_t *x1 = strnode_Create(&list, "x");
    strnode_Create(&list, "a");
    strnode_t *x2 = strnode_Create(&list, "x");
    EXPECT_EQ(strnode_Remove(x1), 0); // head of the chain
    EXPECT_EQ(strnode_HashFind(&list, "x"), x2);
    strlist_InitHash(&other, 13);
    EXPECT_EQ(strnode_Insert(&other, x1), 0);
    EXPECT_EQ(other.buckets[strnode_Hash("x") % 13], x1);
    strnode_DeleteAll(&other);
    strlist_DestroyData(&other);
    strnode_DeleteAll(&list);
    EXPECT_EQ(list.buckets[0], nullptr);
    strlist_DestroyData(&list);
    EXPECT_EQ(list.buckets, nullptr);
    strnode_t *again = strnode_Create(&list, "again");
    EXPECT_EQ(strnode_Find(&list, "again"), again);
    EXPECT_EQ(strnode_HashFind(&list, "again"), nullptr);
    strnode_DeleteAll(&list);
}

// A caller may clear the string of a linked node: lookups and insertions
// pass over it, and removing or deleting it takes it out of its chain.
TEST(StrList, NodesWithAClearedStringArePassedOverAndLeaveEveryChain)
{
    for (uint32_t buckets : {0u, 1u, 7u}) {
        for (bool remove : {true, false}) {
            SCOPED_TRACE(testing::Message()
                         << buckets << " buckets, " << (remove ? "Remove" : "Delete"));
            strlist_t list;
            ASSERT_EQ(strlist_InitHash(&list, buckets), 0);
            strnode_t *ab = strnode_Create(&list, "ab");
            strnode_t *beta = strnode_Create(&list, "beta");
            strnode_Create(&list, "zz");
            for (strnode_t *node : {ab, beta}) {
                std::free(node->string);
                node->string = nullptr;
            }
            // Forward for short strings, backward for long ones, and the chain.
            EXPECT_EQ(strnode_Find(&list, "b"), nullptr);
            EXPECT_EQ(strnode_Find(&list, "aaaa"), nullptr);
            EXPECT_EQ(strnode_Find(&list, "zeta"), nullptr);
            strnode_t *a = strnode_Create(&list, "a");
            EXPECT_EQ(in_order(&list), (std::vector<std::string>{"a", "(none)", "(none)", "zz"}));
            EXPECT_EQ(strnode_Find(&list, "a"), a);
            EXPECT_EQ(remove ? strnode_Remove(beta) : strnode_Delete(beta), 0);
            EXPECT_EQ(chained(&list), buckets ? 3u : 0u);
            if (remove) {
                std::free(beta);
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
    const uint32_t seed = zubtest::testSeed(1);
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
        for (int step = 0; step < 3000; step++) {
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
            // Hashed and backward lookups find the earliest inserted (the last
            // of its equals), the forward walk the newest (the first).
            const bool newest = buckets == 0 && wanted.size() < 4;
            for (const auto &[entry, node] : model) {
                expected.push_back(entry);
                want = entry == wanted && (want == nullptr || !newest) ? node : want;
            }
            ASSERT_EQ(in_order(&list), expected);
            ASSERT_EQ(strnode_Find(&list, wanted.c_str()), want);
            if (step % 250 == 249) {
                strnode_DeleteAll(&list);
                model.clear();
            }
        }
        strnode_DeleteAll(&list);
        strlist_DestroyData(&list);
    }
}
