// Instruction-count driver: runs one operation N times so that an
// instruction counter (valgrind --tool=callgrind) gives a machine-independent
// cost per operation: (total of a run with N) - (total of a run with 0),
// divided by N. Both runs do the same set-up, so it cancels.
//
//   instructions OPERATION N
//
// Operations: the representative message of the serialization benchmarks
// (serialize, serialize-64, serialize-hand, deserialize, deserialize-hand;
// deserialize includes the release and the allocator's calls) and the
// bitmask searches on a 2^20-bit mask (first-sparse, first-last,
// next-sparse, next-medium, next-dense, next-dense-flat, prev-dense,
// set-reset). Sparse: one set bit in 100,000; medium: one in 100; dense:
// one in 2; last: only the last bit. next-* count one call of the search
// per set bit while walking the mask from the start.
// Prints a checksum so that no work can be optimised away.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../bench/representative_message.h"
#include "internal/bytes.h"
#include "zub/bitmask.h"
#include "zub/serialization.h"

namespace {

// ---- the representative message of the serialization benchmarks -----------

using namespace bench;

MessageData messageData;
Msg &message = messageData.msg;
uint8_t stream[4096];

// The hand-written decoder's work for the well-formed stream: the same
// blocks as the deserializer, then freed.
__attribute__((noinline)) uint32_t handDecodeAndFree(const uint8_t *p)
{
    using namespace zub::detail;
    Msg m{};
    m.u8 = *p++;
    m.u16 = load_be16(p), p += 2;
    m.u32 = load_be32(p), p += 4;
    m.u64 = load_be64(p), p += 8;
    m.nameLength = load_be16(p), p += 2;
    m.name = static_cast<char *>(std::malloc(m.nameLength));
    std::memcpy(m.name, p, m.nameLength), p += m.nameLength;
    m.valueCount = load_be32(p), p += 4;
    m.values = static_cast<uint32_t *>(std::malloc(m.valueCount * 4u));
    for (uint32_t i = 0; i < m.valueCount; ++i, p += 4) m.values[i] = load_be32(p);
    m.itemCount = *p++;
    m.items = static_cast<Item *>(std::calloc(m.itemCount, sizeof(Item)));
    for (uint32_t i = 0; i < m.itemCount; ++i) {
        Item &it = m.items[i];
        it.id = load_be32(p), p += 4;
        it.value = load_be32(p), p += 4;
        it.nameLength = load_be16(p), p += 2;
        it.name = static_cast<char *>(std::malloc(it.nameLength));
        std::memcpy(it.name, p, it.nameLength), p += it.nameLength;
    }
    const uint32_t check = m.items[m.itemCount - 1].id + m.values[1];
    for (uint32_t i = 0; i < m.itemCount; ++i) std::free(m.items[i].name);
    std::free(m.items);
    std::free(m.values);
    std::free(m.name);
    return check;
}

uint32_t deserializeAndRelease()
{
    zubDeserTableState_t stack[4];
    zubDeserState_t s;
    std::memset(&s, 0, sizeof s);
    s.stack = stack;
    s.stackCapacity = 4;
    Msg m{};
    s.current.table = &msgTable;
    s.current.base = &m;
    _zubDeserStatePushTable(&s);
    s.buffer = stream;
    s.bufferLength = kStreamBytes;
    _zubDeserializeTableFrom(&s);
    const uint32_t check = s.state == ZUB_DIS_DONE ? m.items[15].id + m.values[1] : 0;
    _zubDeserMemoryDealloc(&msgTable, &m, 2);
    return check;
}

uint32_t serializeInChunks(uint32_t chunk)
{
    zubDeserTableState_t stack[4];
    zubDeserState_t s;
    std::memset(&s, 0, sizeof s);
    s.stack = stack;
    s.stackCapacity = 4;
    s.current.table = &msgTable;
    s.current.base = &message;
    _zubDeserStatePushTable(&s);
    while (s.state < ZUB_SIS_DONE) {
        s.buffer = stream;
        s.bufferLength = chunk;
        s.bufferPosition = 0;
        if (_zubSerializeTableInto(&s) != 0) break;
    }
    return s.totalBytes;
}

// ---- bitmask ---------------------------------------------------------------

constexpr uint32_t kBits = 1u << 20;
uint32_t *tableMemory;
zubBitmask_t mask;
uint64_t flat[kBits / 64];

void makeMask(uint32_t oneIn)
{
    tableMemory = static_cast<uint32_t *>(std::calloc(zubBitmaskGetRequiredSize(kBits) / 4 + 1, 4));
    zubBitmaskInitialize(&mask, kBits, tableMemory);
    uint64_t s = 0x9E3779B97F4A7C15ull;
    auto add = [](uint32_t i) {
        zubBitmaskSetBit(&mask, i);
        flat[i >> 6] |= uint64_t{1} << (i & 63);
    };
    if (oneIn == 0) {
        add(kBits - 1);
        return;
    }
    for (uint32_t base = 0; base < kBits; base += oneIn) {
        s ^= s << 13, s ^= s >> 7, s ^= s << 17;
        const uint32_t i = base + static_cast<uint32_t>(s % oneIn);
        if (i < kBits) add(i);
    }
}

// A plain bitmap scanned one 64-bit word at a time.
__attribute__((noinline)) int32_t flatNext(uint32_t start)
{
    size_t w = start >> 6;
    uint64_t v = flat[w] & (~uint64_t{0} << (start & 63));
    while (v == 0) {
        if (++w == kBits / 64) return -1;
        v = flat[w];
    }
    return static_cast<int32_t>((w << 6) + static_cast<size_t>(__builtin_ctzll(v)));
}

// N searches walking the set bits from the start, wrapping at the end.
uint64_t walk(long n, bool forward, bool useFlat)
{
    uint64_t sum = 0;
    int64_t from = forward ? 0 : kBits - 1;
    for (long k = 0; k < n; ++k) {
        const int32_t p = forward ? (useFlat ? flatNext(static_cast<uint32_t>(from))
                                             : zubBitmaskFindNextOne(&mask, static_cast<uint32_t>(from)))
                                  : zubBitmaskFindPrevOne(&mask, static_cast<uint32_t>(from));
        sum += static_cast<uint32_t>(p);
        from = forward ? p + 1 : p - 1;
        if (p < 0 || from < 0 || from >= kBits) from = forward ? 0 : kBits - 1;
    }
    return sum;
}

int usage()
{
    std::fprintf(stderr,
                 "usage: instructions OPERATION N\n"
                 "operations: serialize serialize-64 serialize-hand deserialize deserialize-hand\n"
                 "            first-sparse first-last next-sparse next-medium next-dense\n"
                 "            next-dense-flat prev-dense set-reset\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) return usage();
    const char *op = argv[1];
    char *end = nullptr;
    const long n = std::strtol(argv[2], &end, 10);
    if (*end != '\0' || n < 0) return usage();
    auto is = [op](const char *name) { return std::strcmp(op, name) == 0; };
    uint64_t sum = 0;

    if (zubSimpleSerializeInto(stream, sizeof stream, &msgTable, &message) != static_cast<int32_t>(kStreamBytes)) {
        std::fprintf(stderr, "the representative message does not serialize\n");
        return 1;
    }
    if (is("serialize")) {
        for (long k = 0; k < n; ++k) sum += static_cast<uint32_t>(zubSimpleSerializeInto(stream, 4096, &msgTable, &message));
    } else if (is("serialize-64")) {
        for (long k = 0; k < n; ++k) sum += serializeInChunks(64);
    } else if (is("serialize-hand")) {
        for (long k = 0; k < n; ++k) sum += handEncode(stream, message);
    } else if (is("deserialize")) {
        for (long k = 0; k < n; ++k) sum += deserializeAndRelease();
    } else if (is("deserialize-hand")) {
        for (long k = 0; k < n; ++k) sum += handDecodeAndFree(stream);
    } else if (is("first-sparse") || is("first-last")) {
        makeMask(is("first-sparse") ? 100000 : 0);
        for (long k = 0; k < n; ++k) sum += static_cast<uint32_t>(zubBitmaskFindFirstOne(&mask));
    } else if (is("next-sparse") || is("next-medium") || is("next-dense") || is("next-dense-flat")) {
        makeMask(is("next-sparse") ? 100000 : is("next-medium") ? 100 : 2);
        sum = walk(n, true, is("next-dense-flat"));
    } else if (is("prev-dense")) {
        makeMask(2);
        sum = walk(n, false, false);
    } else if (is("set-reset")) {
        makeMask(100);
        for (long k = 0; k < n; ++k) {
            const uint32_t i = static_cast<uint32_t>((k * 2654435761u) % kBits);
            sum += static_cast<uint32_t>(zubBitmaskSetBit(&mask, i));
            sum += static_cast<uint32_t>(zubBitmaskResetBit(&mask, i));
        }
    } else {
        return usage();
    }
    std::printf("%s %ld checksum %" PRIu64 "\n", op, n, sum);
    std::free(tableMemory);
    return 0;
}
