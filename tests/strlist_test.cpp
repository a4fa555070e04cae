#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "zub/strlist.h"

namespace {

std::vector<std::string> strings_in_order(strlist_t *list)
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

// Links a node at the end regardless of order: lets a test prove that a
// sorted walk stops early instead of scanning everything.
strnode_t *append_out_of_order(strlist_t *list, const char *text)
{
    strnode_t *node = strnode_New(list);
    node->string = strdup(text);
    node->length = static_cast<uint16_t>(std::strlen(text));
    dlnode_add(&list->list, &node->node);
    return node;
}

} // namespace

TEST(StrList, HashShiftsBySixAndAddsUnsignedBytes)
{
    EXPECT_EQ(strnode_Hash(""), 0u);
    EXPECT_EQ(strnode_Hash("abc"), 403683u);
    EXPECT_EQ(strnode_Hash("\xff"), 255u);
    // Six bytes of 'a' overflow 32 bits: 97 * (2^30 + 2^24 + ... + 1) mod 2^32.
    uint32_t expected = 0;
    for (int i = 0; i < 6; i++) {
        expected = expected * 64u + 97u;
    }
    EXPECT_EQ(strnode_Hash("aaaaaa"), expected);
}

TEST(StrList, InsertKeepsByteOrderAndPutsEqualStringsInFront)
{
    strlist_t list;
    strlist_Init(&list);
    EXPECT_EQ(list.list.nodeSize, static_cast<int32_t>(sizeof(strnode_t)));
    strnode_t *b1 = strnode_Create(&list, "b");
    strnode_Create(&list, "a");
    strnode_Create(&list, "c");
    strnode_t *b2 = strnode_Create(&list, "b");
    strnode_Create(&list, "\xe9"); // above every ASCII byte
    EXPECT_EQ(strings_in_order(&list), (std::vector<std::string>{"a", "b", "b", "c", "\xe9"}));
    EXPECT_EQ(list.list.head->next->next, &b2->node);
    EXPECT_EQ(b2->node.next, &b1->node);
    EXPECT_EQ(b1->length, 1u);
    EXPECT_EQ(b1->hashNext, nullptr);
    strnode_DeleteAll(&list);
}

TEST(StrList, RefusesNodesWithoutStringsAndEmptyOrNullArguments)
{
    strlist_t list;
    strlist_InitHash(&list, 7);
    strnode_t bare;
    strnode_Init(&bare);
    EXPECT_EQ(strnode_Insert(&list, &bare), -1);
    EXPECT_EQ(strnode_Insert(nullptr, &bare), -1);
    EXPECT_EQ(strnode_Insert(&list, nullptr), -1);
    EXPECT_EQ(list.list.count, 0u);
    EXPECT_EQ(strnode_Create(&list, ""), nullptr);
    EXPECT_EQ(strnode_Create(&list, nullptr), nullptr);
    EXPECT_EQ(strnode_Create(nullptr, "x"), nullptr);
    EXPECT_EQ(strnode_New(nullptr), nullptr);
    EXPECT_EQ(strnode_Find(nullptr, "x"), nullptr);
    EXPECT_EQ(strnode_Find(&list, nullptr), nullptr);
    EXPECT_EQ(strnode_Remove(nullptr), -1);
    EXPECT_EQ(strnode_Delete(nullptr), -1);
    EXPECT_EQ(strnode_DeleteAll(nullptr), -1);
    EXPECT_EQ(list.list.count, 0u);
    strlist_DestroyData(&list);
}

TEST(StrList, BucketChainsKeepInsertionOrderAndHashedFindGivesTheEarliest)
{
    strlist_t list;
    ASSERT_EQ(strlist_InitHash(&list, 1), 0); // one chain holds everything
    strnode_t *x1 = strnode_Create(&list, "x");
    strnode_t *a = strnode_Create(&list, "a");
    strnode_t *x2 = strnode_Create(&list, "x");
    strnode_t *long1 = strnode_Create(&list, "longer");
    EXPECT_EQ(chain(&list, 0), (std::vector<strnode_t *>{x1, a, x2, long1}));
    EXPECT_EQ(strnode_Find(&list, "x"), x1);
    EXPECT_EQ(strnode_HashFind(&list, "x"), x1);
    EXPECT_EQ(strnode_HashFind(&list, "longer"), long1);
    EXPECT_EQ(strnode_HashFind(&list, "long"), nullptr);
    EXPECT_EQ(strnode_HashFind(&list, "y"), nullptr);

    EXPECT_EQ(strnode_Remove(x1), 0); // first of its chain
    EXPECT_EQ(chain(&list, 0), (std::vector<strnode_t *>{a, x2, long1}));
    EXPECT_EQ(strnode_HashFind(&list, "x"), x2);
    EXPECT_EQ(strnode_Delete(x2), 0); // middle of its chain
    EXPECT_EQ(chain(&list, 0), (std::vector<strnode_t *>{a, long1}));
    EXPECT_EQ(strnode_Find(&list, "x"), nullptr);
    EXPECT_EQ(strings_in_order(&list), (std::vector<std::string>{"a", "longer"}));

    // A removed node keeps its string and goes into another list.
    EXPECT_STREQ(x1->string, "x");
    strlist_t other;
    strlist_InitHash(&other, 13);
    EXPECT_EQ(strnode_Insert(&other, x1), 0);
    EXPECT_EQ(x1->node.list, &other.list);
    EXPECT_EQ(strnode_HashFind(&other, "x"), x1);
    EXPECT_EQ(chain(&other, strnode_Hash("x") % 13), (std::vector<strnode_t *>{x1}));

    strnode_DeleteAll(&other);
    strlist_DestroyData(&other);
    strnode_DeleteAll(&list);
    EXPECT_EQ(list.buckets[0], nullptr);
    strlist_DestroyData(&list);
    EXPECT_EQ(list.buckets, nullptr);
    EXPECT_EQ(list.bucketCount, 0u);
    // Without buckets the list works on as a plain sorted list.
    strnode_t *again = strnode_Create(&list, "again");
    EXPECT_EQ(strnode_Find(&list, "again"), again);
    EXPECT_EQ(strnode_HashFind(&list, "again"), nullptr);
    strnode_DeleteAll(&list);
}

TEST(StrList, PlainFindWalksForwardForShortAndBackwardForLongStrings)
{
    strlist_t list;
    ASSERT_EQ(strlist_InitHash(&list, 0), 0); // no buckets: sorted walks
    strnode_t *ab1 = strnode_Create(&list, "ab");
    strnode_t *ab2 = strnode_Create(&list, "ab");
    strnode_t *long1 = strnode_Create(&list, "abcdef");
    strnode_t *long2 = strnode_Create(&list, "abcdef");
    strnode_Create(&list, "abcdzz");
    strnode_Create(&list, "abc");
    strnode_Create(&list, "zzzzzz");
    // Forward: the first in list order, the most recently inserted.
    EXPECT_EQ(strnode_Find(&list, "ab"), ab2);
    EXPECT_NE(strnode_Find(&list, "abc"), nullptr);
    // Backward: the last in list order, the earliest inserted.
    EXPECT_EQ(strnode_Find(&list, "abcdef"), long1);
    EXPECT_NE(long1, long2);
    EXPECT_NE(strnode_Find(&list, "abcdzz"), nullptr);
    EXPECT_EQ(strnode_Find(&list, "abcdeg"), nullptr); // between two stored strings
    EXPECT_EQ(strnode_Find(&list, "b"), nullptr);
    EXPECT_EQ(strnode_Find(&list, ""), nullptr);
    (void)ab1;

    // Early stops: a matching node beyond the stop point is never reached.
    append_out_of_order(&list, "aa");          // last, though it sorts first
    EXPECT_EQ(strnode_Find(&list, "aa"), nullptr); // "ab" > "aa" ends the forward walk
    strnode_t *front = strnode_New(&list);
    front->string = strdup("zzzzzzzz");
    front->length = 8;
    dlnode_addAfter(list.list.head, &front->node);
    EXPECT_EQ(strnode_Find(&list, "zzzzzzzz"), nullptr); // "aa" < it ends the backward walk
    strnode_DeleteAll(&list);
    strlist_DestroyData(&list);
}

TEST(StrList, LengthIsCachedModulo65536)
{
    strlist_t list;
    strlist_Init(&list);
    std::string big(65536 + 2, 'q'); // length field 2: the forward walk
    strnode_t *node = strnode_Create(&list, big.c_str());
    EXPECT_EQ(node->length, 2u);
    EXPECT_EQ(strnode_Find(&list, big.c_str()), node);
    strlist_t hashed;
    strlist_InitHash(&hashed, 5);
    strnode_t *hashedNode = strnode_Create(&hashed, big.c_str());
    EXPECT_EQ(strnode_HashFind(&hashed, big.c_str()), hashedNode);
    strnode_DeleteAll(&hashed);
    strlist_DestroyData(&hashed);
    strnode_DeleteAll(&list);
}

TEST(StrList, InitStringCopiesAndNewAllocatesTheListNodeSize)
{
    strnode_t node;
    char text[] = "hello";
    EXPECT_EQ(strnode_InitString(&node, text), 0);
    text[0] = 'j';
    EXPECT_STREQ(node.string, "hello");
    EXPECT_EQ(node.length, 5u);
    EXPECT_EQ(node.hashNext, nullptr);
    EXPECT_EQ(node.node.list, nullptr);
    std::free(node.string);

    strlist_t *list = strlist_New();
    ASSERT_NE(list, nullptr);
    struct Big {
        strnode_t node;
        char tail[40];
    };
    list->list.nodeSize = sizeof(Big);
    auto *big = reinterpret_cast<Big *>(strnode_New(list));
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(big->node.node.list, &list->list);
    EXPECT_EQ(big->node.string, nullptr);
    EXPECT_EQ(big->tail[39], 0); // zero-filled to the end
    std::free(big);
    list->list.nodeSize = -1; // never smaller than a string node
    strnode_t *small = strnode_New(list);
    small->length = 1;
    std::free(small);
    std::free(list);
}

// Random inserts, removals and lookups in a hashing and a plain list against
// a model of the documented order: equal strings newest first.
TEST(StrList, RandomOperationsMatchTheModelInBothKindsOfList)
{
    for (unsigned seed = 1; seed <= 12; seed++) {
        for (uint32_t buckets : {0u, 3u}) {
            std::mt19937 random(seed);
            strlist_t list;
            strlist_InitHash(&list, buckets);
            struct Entry {
                std::string text;
                int serial;
                strnode_t *node;
            };
            std::vector<Entry> model; // list order
            auto randomText = [&random] {
                std::string text(random() % 7, 'a');
                for (char &c : text) {
                    c = static_cast<char>('a' + random() % 3);
                }
                return text;
            };
            for (int step = 0; step < 250; step++) {
                const std::string text = randomText();
                if (random() % 3 != 0 || model.empty()) {
                    strnode_t *node = strnode_New(&list);
                    node->string = strdup(text.c_str());
                    ASSERT_EQ(strnode_Insert(&list, node), 0);
                    auto at = std::find_if(model.begin(), model.end(),
                                           [&](const Entry &e) { return e.text >= text; });
                    model.insert(at, Entry{text, step, node});
                } else {
                    const size_t victim = random() % model.size();
                    strnode_Delete(model[victim].node);
                    model.erase(model.begin() + static_cast<long>(victim));
                }
                std::vector<std::string> expected;
                for (auto &e : model) {
                    expected.push_back(e.text);
                }
                ASSERT_EQ(strings_in_order(&list), expected) << "seed " << seed << " step " << step;

                const std::string wanted = randomText();
                strnode_t *want = nullptr;
                int bestSerial = 0;
                for (auto &e : model) {
                    if (e.text != wanted) {
                        continue;
                    }
                    // Hashed and backward lookups give the earliest inserted,
                    // the forward walk the newest.
                    const bool newest = buckets == 0 && wanted.size() < 4;
                    if (want == nullptr || (newest ? e.serial > bestSerial : e.serial < bestSerial)) {
                        want = e.node;
                        bestSerial = e.serial;
                    }
                }
                ASSERT_EQ(strnode_Find(&list, wanted.c_str()), want)
                    << "seed " << seed << " step " << step << " \"" << wanted << "\"";
            }
            strnode_DeleteAll(&list);
            EXPECT_EQ(list.list.count, 0u);
            strlist_DestroyData(&list);
        }
    }
}
