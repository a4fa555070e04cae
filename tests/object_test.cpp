#include <gtest/gtest.h>

#include <cstring>

#include "test_support.h"
#include "zub/object.h"

using zubtest::CountingAllocator;
using zubtest::DebugCapture;

TEST(Object, RootClassRecord)
{
    EXPECT_EQ(zubObjectClass.parent, nullptr);
    EXPECT_STREQ(zubObjectClass.name, "zubObject");
    EXPECT_EQ(zubObjectClass.release, &_zubObjectReleaseSelf);
    EXPECT_EQ(zubObjectInitialize(), 0);
}

TEST(Object, ReleaseSelfMarksOnlyTheFirstWord)
{
    uint32_t object[3] = {1, 2, 3};
    EXPECT_EQ(zubObjectClass.release(object), 0);
    EXPECT_EQ(object[0], 0xDEADBABEu);
    EXPECT_EQ(object[1], 2u);
    EXPECT_EQ(object[2], 3u);
    EXPECT_EQ(_zubObjectReleaseSelf(nullptr), 0);
}

TEST(Object, AbstractMethodWritesItsMessageAtLevel2Class1000)
{
    {
        DebugCapture capture(false);
        EXPECT_EQ(_zubObjectAbstractMethod(), -1);
        EXPECT_TRUE(capture.messages().empty());
        EXPECT_EQ(zubDebugTestCheckCount(), 1u);
    }
    DebugCapture capture(false);
    capture.enable(2, 1000);
    EXPECT_EQ(_zubObjectAbstractMethod(), -1);
    ASSERT_EQ(capture.messages().size(), 1u);
    EXPECT_EQ(capture.messages()[0], "Abstract method called.\n");
    EXPECT_EQ(capture.site(0), (std::vector<uint32_t>{0x000203E8u, 0, 0}));
}

TEST(Strings, StrdupCopiesTheByteAtLengthToo)
{
    char *copy = zubStrdup(nullptr, "abc", 3);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(std::memcmp(copy, "abc", 4), 0);
    free(copy);

    // Length 0 copies the first byte of the text, whatever it is.
    copy = zubStrdup(nullptr, "xyz", 0);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy[0], 'x');
    free(copy);

    // Length 1 of "ab" copies 'a' and 'b' (the byte at the length).
    copy = zubStrdup(ZUB_ALLOCATOR_DEFAULT, "ab", 1);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(std::memcmp(copy, "ab", 2), 0);
    free(copy);
}

TEST(Strings, NullTextAndOverflowingLengthGiveNull)
{
    CountingAllocator allocator;
    EXPECT_EQ(zubStrdup(allocator.record(), nullptr, 3), nullptr);
    EXPECT_EQ(zubStrdup(allocator.record(), "abc", 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(zubSlowStrdup(allocator.record(), nullptr), nullptr);
    EXPECT_EQ(zubStrndup(allocator.record(), 5, nullptr, 5), nullptr);
    EXPECT_EQ(zubStrndup(allocator.record(), 0xFFFFFFFFu, "abc", 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(allocator.allocations(), 0u);
    EXPECT_TRUE(allocator.sizes().empty());
}

TEST(Strings, AllocatorRecordGetsExactSizesAndFailuresGiveNull)
{
    CountingAllocator allocator;
    char *a = zubStrdup(allocator.record(), "hello", 5);
    char *b = zubSlowStrdup(allocator.record(), "hi");
    char *c = zubStrndup(allocator.record(), 2, "abcdef", 10);
    char *d = zubStrndup(allocator.record(), 10, "abcdef", 3);
    ASSERT_TRUE(a && b && c && d);
    EXPECT_EQ(allocator.sizes(), (std::vector<size_t>{6, 3, 3, 4}));
    EXPECT_STREQ(a, "hello");
    EXPECT_STREQ(b, "hi");
    EXPECT_STREQ(c, "ab");
    EXPECT_STREQ(d, "abc");
    for (char *p : {a, b, c, d}) {
        allocator.record()->release(allocator.record()->context, p);
    }
    EXPECT_EQ(allocator.liveBlocks(), 0u);

    allocator.failAfter = 0;
    EXPECT_EQ(zubStrdup(allocator.record(), "abc", 3), nullptr);
    EXPECT_EQ(zubSlowStrdup(allocator.record(), "abc"), nullptr);
    EXPECT_EQ(zubStrndup(allocator.record(), 3, "abc", 3), nullptr);
}

TEST(Strings, StrndupReadsNoFurtherThanItsCount)
{
    // A counted string without a NUL at the end of a guarded block.
    zubtest::GuardedBuffer buffer(4);
    std::memcpy(buffer.data(), "wxyz", 4);
    char *copy = zubStrndup(nullptr, 100, reinterpret_cast<const char *>(buffer.data()), 4);
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "wxyz");
    free(copy);

    copy = zubStrndup(nullptr, 0, "abc", 3);
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "");
    free(copy);
}
