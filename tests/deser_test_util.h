// Helpers of the deserializer and release tests: a prepared walk, a stream
// builder, and a canonical dump of a filled structure that replaces block
// addresses with their allocation order so that two walks can be compared.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "zub/serialization.h"

namespace deser {

// Big-endian stream builder.
struct Stream {
    std::vector<uint8_t> bytes;
    Stream &be(uint64_t value, int width)
    {
        for (int i = width - 1; i >= 0; --i) {
            bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
        }
        return *this;
    }
    Stream &text(const std::string &t)
    {
        bytes.insert(bytes.end(), t.begin(), t.end());
        return *this;
    }
};

// A traversal record prepared for one walk, with its own stack.
struct Walk {
    zubDeserState_t s;
    std::vector<zubDeserTableState_t> stack;

    Walk(const zubEndianTable_t *table, void *base, const zubAllocator_t *allocator = nullptr,
         uint16_t capacity = ZUB_DESER_DEFAULT_STACK)
        : stack(capacity)
    {
        std::memset(&s, 0, sizeof s);
        s.stack = stack.data();
        s.stackCapacity = capacity;
        s.allocator = allocator;
        s.current.table = table;
        s.current.base = base;
        s.state = ZUB_DIS_START_TABLE;
        _zubDeserStatePushTable(&s);
    }
    Walk(const Walk &) = delete;
    Walk &operator=(const Walk &) = delete;

    int32_t feed(const uint8_t *data, size_t length)
    {
        s.buffer = const_cast<uint8_t *>(data);
        s.bufferLength = static_cast<uint32_t>(length);
        s.bufferPosition = 0;
        return _zubDeserializeTableFrom(&s);
    }
    int32_t feed(const std::vector<uint8_t> &data) { return feed(data.data(), data.size()); }
    // Feeds [from, to) in chunks of `chunk` bytes, stopping at the first
    // call that ends the walk or fails.
    int32_t feedChunks(const std::vector<uint8_t> &data, size_t from, size_t to, size_t chunk)
    {
        int32_t result = 0;
        for (size_t at = from; at < to && s.state < ZUB_DIS_DONE; at += chunk) {
            result = feed(data.data() + at, std::min(chunk, to - at));
        }
        return result;
    }
};

// Records every block handed out, in order, over malloc; optionally fails.
struct TrackingAllocator {
    zubAllocator_t record{this, &alloc, &release};
    std::vector<std::pair<void *, size_t>> blocks;
    long failAfter = -1;
    uint8_t fill = 0;

    static void *alloc(void *context, size_t size, uintptr_t)
    {
        auto *self = static_cast<TrackingAllocator *>(context);
        if (self->failAfter == 0) {
            return nullptr;
        }
        if (self->failAfter > 0) {
            self->failAfter--;
        }
        void *block = std::malloc(size ? size : 1);
        std::memset(block, self->fill, size);
        self->blocks.emplace_back(block, size);
        return block;
    }
    static void release(void *, void *block) { std::free(block); }
    int indexOf(const void *block) const
    {
        for (size_t i = 0; i < blocks.size(); ++i) {
            if (blocks[i].first == block) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
};

inline std::string hexOf(const uint8_t *p, size_t n)
{
    std::string out;
    char item[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(item, sizeof item, "%02x", p[i]);
        out += item;
    }
    return out;
}

// Text form of a structure and everything hanging from it: raw bytes, with
// every data pointer that holds a tracked block replaced by "#n" (its
// allocation order) and the block's contents dumped after the structure.
inline std::string dump(const zubEndianTable_t *table, const uint8_t *base, const TrackingAllocator &blocks)
{
    std::vector<uint8_t> raw(base, base + table->size);
    std::string nested;
    for (const zubEndianInfoEntry_t *e = table->entries; !ZUB_ENDIAN_IS_END(e); ++e) {
        const unsigned kind = ZUB_ENDIAN_KIND(e);
        if (kind == ZUB_DESER_TYPE_TABLE) {
            // The nested structure is dumped on its own (its pointers replaced).
            nested += "{" + dump(e->argument.table, base + e->memberOffset, blocks) + "}";
            const size_t end = std::min<size_t>(raw.size(), e->memberOffset + size_t{e->argument.table->size});
            std::fill(raw.begin() + std::min<size_t>(raw.size(), e->memberOffset), raw.begin() + end, 0);
            continue;
        }
        if (kind != 6 && kind != 7 && kind != 9 && kind != 10) {
            continue;
        }
        const ptrdiff_t at = e->memberOffset + static_cast<ptrdiff_t>(ZUB_ENDIAN_POINTER_OFFSET(e)) - 1024;
        void *pointer;
        std::memcpy(&pointer, base + at, sizeof pointer);
        const int n = blocks.indexOf(pointer);
        if (n < 0) {
            continue;
        }
        std::memset(raw.data() + at, 0, sizeof pointer);
        raw[static_cast<size_t>(at)] = static_cast<uint8_t>(n);
        const auto *block = static_cast<const uint8_t *>(pointer);
        const size_t size = blocks.blocks[static_cast<size_t>(n)].second;
        nested += " #" + std::to_string(n) + "[";
        if (ZUB_ENDIAN_ARGUMENT_IS_TABLE(e)) {
            const zubEndianTable_t *element = e->argument.table;
            for (size_t i = 0; element->size && i < size / element->size; ++i) {
                nested += "(" + dump(element, block + i * element->size, blocks) + ")";
            }
        } else {
            nested += hexOf(block, size);
        }
        nested += "]";
    }
    return hexOf(raw.data(), raw.size()) + nested;
}

// A pointer as region:offset: region 0 is the top-level structure, n > 0
// the block n - 1. One below a region's start reads as offset -1 (the
// cursor below an integer's first byte).
inline std::string where(const void *pointer, const void *top, size_t topSize, const TrackingAllocator &blocks)
{
    if (pointer == nullptr) {
        return "null";
    }
    const auto p = reinterpret_cast<uintptr_t>(pointer);
    auto inside = [p](const void *start, size_t size) {
        const auto s = reinterpret_cast<uintptr_t>(start);
        return p + 1 >= s && p <= s + size;
    };
    auto text = [p](size_t region, const void *start) {
        return std::to_string(region) + ":" +
               std::to_string(static_cast<long>(p - reinterpret_cast<uintptr_t>(start)));
    };
    if (inside(top, topSize)) {
        return text(0, top);
    }
    for (size_t i = 0; i < blocks.blocks.size(); ++i) {
        if (inside(blocks.blocks[i].first, blocks.blocks[i].second)) {
            return text(i + 1, blocks.blocks[i].first);
        }
    }
    return "?";
}

inline std::string tableStateText(const zubDeserTableState_t &t, const void *top, size_t topSize,
                                  const TrackingAllocator &blocks)
{
    return "t=" + std::to_string(reinterpret_cast<uintptr_t>(t.table)) +
           " e=" + std::to_string(reinterpret_cast<uintptr_t>(t.entry)) + " c=" + std::to_string(t.count) +
           " i=" + std::to_string(t.index) + " m=" + std::to_string(t.multiplicity) +
           " b=" + where(t.base, top, topSize, blocks);
}

// Every field of the record except the chunk and its position, pointers
// in `where` form, and the stack records in use.
inline std::string recordText(const zubDeserState_t &s, const void *top, size_t topSize,
                              const TrackingAllocator &blocks)
{
    std::string out = "state=" + std::to_string(s.state) + " next=" + std::to_string(s.nextState) +
                      " done=" + std::to_string(s.bytesOfMemberDone) +
                      " total=" + std::to_string(s.totalBytesOfMember) +
                      " depth=" + std::to_string(s.stackDepth) + " err=" + std::to_string(s.errorCode) +
                      " bytes=" + std::to_string(s.totalBytes) +
                      " src=" + where(s.srcval, top, topSize, blocks) + " cur[" +
                      tableStateText(s.current, top, topSize, blocks) + "]";
    for (uint16_t i = 0; i < s.stackDepth; ++i) {
        out += " [" + tableStateText(s.stack[i], top, topSize, blocks) + "]";
    }
    return out;
}

} // namespace deser
