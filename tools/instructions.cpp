// Instruction-count driver: runs one operation N times so that an
// instruction counter (valgrind's callgrind on the host, qemu-user's
// execution trace on ARM) gives a machine-independent cost per operation:
// (total of a run with 2N) - (total of a run with N), divided by N. Both
// runs do the same set-up, and the first calls (lazy binding, cold paths)
// fall in both, so they cancel.
//
//   instructions OPERATION N
//   instructions --list      one line per operation: name, N, what it is
//
// Operations: the representative message of the serialization benchmarks
// through the public interface only (deserialize includes the release and
// the allocator's calls), the bitmask searches on a 2^20-bit mask (sparse:
// one set bit in 100,000; medium: one in 100; dense: one in 2; last: only
// the last bit; next-* count one search per set bit while walking the mask
// from the start), the containers' hot paths, both time conversions and one
// console line. Operations ending in -peer are the practical limit or the
// peer a user would pick, for comparison.
// Prints a checksum so that no work can be optimised away.
#include <time.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "../bench/representative_message.h"
#include "internal/bytes.h"
#include "zub/bitmask.h"
#include "zub/console.h"
#include "zub/ohash.h"
#include "zub/ringbuffer.h"
#include "zub/scattergather.h"
#include "zub/serialization.h"
#include "zub/sortedidlist.h"
#include "zub/vector.h"
#include "zub/zubtime.h"

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

// The set-up runs in both counted runs, so under qemu (one trace line per
// instruction) it must be cheap on a 32-bit core too: level 0 is written
// directly, without zubBitmaskSetBit calls or 64-bit divisions, and the
// levels above follow the documented layout (each holds one bit per
// non-zero word below, topBits the highest level).
uint32_t *levelTable(uint32_t k)
{
    uint32_t *table;
    std::memcpy(&table, reinterpret_cast<const char *>(mask.levelTables) + k * sizeof(uint32_t *), sizeof table);
    return table;
}

// One set bit in each run of oneIn bits, at a random place (0: only the
// last bit).
void makeMask(uint32_t oneIn)
{
    tableMemory = static_cast<uint32_t *>(std::calloc(zubBitmaskGetRequiredSize(kBits) / 4 + 1, 4));
    zubBitmaskInitialize(&mask, kBits, tableMemory);
    uint32_t *level0 = levelTable(0);
    uint32_t s = 0x9E3779B9u;
    auto next = [&s] { return s ^= s << 13, s ^= s >> 17, s ^= s << 5; };
    if (oneIn == 0) {
        level0[kBits / 32 - 1] = 0x80000000u;
    } else if (oneIn == 2) {
        // One bit of each pair: 01 plus 00 or 01 per pair, with no carry.
        for (uint32_t w = 0; w < kBits / 32; ++w) level0[w] = 0x55555555u + (next() & 0x55555555u);
    } else {
        for (uint32_t base = 0; base < kBits; base += oneIn) {
            const uint32_t i = base + static_cast<uint32_t>((uint64_t{next()} * oneIn) >> 32);
            if (i < kBits) level0[i / 32] |= 1u << (i % 32);
        }
    }
    uint32_t words = kBits / 32;
    for (uint32_t w = 0; w < words / 2; ++w) flat[w] = level0[2 * w] | uint64_t{level0[2 * w + 1]} << 32;
    for (uint32_t k = 1; k <= mask.nTables; ++k) {
        const uint32_t *below = levelTable(k - 1);
        for (uint32_t w = 0; w < words; ++w) {
            if (below[w] == 0) continue;
            if (k == mask.nTables) {
                mask.topBits |= 1u << w;
            } else {
                levelTable(k)[w / 32] |= 1u << (w % 32);
            }
        }
        words = (words + 31) / 32;
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

// ---- containers --------------------------------------------------------------

uint64_t mix(uint64_t &s)
{
    s ^= s << 13, s ^= s >> 7, s ^= s << 17;
    return s;
}

// The vector as a FIFO of `depth` elements: one append and one removal per
// operation, as the benchmark's steady-state queue.
template <uint32_t Size> uint64_t vectorFifo(long n)
{
    struct Element {
        uint8_t bytes[Size];
    };
    zubVector_t v;
    const zubVectorParams_t params{nullptr, Size, 0, 0};
    zubVectorInitialize(&v, &params, -1);
    Element item{};
    for (int i = 0; i < 16; ++i) zubVectorInsert(&v, -1, &item);
    uint64_t sum = 0;
    for (long k = 0; k < n; ++k) {
        item.bytes[0] = static_cast<uint8_t>(k);
        zubVectorInsert(&v, -1, &item);
        zubVectorRemove(&v, &item, -1);
        sum += item.bytes[0];
    }
    zubVectorRelease(&v);
    return sum;
}

// The peer: std::deque behind the same two out-of-line calls.
template <class T> __attribute__((noinline)) void dequePush(std::deque<T> &q, const T &item)
{
    q.push_back(item);
}
template <class T> __attribute__((noinline)) void dequePop(std::deque<T> &q, T &item)
{
    item = q.front();
    q.pop_front();
}
template <uint32_t Size> uint64_t dequeFifo(long n)
{
    struct Element {
        uint8_t bytes[Size];
    };
    std::deque<Element> q(16);
    Element item{};
    uint64_t sum = 0;
    for (long k = 0; k < n; ++k) {
        item.bytes[0] = static_cast<uint8_t>(k);
        dequePush(q, item);
        dequePop(q, item);
        sum += item.bytes[0];
    }
    return sum;
}

// Gets of present keys from a list of 1000 random keys.
uint64_t idListGet(long n)
{
    zubSortedIdList_t list;
    const zubSortedIdListParams_t params{nullptr, nullptr, sizeof(uint32_t), 60000, 64};
    zubSortedIdListInitialize(&list, &params);
    uint16_t keys[1000];
    uint64_t s = 0x2545F4914F6CDD1Dull;
    for (uint32_t i = 0; i < 1000;) {
        void *slot = nullptr;
        const auto key = static_cast<uint16_t>(mix(s));
        if (zubSortedIdListPutUnique(&list, &slot, key) == 0) {
            std::memcpy(slot, &i, sizeof i);
            keys[i++] = key;
        }
    }
    uint64_t sum = 0;
    for (long k = 0; k < n; ++k) {
        void *value = nullptr;
        sum += static_cast<uint32_t>(zubSortedIdListGet(&list, &value, keys[k % 1000]));
        sum += *static_cast<const uint8_t *>(value);
    }
    zubSortedIdListRelease(&list);
    return sum;
}

// 64-byte enqueue + dequeue on a 64 KiB ring that starts off its front, so
// that a transfer wraps now and then as in the benchmark.
constexpr uint32_t kRingBytes = 64 * 1024;
uint8_t ringArea[kRingBytes];
uint8_t ringIn[64] = {1, 2, 3};
uint8_t ringOut[64];

uint64_t ringPair(long n)
{
    zubRingBuffer_t ring;
    zubRingBufferInit(&ring, ringArea, kRingBytes);
    zubRingBufferEnqueue(&ring, ringIn, 24);
    zubRingBufferDequeue(&ring, nullptr, 24);
    uint64_t sum = 0;
    for (long k = 0; k < n; ++k) {
        zubRingBufferEnqueue(&ring, ringIn, 64);
        sum += static_cast<uint32_t>(zubRingBufferDequeue(&ring, ringOut, 64)) + ringOut[1];
    }
    return sum;
}

// The peer: memcpy in and out behind the same two out-of-line calls.
__attribute__((noinline)) void copyIn(uint8_t *area, uint32_t &pos, const uint8_t *in, uint32_t n)
{
    std::memcpy(area + pos, in, n);
    pos = pos + n + n > kRingBytes ? 0 : pos + n;
}
__attribute__((noinline)) void copyOut(uint8_t *out, const uint8_t *area, uint32_t pos, uint32_t n)
{
    std::memcpy(out, area + pos, n);
}
uint64_t memcpyPair(long n)
{
    uint32_t pos = 24;
    uint64_t sum = 0;
    for (long k = 0; k < n; ++k) {
        const uint32_t at = pos;
        copyIn(ringArea, pos, ringIn, 64);
        copyOut(ringOut, ringArea, at, 64);
        sum += ringOut[1];
    }
    return sum;
}

// 64 KiB from 16 source blocks of 4 KiB into 16 destination blocks of 4 KiB.
constexpr uint32_t kBlock = 4096;
constexpr uint32_t kBlocks = 16;
uint8_t sgFrom[kBlock * kBlocks];
uint8_t sgTo[kBlock * kBlocks];

uint64_t scatterGatherCopy(long n)
{
    zubScatterGatherEntry_t source[kBlocks];
    zubScatterGatherEntry_t destination[kBlocks];
    for (uint32_t i = 0; i < kBlocks; ++i) {
        source[i] = {sgFrom + i * kBlock, ZUB_SG_WORD(ZUB_SG_KIND_DATA, kBlock)};
        destination[i] = {sgTo + i * kBlock, ZUB_SG_WORD(ZUB_SG_KIND_DATA, kBlock)};
    }
    uint64_t sum = 0;
    for (long k = 0; k < n; ++k) {
        int32_t count = kBlocks;
        sum += zubCopyScatterGather(destination, &count, source, kBlocks, 0, nullptr);
    }
    return sum;
}

// Finds of present 8-byte keys in a map of 4096 entries.
uint64_t hashFind(long n)
{
    struct Entry {
        uint64_t key;
        uint32_t value;
    };
    static Entry entries[4096];
    ohash table;
    zubOHashInit(&table, 4);
    uint64_t s = 0x9E3779B97F4A7C15ull;
    for (uint32_t i = 0; i < 4096; ++i) {
        entries[i] = {mix(s), i};
        zubOHashInsert(&table, &entries[i].key, 8, &entries[i]);
    }
    uint64_t sum = 0;
    for (long k = 0; k < n; ++k) {
        const auto *hit = static_cast<const Entry *>(zubOHashFind(&table, &entries[(k * 7) % 4096].key, 8));
        sum += hit->value;
    }
    ohash_delete(&table);
    return sum;
}

// ---- time -------------------------------------------------------------------

constexpr uint32_t kDates = 1024;

int32_t randomTime(uint64_t &s)
{
    return static_cast<int32_t>(mix(s));
}

uint64_t toBrokenDown(long n, bool libc)
{
    int32_t times[kDates];
    uint64_t s = 20261205;
    for (auto &t : times) t = randomTime(s);
    uint64_t sum = 0;
    struct tm out;
    for (long k = 0; k < n; ++k) {
        const int32_t t = times[k % kDates];
        if (libc) {
            const time_t value = t;
            gmtime_r(&value, &out);
        } else {
            zubTimeConvertCalendarTimeToBrokenDownTime(t, &out);
        }
        sum += static_cast<uint32_t>(out.tm_mday + out.tm_yday);
    }
    return sum;
}

// Valid dates of 1970 to 2037 (what a 32-bit time_t reaches), converted
// in place: a valid record stays as it is.
uint64_t toCalendar(long n, bool libc)
{
    static struct tm dates[kDates];
    uint64_t s = 20261205;
    for (auto &tm : dates) {
        const time_t t = static_cast<time_t>(mix(s) % 0x80000000u);
        gmtime_r(&t, &tm);
    }
    uint64_t sum = 0;
    for (long k = 0; k < n; ++k) {
        struct tm &tm = dates[k % kDates];
        sum += libc ? static_cast<uint64_t>(timegm(&tm)) : zubTimeConvertBrokenDownTimeToCalendarTime(&tm);
    }
    return sum;
}

// ---- console ------------------------------------------------------------------

// n lines through a pipe on descriptor 0 to 16 registered commands. The
// handler of the last line ends the loop (the terminating bit) and wakes
// the main thread, so the thread's work does not depend on timing.
long linesLeft;
int wakeFds[2];

int lineHandler(vklState_t *console, uintptr_t, char **argv, int32_t argc)
{
    if (--linesLeft == 0) {
        console->flags |= VKL_FLAG_TERMINATING;
        const char byte = 0;
        if (write(wakeFds[1], &byte, 1) != 1) std::abort();
    }
    return argc + argv[0][3];
}

uint64_t consoleLines(long n)
{
    if (n == 0) return 0;
    int input[2];
    if (pipe(input) != 0 || pipe(wakeFds) != 0) std::abort();
    // At most 64 KiB of lines: what a pipe takes without a reader.
    char line[32];
    for (long k = 0; k < n && k < 4096; ++k) {
        const int length = std::snprintf(line, sizeof line, "cmd%02ld alpha %ld\n", k % 16, k % 1000);
        if (write(input[1], line, static_cast<size_t>(length)) != length) std::abort();
    }
    close(input[1]);
    dup2(input[0], 0);
    close(input[0]);
    linesLeft = n < 4096 ? n : 4096;
    vklStateConfig_t config = {};
    vklState_t *console = vklStateCreate(&config);
    for (int i = 0; i < 16; ++i) {
        std::snprintf(line, sizeof line, "cmd%02d", i);
        vklAddSimpleCommand(console, line, lineHandler, 0, 0);
    }
    vklStateStart(console);
    char byte;
    if (read(wakeFds[0], &byte, 1) != 1) std::abort();
    vklStateDestroy(console);
    close(wakeFds[0]);
    close(wakeFds[1]);
    return static_cast<uint64_t>(n);
}

// ---- the operations ---------------------------------------------------------

struct Operation {
    const char *name;
    long n; // repetitions for a count: enough to drown the noise, few under qemu
    const char *what;
    uint64_t (*run)(long n);
};

const Operation kOperations[] = {
    {"serialize", 200, "zubSimpleSerializeInto of the representative message (598 bytes)",
     [](long n) {
         uint64_t sum = 0;
         for (long k = 0; k < n; ++k) sum += static_cast<uint32_t>(zubSimpleSerializeInto(stream, 4096, &msgTable, &message));
         return sum;
     }},
    {"serialize-64", 200, "the same through 64-byte buffers (_zubSerializeTableInto per buffer)",
     [](long n) {
         uint64_t sum = 0;
         for (long k = 0; k < n; ++k) sum += serializeInChunks(64);
         return sum;
     }},
    {"serialize-hand-peer", 200, "hand-written straight-line encoder of the same message",
     [](long n) {
         uint64_t sum = 0;
         for (long k = 0; k < n; ++k) sum += handEncode(stream, message);
         return sum;
     }},
    {"deserialize", 200,
     "_zubDeserializeTableFrom in one chunk + _zubDeserMemoryDealloc (19 blocks, malloc/free included)",
     [](long n) {
         uint64_t sum = 0;
         for (long k = 0; k < n; ++k) sum += deserializeAndRelease();
         return sum;
     }},
    {"deserialize-hand-peer", 200, "hand-written decoder, the same 19 blocks, then freed",
     [](long n) {
         uint64_t sum = 0;
         for (long k = 0; k < n; ++k) sum += handDecodeAndFree(stream);
         return sum;
     }},
    {"first-sparse", 2000, "zubBitmaskFindFirstOne, 2^20 bits, one set in 100,000",
     [](long n) {
         makeMask(100000);
         uint64_t sum = 0;
         for (long k = 0; k < n; ++k) sum += static_cast<uint32_t>(zubBitmaskFindFirstOne(&mask));
         return sum;
     }},
    {"first-last", 2000, "zubBitmaskFindFirstOne, 2^20 bits, only the last set",
     [](long n) {
         makeMask(0);
         uint64_t sum = 0;
         for (long k = 0; k < n; ++k) sum += static_cast<uint32_t>(zubBitmaskFindFirstOne(&mask));
         return sum;
     }},
    {"next-sparse", 2000, "zubBitmaskFindNextOne per set bit found, one in 100,000",
     [](long n) { return makeMask(100000), walk(n, true, false); }},
    {"next-medium", 2000, "zubBitmaskFindNextOne per set bit found, one in 100",
     [](long n) { return makeMask(100), walk(n, true, false); }},
    {"next-dense", 2000, "zubBitmaskFindNextOne per set bit found, one in 2",
     [](long n) { return makeMask(2), walk(n, true, false); }},
    {"next-dense-flat-peer", 2000, "flat 64-bit word scan per set bit found, one in 2",
     [](long n) { return makeMask(2), walk(n, true, true); }},
    {"prev-dense", 2000, "zubBitmaskFindPrevOne per set bit found, one in 2",
     [](long n) { return makeMask(2), walk(n, false, false); }},
    {"set-reset", 2000, "zubBitmaskSetBit + zubBitmaskResetBit of one index",
     [](long n) {
         makeMask(100);
         uint64_t sum = 0;
         for (long k = 0; k < n; ++k) {
             const uint32_t i = static_cast<uint32_t>((k * 2654435761u) % kBits);
             sum += static_cast<uint32_t>(zubBitmaskSetBit(&mask, i));
             sum += static_cast<uint32_t>(zubBitmaskResetBit(&mask, i));
         }
         return sum;
     }},
    {"vector-fifo-4", 2000, "zubVectorInsert at the end + zubVectorRemove from the front, 4-byte elements",
     vectorFifo<4>},
    {"vector-fifo-4-peer", 2000, "std::deque push_back + front/pop_front behind two calls, 4-byte elements",
     dequeFifo<4>},
    {"vector-fifo-16", 2000, "zubVectorInsert at the end + zubVectorRemove from the front, 16-byte elements",
     vectorFifo<16>},
    {"vector-fifo-16-peer", 2000, "std::deque push_back + front/pop_front behind two calls, 16-byte elements",
     dequeFifo<16>},
    {"idlist-get", 2000, "zubSortedIdListGet of a present key, 1000 keys", idListGet},
    {"ring-64", 2000, "zubRingBufferEnqueue + zubRingBufferDequeue of 64 bytes", ringPair},
    {"ring-64-peer", 2000, "memcpy in + memcpy out of 64 bytes behind two calls", memcpyPair},
    {"sg-copy", 20, "zubCopyScatterGather of 64 KiB, 16 blocks of 4 KiB on each side", scatterGatherCopy},
    {"hash-find", 2000, "zubOHashFind of a present 8-byte key, 4096 entries", hashFind},
    {"time-broken-down", 2000, "zubTimeConvertCalendarTimeToBrokenDownTime of a random 32-bit time",
     [](long n) { return toBrokenDown(n, false); }},
    {"time-broken-down-peer", 2000, "gmtime_r of the same", [](long n) { return toBrokenDown(n, true); }},
    {"time-calendar", 2000, "zubTimeConvertBrokenDownTimeToCalendarTime of a valid 1970-2037 date",
     [](long n) { return toCalendar(n, false); }},
    {"time-calendar-peer", 2000, "timegm of the same", [](long n) { return toCalendar(n, true); }},
    {"console-line", 200, "one 16-byte command line read, split and dispatched by the console thread",
     consoleLines},
};

int usage()
{
    std::fprintf(stderr, "usage: instructions OPERATION N\n       instructions --list\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--list") == 0) {
        for (const Operation &op : kOperations) std::printf("%s\t%ld\t%s\n", op.name, op.n, op.what);
        return 0;
    }
    if (argc != 3) return usage();
    // Diagnostics sites are still checked, but nothing is written: the
    // console's per-argument messages would otherwise be most of a line.
    setenv("ZUB_DEBUG", "none", 0);
    char *end = nullptr;
    const long n = std::strtol(argv[2], &end, 10);
    if (*end != '\0' || n < 0) return usage();
    if (zubSimpleSerializeInto(stream, sizeof stream, &msgTable, &message) != static_cast<int32_t>(kStreamBytes)) {
        std::fprintf(stderr, "the representative message does not serialize\n");
        return 1;
    }
    for (const Operation &op : kOperations) {
        if (std::strcmp(argv[1], op.name) == 0) {
            std::printf("%s %ld checksum %" PRIu64 "\n", op.name, n, op.run(n));
            std::free(tableMemory);
            return 0;
        }
    }
    return usage();
}
