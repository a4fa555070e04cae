// The representative message of the serialization benchmarks and the
// instruction counts: a header of 8-, 16-, 32- and 64-bit members, a 32-byte
// string, 64 32-bit values and 16 nested items of two integers and a short
// string (598 bytes on the wire). One definition, so that every figure
// measures the same message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "internal/bytes.h"
#include "zub/serialization.h"

namespace bench {

struct Item {
    uint32_t id;
    uint32_t value;
    uint16_t nameLength;
    char *name;
};
struct Msg {
    uint8_t u8;
    uint16_t u16;
    uint32_t u32;
    uint64_t u64;
    uint16_t nameLength;
    char *name;
    uint32_t valueCount;
    uint32_t *values;
    uint8_t itemCount;
    Item *items;
};

constexpr zubEndianInfoEntry_t itemEntries[] = {ZUB_ENTRY_U32(Item, id), ZUB_ENTRY_U32(Item, value),
                                                ZUB_ENTRY_STRING(Item, nameLength, name), ZUB_ENTRY_END};
constexpr zubEndianTable_t itemTable = ZUB_ENDIAN_TABLE(Item, itemEntries);
constexpr zubEndianInfoEntry_t msgEntries[] = {
    ZUB_ENTRY_U8(Msg, u8),
    ZUB_ENTRY_U16(Msg, u16),
    ZUB_ENTRY_U32(Msg, u32),
    ZUB_ENTRY_U64(Msg, u64),
    ZUB_ENTRY_STRING(Msg, nameLength, name),
    ZUB_ENTRY_VAR32(Msg, valueCount, values, 4),
    ZUB_ENTRY_VAR8_TABLE(Msg, itemCount, items, itemTable),
    ZUB_ENTRY_END};
constexpr zubEndianTable_t msgTable = ZUB_ENDIAN_TABLE(Msg, msgEntries);
constexpr size_t kStreamBytes = 1 + 2 + 4 + 8 + 2 + 32 + 4 + 64 * 4 + 1 + 16 * (4 + 4 + 2 + 8);

// The message with its values; `msg` points into the object itself, so it is
// neither copied nor moved.
struct MessageData {
    char name[33] = "a thirty-two byte message name!!";
    uint32_t values[64];
    char itemNames[16][9];
    Item items[16];
    Msg msg;
    MessageData()
    {
        for (uint32_t i = 0; i < 64; ++i) values[i] = i * 0x01010101u;
        for (uint32_t i = 0; i < 16; ++i) {
            std::snprintf(itemNames[i], sizeof itemNames[i], "item-%03u", i);
            items[i] = {i, i * 7u, 8, itemNames[i]};
        }
        msg = {0x12, 0x3456, 0x789ABCDE, 0x0123456789ABCDEFull, 32, name, 64, values, 16, items};
    }
    MessageData(const MessageData &) = delete;
    MessageData &operator=(const MessageData &) = delete;
};

// The practical limit: the same stream by straight-line big-endian stores.
__attribute__((noinline)) inline size_t handEncode(uint8_t *out, const Msg &m)
{
    using namespace zub::detail;
    uint8_t *p = out;
    *p++ = m.u8;
    store_be16(p, m.u16), p += 2;
    store_be32(p, m.u32), p += 4;
    store_be64(p, m.u64), p += 8;
    store_be16(p, m.nameLength), p += 2;
    std::memcpy(p, m.name, m.nameLength), p += m.nameLength;
    store_be32(p, m.valueCount), p += 4;
    for (uint32_t i = 0; i < m.valueCount; ++i, p += 4) store_be32(p, m.values[i]);
    *p++ = m.itemCount;
    for (uint32_t i = 0; i < m.itemCount; ++i) {
        const Item &it = m.items[i];
        store_be32(p, it.id), p += 4;
        store_be32(p, it.value), p += 4;
        store_be16(p, it.nameLength), p += 2;
        std::memcpy(p, it.name, it.nameLength), p += it.nameLength;
    }
    return static_cast<size_t>(p - out);
}

} // namespace bench
