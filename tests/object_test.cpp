#include <gtest/gtest.h>

#include <cstring>

#include "test_support.h"
#include "zub/object.h"

TEST(Object, RootClassTheAbstractMethodAndStringCopies)
{
    uint32_t object[3] = {1, 2, 3};
    EXPECT_TRUE(zubObjectInitialize() == 0 && zubObjectClass.release(object) == 0 &&
                _zubObjectReleaseSelf(nullptr) == 0 && object[0] == 0xDEADBABEu && object[1] == 2);
    zubtest::DebugCapture capture;
    EXPECT_TRUE(_zubObjectAbstractMethod() == -1 &&
                capture.messages() == std::vector<std::string>{"Abstract method called.\n"} &&
                capture.site(0) == (std::vector<uint32_t>{0x000203E8u, 0, 0}));
    // String copies: a counting record sees the exact sizes; the byte at the
    // length is copied too; a strndup copy stops at its count even without a
    // NUL. No text, an overflowing length or a failed allocation gives null.
    zubtest::GuardedBuffer buffer(4);
    std::memcpy(buffer.data(), "wxyz", 4);
    zubtest::CountingAllocator allocator;
    zubAllocator_t *a = allocator.record();
    const std::pair<char *, const char *> copies[] = {
        {zubStrdup(a, "hello", 5), "hello"},
        {zubSlowStrdup(a, "hi"), "hi"},
        {zubStrndup(a, 2, "abcdef", 10), "ab"},
        {zubStrndup(a, 100, reinterpret_cast<const char *>(buffer.data()), 4), "wxyz"},
        {zubStrndup(a, 0, "abc", 3), ""}};
    EXPECT_TRUE(allocator.sizes == (std::vector<size_t>{6, 3, 3, 5, 1}) && buffer.guardsIntact() &&
                !zubStrdup(a, nullptr, 3) && !zubStrdup(a, "abc", 0xFFFFFFFFu) &&
                !zubSlowStrdup(a, nullptr) && !zubStrndup(a, 5, nullptr, 5) &&
                !zubStrndup(a, 0xFFFFFFFFu, "abc", 0xFFFFFFFFu));
    for (auto [copy, expected] : copies) {
        EXPECT_STREQ(copy, expected);
        a->release(a->context, copy);
    }
    allocator.failAfter = 0;
    EXPECT_TRUE(!zubStrdup(a, "abc", 3) && !zubSlowStrdup(a, "abc") && !zubStrndup(a, 3, "abc", 3));
}
