// A text form of a deserializer walk's record and structure in which block
// addresses are replaced by their allocation order, so that two walks of
// the same stream can be compared byte for byte.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "zub/serialization.h"

namespace zubfuzz {

// Blocks handed out during a walk, in order, with their sizes.
using Blocks = std::vector<std::pair<void *, size_t>>;

// The structure's bytes with each data pointer that holds a noted block
// replaced by its number, then each such block's contents (element by
// element for arrays of structures); nested structures dumped on their own.
inline std::string dump(const zubEndianTable_t *table, const uint8_t *base, const Blocks &blocks)
{
    auto hexOf = [](const uint8_t *p, size_t n) { // digits only: no test helpers here
        std::string out;
        for (size_t i = 0; i < n; ++i)
            out += "0123456789abcdef"[p[i] >> 4], out += "0123456789abcdef"[p[i] & 15];
        return out;
    };
    std::vector<uint8_t> raw(base, base + table->size);
    std::string nested;
    for (const zubEndianInfoEntry_t *e = table->entries; !ZUB_ENDIAN_IS_END(e); ++e) {
        const unsigned kind = ZUB_ENDIAN_KIND(e);
        if (kind == ZUB_DESER_TYPE_TABLE) {
            nested.append("{")
                .append(dump(e->argument.table, base + e->memberOffset, blocks))
                .append("}");
            const size_t from = std::min<size_t>(raw.size(), e->memberOffset);
            std::fill(raw.begin() + from,
                      raw.begin() + std::min(raw.size(), from + e->argument.table->size), 0);
            continue;
        }
        if (kind != 6 && kind != 7 && kind != 9 && kind != 10)
            continue;
        const ptrdiff_t at =
            e->memberOffset + static_cast<ptrdiff_t>(ZUB_ENDIAN_POINTER_OFFSET(e)) - 1024;
        void *pointer;
        std::memcpy(&pointer, base + at, sizeof pointer);
        const auto found = std::find_if(blocks.begin(), blocks.end(),
                                        [pointer](const auto &b) { return b.first == pointer; });
        if (found == blocks.end())
            continue;
        const auto n = found - blocks.begin();
        std::memset(raw.data() + at, 0, sizeof pointer);
        raw[static_cast<size_t>(at)] = static_cast<uint8_t>(n);
        const auto *block = static_cast<const uint8_t *>(pointer);
        const size_t size = found->second;
        nested.append(" #").append(std::to_string(n)).append("[");
        const zubEndianTable_t *element =
            ZUB_ENDIAN_ARGUMENT_IS_TABLE(e) ? e->argument.table : nullptr;
        for (size_t i = 0; element && element->size && i < size / element->size; ++i) {
            nested.append("(").append(dump(element, block + i * element->size, blocks)).append(")");
        }
        nested += element ? "]" : hexOf(block, size) + "]";
    }
    return hexOf(raw.data(), raw.size()) + nested;
}

// A pointer as region:offset: region 0 is the top-level structure, n the
// block n - 1; one below a region's start (the cursor below an integer's
// first byte) is offset -1.
inline std::string where(const void *pointer, const void *top, size_t topSize, const Blocks &blocks)
{
    const auto p = reinterpret_cast<uintptr_t>(pointer);
    auto in = [p](const void *start, size_t size, size_t region) {
        const auto s = reinterpret_cast<uintptr_t>(start);
        return p + 1 >= s && p <= s + size
                   ? std::to_string(region) + ":" + std::to_string(long(p - s))
                   : "";
    };
    std::string found = pointer == nullptr ? "null" : in(top, topSize, 0);
    for (size_t i = 0; found.empty() && i < blocks.size(); ++i) {
        found = in(blocks[i].first, blocks[i].second, i + 1);
    }
    return found.empty() ? "?" : found;
}

// Every field of the record but the chunk, and the stack records in use.
inline std::string recordText(const zubDeserState_t &s, const void *top, size_t topSize,
                              const Blocks &blocks)
{
    auto level = [&](const zubDeserTableState_t &t) {
        return std::string(" [") + std::to_string(reinterpret_cast<uintptr_t>(t.table)) + " " +
               std::to_string(reinterpret_cast<uintptr_t>(t.entry)) + " " +
               std::to_string(t.count) + " " + std::to_string(t.index) + " " +
               std::to_string(t.multiplicity) + " " + where(t.base, top, topSize, blocks) + "]";
    };
    std::string out = std::to_string(s.state) + " " + std::to_string(s.nextState) + " " +
                      std::to_string(s.bytesOfMemberDone) + "/" +
                      std::to_string(s.totalBytesOfMember) + " " + std::to_string(s.stackDepth) +
                      " " + std::to_string(s.errorCode) + " " + std::to_string(s.totalBytes) + " " +
                      where(s.srcval, top, topSize, blocks) + level(s.current);
    for (uint16_t i = 0; i < s.stackDepth; ++i)
        out += level(s.stack[i]);
    return out;
}

} // namespace zubfuzz
