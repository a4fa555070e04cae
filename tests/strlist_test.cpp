#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>

#include "test_support.h"
#include "zub/strlist.h"

TEST(StrList, HashNodeSizesRefusalsAndTheModelInBothKindsOfList)
{
    // Unsigned bytes, wrapping at 32 bits.
    EXPECT_TRUE(strnode_Hash("\xff") == 255 && strnode_Hash("aaaaaa") == 0xA28A28A1u);
    strlist_t list;
    strnode_t bare;
    // A copy with its length, fields cleared; Init clears them again, and a
    // node without a string is refused.
    std::memset(&bare, 0xA5, sizeof bare);
    EXPECT_TRUE(strnode_InitString(&bare, "hello") == 0 && std::string(bare.string) == "hello" &&
                bare.length == 5 && !bare.node.list);
    std::free(bare.string);
    EXPECT_TRUE(strlist_Init(&list) == 0 && strnode_Init(&bare) == 0 && bare.length == 0 &&
                strnode_Insert(&list, &bare) == -1 && !strnode_Create(&list, "") &&
                !strnode_Create(nullptr, "x") && !strnode_Create(&list, nullptr) &&
                !strnode_Find(&list, nullptr) && strnode_Remove(nullptr) == -1 &&
                strnode_Delete(nullptr) == -1 && strnode_DeleteAll(nullptr) == -1);
    // Zero-filled, never smaller than a string node.
    for (int32_t size : {-1, 1, 80}) {
        list.list.nodeSize = size;
        auto *bytes = reinterpret_cast<unsigned char *>(strnode_New(&list));
        const size_t least = std::max<size_t>(size < 0 ? 0 : size_t(size), sizeof(strnode_t));
        EXPECT_TRUE(malloc_usable_size(bytes) >= least && bytes[least - 1] == 0 &&
                    reinterpret_cast<strnode_t *>(bytes)->node.list == &list.list);
        std::free(bytes);
    }
    // Random inserts, removals, deletions, cleared strings and lookups in
    // plain and hashing lists, against a model of the documented order:
    // sorted, equal strings newest first. A caller may clear the string of a
    // linked node: lookups and insertions pass over it, and removing or
    // deleting it takes it out of every chain.
    const uint32_t seed = zubtest::testSeed(1);
    for (uint32_t buckets : {0u, 1u, 3u}) {
        SCOPED_TRACE(testing::Message() << "seed " << seed << ", " << buckets << " buckets");
        std::mt19937 random(seed);
        strlist_InitHash(&list, buckets);
        // In list order; "-" for a cleared string.
        std::vector<std::pair<std::string, strnode_t *>> model;
        auto randomText = [&random] {
            std::string text(random() % 7, 'a');
            std::generate(text.begin(), text.end(), [&random] { return char('a' + random() % 3); });
            return text;
        };
        for (int step = 0; step < 3000; step++) {
            const std::string text = randomText();
            const size_t victim = random() % (model.size() + 1), how = random() % 8;
            if (victim == model.size() || how < 4) {
                // Created, or inserted by hand (an empty string too), in front
                // of the first string not below it.
                strnode_t *node = how % 2 && !text.empty() ? strnode_Create(&list, text.c_str())
                                                           : strnode_New(&list);
                if (!node->string) {
                    node->string = strdup(text.c_str());
                    ASSERT_EQ(strnode_Insert(&list, node), 0);
                }
                auto at = std::find_if(model.rbegin(), model.rend(), [&](const auto &e) {
                    return e.first != "-" && e.first < text;
                });
                model.emplace(at.base(), text, node);
            } else if (how == 4) {
                std::free(std::exchange(model[victim].second->string, nullptr));
                // Not = "-": at -O3 GCC 12 warns falsely of overlapping copies (-Wrestrict).
                model[victim].first.assign(1, '-');
            } else {
                strnode_t *node = model[victim].second;
                ASSERT_EQ(how == 5 ? strnode_Remove(node) : strnode_Delete(node), 0);
                if (how == 5) {
                    std::free(node->string);
                    std::free(node);
                }
                model.erase(model.begin() + static_cast<long>(victim));
            }
            // Hashed and backward lookups find the earliest inserted (the last
            // of its equals), the forward walk the newest (the first).
            step % 250 == 249 && strnode_DeleteAll(&list) == 0 ? model.clear() : void();
            const std::string wanted = randomText();
            const bool newest = buckets == 0 && wanted.size() < 4;
            strnode_t *want = nullptr;
            dlnode_t *at = list.list.head;
            for (const auto &[entry, node] : model) {
                at = at->next;
                ASSERT_TRUE(at == &node->node && entry == (node->string ? node->string : "-"));
                want = entry == wanted && (want == nullptr || !newest) ? node : want;
            }
            ASSERT_TRUE(at->next == list.list.tail && strnode_Find(&list, wanted.c_str()) == want &&
                        (!buckets || strnode_HashFind(&list, wanted.c_str()) == want));
        }
        // A plain list from now on.
        EXPECT_TRUE(strnode_DeleteAll(&list) == 0 && strlist_DestroyData(&list) == 0 &&
                    !list.buckets && !list.bucketCount && !strnode_HashFind(&list, "a"));
    }
}
