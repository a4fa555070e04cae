#include <gtest/gtest.h>

#include <cstring>

#include "test_support.h"
#include "zub/object.h"

using zubtest::CountingAllocator;
using zubtest::DebugCapture;

TEST(Object, RootClassAndTheAbstractMethod)
{
    EXPECT_TRUE(zubObjectClass.parent == nullptr &&
                std::string(zubObjectClass.name) == "zubObject");
    EXPECT_EQ(zubObjectInitialize(), 0);
    uint32_t object[3] = {1, 2, 3};
    EXPECT_EQ(zubObjectClass.release(object) + _zubObjectReleaseSelf(nullptr), 0);
    EXPECT_EQ(std::vector<uint32_t>(object, object + 3),
              (std::vector<uint32_t>{0xDEADBABEu, 2, 3}));
    DebugCapture capture(false);
    EXPECT_EQ(_zubObjectAbstractMethod(), -1); // site disabled: checked, nothing written
    EXPECT_TRUE(capture.messages().empty());
    EXPECT_EQ(zubDebugTestCheckCount(), 1u);
    capture.enable(2, 1000);
    EXPECT_EQ(_zubObjectAbstractMethod(), -1);
    EXPECT_EQ(capture.messages(), std::vector<std::string>{"Abstract method called.\n"});
    EXPECT_EQ(capture.site(0), (std::vector<uint32_t>{0x000203E8u, 0, 0}));
}

// Null and all-ones records mean malloc; a counting record sees the exact
// sizes; the byte at the length is copied too; a strndup copy stops at its
// count even without a NUL. No text, an overflowing length or a failed
// allocation gives null.
TEST(Strings, CopiesHaveExactSizesAndContents)
{
    for (const zubAllocator_t *plain :
         {static_cast<zubAllocator_t *>(nullptr), ZUB_ALLOCATOR_DEFAULT}) {
        char *copy = zubStrdup(plain, "abc", 1);
        EXPECT_EQ(std::memcmp(copy, "ab", 2), 0);
        free(copy);
    }
    zubtest::GuardedBuffer buffer(4);
    std::memcpy(buffer.data(), "wxyz", 4);
    CountingAllocator allocator;
    zubAllocator_t *a = allocator.record();
    char *copies[] = {zubStrdup(a, "hello", 5),
                      zubSlowStrdup(a, "hi"),
                      zubStrndup(a, 2, "abcdef", 10),
                      zubStrndup(a, 10, "abcdef", 3),
                      zubStrndup(a, 100, reinterpret_cast<const char *>(buffer.data()), 4),
                      zubStrndup(a, 0, "abc", 3)};
    EXPECT_EQ(allocator.sizes(), (std::vector<size_t>{6, 3, 3, 4, 5, 1}));
    const char *expected[] = {"hello", "hi", "ab", "abc", "wxyz", ""};
    for (size_t i = 0; i < 6; i++) {
        EXPECT_STREQ(copies[i], expected[i]);
        a->release(a->context, copies[i]);
    }
    EXPECT_TRUE(buffer.guardsIntact());
    EXPECT_TRUE(!zubStrdup(a, nullptr, 3) && !zubStrdup(a, "abc", 0xFFFFFFFFu) &&
                !zubSlowStrdup(a, nullptr) && !zubStrndup(a, 5, nullptr, 5) &&
                !zubStrndup(a, 0xFFFFFFFFu, "abc", 0xFFFFFFFFu));
    EXPECT_EQ(allocator.allocations(), 6u);
    allocator.failAfter = 0;
    EXPECT_TRUE(!zubStrdup(a, "abc", 3) && !zubSlowStrdup(a, "abc") && !zubStrndup(a, 3, "abc", 3));
}
