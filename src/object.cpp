// Object root and string duplication.
#include "zub/object.h"

#include <cstring>

#include "internal/alloc.h"
#include "internal/diag.h"

namespace {

// Copies `copied` bytes into a new block of copied + 1 bytes whose last
// byte is `last`. copied is below 0xFFFFFFFF, so the size fits 32 bits.
char *duplicate(const zubAllocator_t *allocator, const char *text, uint32_t copied,
                bool copyLastFromText)
{
    auto *copy =
        static_cast<char *>(zub::detail::allocate(allocator, static_cast<uint64_t>(copied) + 1));
    if (copy == nullptr) {
        return nullptr;
    }
    std::memcpy(copy, text, copyLastFromText ? copied + 1u : copied);
    if (!copyLastFromText) {
        copy[copied] = '\0';
    }
    return copy;
}

} // namespace

extern "C" {

const zubClass_t zubObjectClass = {nullptr, "zubObject", _zubObjectReleaseSelf};

int32_t zubObjectInitialize(void)
{
    return 0;
}

int32_t _zubObjectReleaseSelf(void *object)
{
    if (object != nullptr) {
        const uint32_t marker = ZUB_OBJECT_RELEASED;
        std::memcpy(object, &marker, sizeof marker);
    }
    return 0;
}

int32_t _zubObjectAbstractMethod(void)
{
    ZUB_DIAG(2, 1000, 0, "Abstract method called.\n");
    return -1;
}

char *zubStrdup(const zubAllocator_t *allocator, const char *text, uint32_t length)
{
    if (text == nullptr || length == UINT32_MAX) {
        return nullptr;
    }
    return duplicate(allocator, text, length, true);
}

char *zubSlowStrdup(const zubAllocator_t *allocator, const char *text)
{
    if (text == nullptr) {
        return nullptr;
    }
    const size_t length = std::strlen(text);
    if (length >= UINT32_MAX) {
        return nullptr;
    }
    return zubStrdup(allocator, text, static_cast<uint32_t>(length));
}

char *zubStrndup(const zubAllocator_t *allocator, uint32_t limit, const char *text, uint32_t length)
{
    const uint32_t n = limit < length ? limit : length;
    if (text == nullptr || n == UINT32_MAX) {
        return nullptr;
    }
    return duplicate(allocator, text, n, false);
}

} // extern "C"
