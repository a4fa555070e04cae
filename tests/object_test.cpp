#include <gtest/gtest.h>

#include <cstring>

#include "test_support.h"
#include "zub/object.h"

using zubtest::CountingAllocator;
using zubtest::DebugCapture;

TEST(Object, RootClassReleaseMarksOnlyTheFirstWord)
{
    EXPECT_EQ(zubObjectClass.parent, nullptr);
    EXPECT_STREQ(zubObjectClass.name, "zubObject");
    EXPECT_EQ(zubObjectInitialize(), 0);
    uint32_t object[3] = {1, 2, 3};
    EXPECT_EQ(zubObjectClass.release(object), 0);
    EXPECT_EQ(std::vector<uint32_t>(object, object + 3),
              (std::vector<uint32_t>{0xDEADBABEu, 2, 3}));
    EXPECT_EQ(_zubObjectReleaseSelf(nullptr), 0);
}

TEST(Object, AbstractMethodWritesItsMessageAtLevel2Class1000)
{
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
// count even without a NUL.
TEST(Strings, CopiesHaveExactSizesAndContents)
{
    const zubAllocator_t *const plainRecords[] = {nullptr, ZUB_ALLOCATOR_DEFAULT};
    for (const zubAllocator_t *plain : plainRecords) {
        char *copy = zubStrdup(plain, "abc", 1);
        EXPECT_EQ(std::memcmp(copy, "ab", 2), 0);
        free(copy);
    }
    zubtest::GuardedBuffer buffer(4);
    std::memcpy(buffer.data(), "wxyz", 4);
    CountingAllocator allocator;
    char *copies[] = {
        zubStrdup(allocator.record(), "hello", 5),
        zubSlowStrdup(allocator.record(), "hi"),
        zubStrndup(allocator.record(), 2, "abcdef", 10),
        zubStrndup(allocator.record(), 10, "abcdef", 3),
        zubStrndup(allocator.record(), 100, reinterpret_cast<const char *>(buffer.data()), 4),
        zubStrndup(allocator.record(), 0, "abc", 3)};
    EXPECT_EQ(allocator.sizes(), (std::vector<size_t>{6, 3, 3, 4, 5, 1}));
    const char *expected[] = {"hello", "hi", "ab", "abc", "wxyz", ""};
    for (size_t i = 0; i < 6; i++) {
        EXPECT_STREQ(copies[i], expected[i]);
        allocator.record()->release(allocator.record()->context, copies[i]);
    }
    EXPECT_TRUE(buffer.guardsIntact());
    EXPECT_EQ(allocator.liveBlocks(), 0u);
}

TEST(Strings, NullTextOverflowingLengthAndFailedAllocationGiveNull)
{
    CountingAllocator allocator;
    EXPECT_EQ(zubStrdup(allocator.record(), nullptr, 3), nullptr);
    EXPECT_EQ(zubStrdup(allocator.record(), "abc", 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(zubSlowStrdup(allocator.record(), nullptr), nullptr);
    EXPECT_EQ(zubStrndup(allocator.record(), 5, nullptr, 5), nullptr);
    EXPECT_EQ(zubStrndup(allocator.record(), 0xFFFFFFFFu, "abc", 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(allocator.allocations(), 0u);
    allocator.failAfter = 0;
    EXPECT_EQ(zubStrdup(allocator.record(), "abc", 3), nullptr);
    EXPECT_EQ(zubSlowStrdup(allocator.record(), "abc"), nullptr);
    EXPECT_EQ(zubStrndup(allocator.record(), 3, "abc", 3), nullptr);
}
