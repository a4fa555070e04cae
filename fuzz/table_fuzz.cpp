// Fuzz target: hostile tables. The input describes the type description
// tables as well as the data, so the walkers meet entries, atom sizes,
// counts, nestings and table ends that no fixed table of ours has.
//
// Tables. Up to four, built last to first: table i nests (TABLE entry) only
// tables after it or itself at offset 0 (a structure that contains itself,
// by mistake or malice), and names any table, itself included, as the
// element of a counted array. Entries are of every kind, valid and invalid,
// with valid and invalid atom sizes, modifiers, and ends in odd places; the
// layouts are ones a caller could write: every member inside the
// structure's size (up to its last byte), members not overlapping one
// another, naturally aligned or packed. Tables are code, so no garbage
// pointer is ever fed.
//
// Walks, each with a stack of 1 to 12 records:
//   1. a generated value serialized in buffers of random sizes, then in one
//      buffer: the same result and the same bytes;
//   2. when that completed, the stream deserialized in random chunks with
//      the default allocator, and for tables without invalid entries or
//      limits serialized again: the same stream (a round trip);
//   3. the rest of the input deserialized as a hostile stream, in random
//      chunks, with the default allocator; the walk may fail or be
//      abandoned half way;
//   4. each deserialized structure converted to the other byte order and
//      back (in place: the bytes come back), then released, with a random
//      depth limit after the hostile walk.
// Oracle: no sanitizer report; guard bytes around every structure and
// buffer intact; results and states as documented (a call that returns
// unfinished has used its whole buffer or chunk, so no walk can hang); no
// block freed twice or foreign pointer freed, and after a complete walk
// every block released (BlockLog). Blocks a release does not reach after a
// failed or abandoned walk, or with a small depth limit, are freed here.
#include <execinfo.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "block_tracker.h"
#include "fuzz_input.h"
#include "zub/serialization.h"

namespace {

// A table that contains itself describes a structure that holds itself:
// its nested member lies over every other member, a layout no caller can
// write. The serializer and deserializer stop such a table at their depth
// limit, and the byte-order conversion passes over the nested entry. What
// the deserializer hangs at one level it replaces at the next, leaving the
// earlier blocks unreachable, so such structures are not released through
// the library: their blocks are freed here.

constexpr size_t kMaxTables = 4;
constexpr size_t kMaxEntries = 10;
constexpr size_t kMaxSize = 4096; // keeps offsets and nestings small
constexpr uint16_t kMaxStack = 12;
constexpr size_t kSourceBudget = 1u << 14; // bytes of blocks in a generated value
constexpr size_t kGuard = 16;
constexpr uint8_t kGuardByte = 0xA5;
constexpr uint8_t kEarlyEnd = 0xFF; // a terminator before the last entry

struct Table {
    zubEndianTable_t table;
    zubEndianInfoEntry_t entries[kMaxEntries + 1];
};

struct Tables {
    Table t[kMaxTables];
    size_t n = 0;
    bool invalid = false; // an invalid entry or atom size somewhere
    bool limits = false;  // a modifier that limits a count
    bool containsItself = false;
};

size_t alignUp(size_t value, size_t alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}

// Entry kinds as drawn: valid kinds more often than the invalid ones.
constexpr uint8_t kKinds[] = {1, 2,  3, 4, 6, 7,  8,  9, 10, 11, 1,  2,  3, 4,  6,         7,
                              9, 10, 3, 6, 9, 15, 15, 0, 5,  12, 13, 14, 4, 11, kEarlyEnd, 7};
constexpr uint8_t kAtoms[] = {1, 2, 4, 8};

bool validAtom(uintptr_t size)
{
    return size == 1 || size == 2 || size == 4 || size == 8;
}

// Lays members out one after another in a structure under construction.
struct Layout {
    zubfuzz::Input &in;
    bool packed; // no alignment, as in a packed structure
    bool gaps;   // unused bytes between members
    size_t cursor = 0;
    size_t alignment = 1;

    // Offset of a new member of `width` bytes, or kMaxSize when it does not fit.
    size_t place(size_t width, size_t natural)
    {
        const size_t a = packed ? 1 : natural;
        const size_t at = alignUp(cursor + (gaps ? in.small(4) : 0), a);
        if (at + width > kMaxSize) {
            return kMaxSize;
        }
        alignment = std::max(alignment, a);
        cursor = at + width;
        return at;
    }
};

zubEndianInfoEntry_t entryOf(size_t offset, unsigned kind, unsigned high12, uintptr_t argument)
{
    return ZUB_ENTRY_RAW(offset, ZUB_ENDIAN_PACK(kind, high12), argument);
}

// One entry of table i; false when it does not fit the structure.
bool generateEntry(zubfuzz::Input &in, Tables &ts, size_t i, Layout &layout,
                   zubEndianInfoEntry_t &entry, bool pointerFirst, bool noisyHighBits)
{
    const uint8_t kind = kKinds[in.small(sizeof kKinds)];
    switch (kind) {
    case 1:
    case 2:
    case 4:
    case 8: {
        const size_t at = layout.place(kind, kind);
        entry = entryOf(at, kind, noisyHighBits ? in.u16() : 0, 0);
        return at != kMaxSize;
    }
    case 3: {
        const uint8_t pick = in.u8();
        if (pick % 4 == 0) { // contains itself, over its own bytes
            entry = entryOf(0, 3, 0, reinterpret_cast<uintptr_t>(&ts.t[i].table));
            ts.containsItself = true;
            return true;
        }
        if (pick % 4 == 1 || i + 1 == ts.n) { // an argument that is no table
            entry = entryOf(in.small(static_cast<uint32_t>(layout.cursor + 1)), 3, 0, pick >> 4);
            ts.invalid = true;
            return true;
        }
        const Table &nested = ts.t[i + 1 + (pick >> 2) % (ts.n - i - 1)];
        const size_t at = layout.place(nested.table.size, alignof(uint64_t));
        entry = entryOf(at, 3, 0, reinterpret_cast<uintptr_t>(&nested.table));
        return at != kMaxSize;
    }
    case 6:
    case 7:
    case 9:
    case 10: {
        const size_t width = kind == 6 ? 1 : kind == 9 ? 4 : 2;
        size_t count;
        size_t pointer;
        if (pointerFirst) {
            pointer = layout.place(sizeof(void *), alignof(void *));
            count = layout.place(width, width);
        } else {
            count = layout.place(width, width);
            pointer = layout.place(sizeof(void *), alignof(void *));
        }
        const uint8_t pick = in.u8();
        uintptr_t argument;
        if (pick % 8 < 4 || (kind == 10 && pick % 8 < 6)) {
            argument = kind == 10 && pick % 8 >= 4 ? 1 : kAtoms[pick % 4];
        } else if (pick % 8 == 4) {
            argument = (pick >> 3) % 16;
            ts.invalid |= !validAtom(argument);
        } else {
            argument = reinterpret_cast<uintptr_t>(&ts.t[(pick >> 3) % ts.n].table);
        }
        entry = entryOf(count, kind, static_cast<unsigned>(pointer + 1024 - count), argument);
        return count != kMaxSize && pointer != kMaxSize;
    }
    case 11: {
        const uint8_t pick = in.u8();
        const unsigned fixed = pick & 0x80 ? in.small(64) : in.small(9);
        if (pick % 8 == 6) { // a table as the atom: invalid, nothing inline
            entry = entryOf(in.small(static_cast<uint32_t>(layout.cursor + 1)), 11, fixed,
                            reinterpret_cast<uintptr_t>(&ts.t[i].table));
            ts.invalid = true;
            return true;
        }
        const uintptr_t atom = pick % 8 < 4 ? kAtoms[pick % 4] : (pick >> 3) % 16;
        ts.invalid |= !validAtom(atom);
        const size_t at =
            layout.place(fixed * std::max<size_t>(atom, 1), std::clamp<size_t>(atom, 1, 8));
        entry = entryOf(at, 11, fixed, atom);
        return at != kMaxSize;
    }
    case 15: {
        const uint8_t pick = in.u8();
        // A limit of all ones ends the table for the walkers (not for the
        // byte-order conversion); high bits make the entry do nothing.
        const uintptr_t limit = pick & 0x40 ? 0xFFFFFFFFu : pick % 6;
        const unsigned high = pick & 0x80 ? 1 + in.small(15) : 0;
        ts.limits |= high == 0 && limit != 0xFFFFFFFFu;
        entry = entryOf(0, 15, high, limit);
        return true;
    }
    case kEarlyEnd: entry = ZUB_ENTRY_END; return true;
    default: // 0 (the byte-order conversion's end), 5, 12, 13, 14
        entry = entryOf(in.small(static_cast<uint32_t>(layout.cursor + 1)), kind, in.u16(),
                        in.small(16));
        ts.invalid = true;
        return true;
    }
}

void generate(zubfuzz::Input &in, Tables &ts)
{
    ts.n = 1 + in.small(kMaxTables);
    for (size_t i = ts.n; i-- > 0;) {
        Table &t = ts.t[i];
        const uint8_t flags = in.u8();
        Layout layout{in, (flags & 1) != 0, (flags & 2) != 0};
        const size_t wanted = in.small(kMaxEntries + 1);
        size_t n = 0;
        for (size_t e = 0; e < wanted; ++e) {
            n += generateEntry(in, ts, i, layout, t.entries[n], (flags & 4) != 0, (flags & 8) != 0);
        }
        t.entries[n] = ZUB_ENTRY_END;
        size_t size = layout.cursor + in.small(8);
        if (!layout.packed) {
            size = alignUp(size, layout.alignment);
        }
        t.table.size = static_cast<uint32_t>(std::max<size_t>(size, 1));
        t.table.entries = t.entries;
    }
}

// Prints the tables (ZUB_FUZZ_DESCRIBE set), to write a failing input's
// tables down.
bool describeTables = false;

void describe(const Tables &ts, uint16_t capacity, int32_t maxDepth)
{
    std::fprintf(stderr, "stack %u records, release maxDepth %d\n", capacity, maxDepth);
    for (size_t i = 0; i < ts.n; ++i) {
        std::fprintf(stderr, "table %zu: size %u\n", i, ts.t[i].table.size);
        for (const zubEndianInfoEntry_t *e = ts.t[i].entries;; ++e) {
            const uintptr_t argument = e->argument.value;
            size_t named = kMaxTables;
            for (size_t j = 0; j < ts.n; ++j) {
                named = argument == reinterpret_cast<uintptr_t>(&ts.t[j].table) ? j : named;
            }
            std::fprintf(stderr, "  offset %u kind %u high %u pointer at %d argument ",
                         e->memberOffset, ZUB_ENDIAN_KIND(e), ZUB_ENDIAN_FIXED_COUNT(e),
                         static_cast<int>(e->memberOffset + ZUB_ENDIAN_POINTER_OFFSET(e)) - 1024);
            if (named < kMaxTables) {
                std::fprintf(stderr, "table %zu\n", named);
            } else {
                std::fprintf(stderr, "%#llx\n", static_cast<unsigned long long>(argument));
            }
            if (ZUB_ENDIAN_KIND(e) == 0 &&
                (ZUB_ENDIAN_IS_END(e) || e == ts.t[i].entries + kMaxEntries)) {
                break;
            }
        }
    }
}

// A structure or buffer with guard bytes on both sides; zero-filled.
struct Guarded {
    std::vector<uint8_t> bytes;
    size_t size;

    explicit Guarded(size_t n) : bytes(n + 2 * kGuard, kGuardByte), size(n)
    {
        std::memset(data(), 0, n);
    }
    uint8_t *data() { return bytes.data() + kGuard; }
    bool intact() const
    {
        for (size_t i = 0; i < kGuard; ++i) {
            if (bytes[i] != kGuardByte || bytes[kGuard + size + i] != kGuardByte) {
                return false;
            }
        }
        return true;
    }
};

// Buffer and chunk lengths in turn from three input bytes (never all 0).
struct Chunks {
    uint8_t lengths[3];
    unsigned turn = 0;
    size_t fixed = 0; // when not 0: always this length

    explicit Chunks(zubfuzz::Input &in) : lengths{in.u8(), in.u8(), in.u8()}
    {
        lengths[0] |= lengths[1] | lengths[2] ? 0 : 1;
    }
    explicit Chunks(size_t length) : lengths{}, fixed(length) {}
    size_t next() { return fixed != 0 ? fixed : lengths[turn++ % 3]; }
};

struct Rng {
    uint64_t state;
    uint32_t next()
    {
        state = state * 6364136223846793005u + 1442695040888963407u;
        return static_cast<uint32_t>(state >> 33);
    }
};

unsigned countWidth(unsigned kind)
{
    return kind == 6 ? 1 : kind == 9 ? 4 : 2;
}

uint8_t *pointerField(uint8_t *base, const zubEndianInfoEntry_t *e)
{
    return base + e->memberOffset + ZUB_ENDIAN_POINTER_OFFSET(e) - 1024;
}

// A value for the serializer, its blocks from malloc (noted in `blocks`),
// at most `budget` bytes of them, so its stream stays short.
void fill(const zubEndianTable_t *table, uint8_t *base, unsigned depth, Rng &rng,
          std::vector<void *> &blocks, size_t &budget)
{
    for (const zubEndianInfoEntry_t *e = table->entries; !ZUB_ENDIAN_IS_END(e); ++e) {
        const unsigned kind = ZUB_ENDIAN_KIND(e);
        uint8_t *member = base + e->memberOffset;
        const bool toTable = ZUB_ENDIAN_ARGUMENT_IS_TABLE(e);
        if (kind == 1 || kind == 2 || kind == 4 || kind == 8) {
            for (unsigned b = 0; b < kind; ++b) {
                member[b] = static_cast<uint8_t>(rng.next());
            }
        } else if (kind == 3 && toTable && e->argument.table != table) {
            fill(e->argument.table, member, depth + 1, rng, blocks, budget);
        } else if (kind == 11 && !toTable) {
            for (size_t b = 0;
                 b < ZUB_ENDIAN_FIXED_COUNT(e) * std::max<size_t>(e->argument.value, 1); ++b) {
                member[b] = static_cast<uint8_t>(rng.next());
            }
        } else if (kind == 6 || kind == 7 || kind == 9 || kind == 10) {
            uint32_t count = depth < 3 ? rng.next() % 4 : 0;
            count = depth < 2 && rng.next() % 16 == 0 ? rng.next() % 16 : count;
            const size_t element =
                toTable ? e->argument.table->size : std::max<size_t>(e->argument.value, 1);
            count = count * element > budget ? 0 : count;
            budget -= count * element;
            void *data = nullptr;
            if (kind == 9 && rng.next() % 16 == 0) {
                count = 0xFFFFFFFFu; // the mark of a null data pointer
            } else if (count != 0) {
                auto *block = static_cast<uint8_t *>(std::calloc(count, element));
                blocks.push_back(block);
                for (uint32_t k = 0; k < count; ++k) {
                    if (toTable) {
                        fill(e->argument.table, block + k * element, depth + 1, rng, blocks,
                             budget);
                    } else {
                        for (size_t b = 0; b < element; ++b) {
                            block[k * element + b] = static_cast<uint8_t>(rng.next());
                        }
                    }
                }
                data = block;
            }
            const uint8_t count8 = static_cast<uint8_t>(count);
            const uint16_t count16 = static_cast<uint16_t>(count);
            const unsigned width = countWidth(kind);
            std::memcpy(member,
                        width == 1   ? static_cast<const void *>(&count8)
                        : width == 2 ? static_cast<const void *>(&count16)
                                     : static_cast<const void *>(&count),
                        width);
            std::memcpy(pointerField(base, e), &data, sizeof data);
        }
    }
}

// The documented relation of a walker's result, state and errorCode.
void checkOutcome(const zubDeserState_t &s, int32_t result, uint32_t length)
{
    FUZZ_CHECK(result <= 0 && s.bufferPosition <= length);
    if (result < 0) {
        FUZZ_CHECK(s.state == ZUB_SIS_FAILED && s.errorCode == result);
    } else {
        FUZZ_CHECK(s.errorCode >= 0);
    }
    // Unfinished: the whole buffer or chunk has been used, so a caller
    // that keeps providing bytes always gets on.
    FUZZ_CHECK(s.state >= ZUB_SIS_DONE || s.bufferPosition == length);
}

zubDeserState_t prepared(const zubEndianTable_t *table, void *base,
                         std::vector<zubDeserTableState_t> &stack)
{
    zubDeserState_t s;
    std::memset(&s, 0, sizeof s);
    s.stack = stack.data();
    s.stackCapacity = static_cast<uint16_t>(stack.size());
    s.current.table = table;
    s.current.base = base;
    FUZZ_CHECK(_zubDeserStatePushTable(&s) == 0);
    return s;
}

struct Serialized {
    std::vector<uint8_t> stream;
    int32_t result = 0;
    uint32_t state = 0;
    int16_t errorCode = 0;
    uint32_t totalBytes = 0;

    bool operator==(const Serialized &) const = default;
};

// Blocks of the serializer's calls, of the read-back walk and of the hostile walk.
zubfuzz::BlockLog serializerLog;
zubfuzz::BlockLog readBackLog;
zubfuzz::BlockLog hostileLog;

Serialized serialize(const zubEndianTable_t *table, uint8_t *base, uint16_t capacity, Chunks chunks)
{
    std::vector<zubDeserTableState_t> stack(capacity);
    zubDeserState_t s = prepared(table, base, stack);
    Serialized out;
    zubfuzz::BlockLog &log = serializerLog;
    log.clear();
    for (size_t calls = 0; s.state < ZUB_SIS_DONE; ++calls) {
        // Every third buffer at least is not empty and, the walk being
        // unfinished, was used whole: no hang goes unnoticed.
        FUZZ_CHECK(calls <= 3 * out.stream.size() + 3);
        const size_t length = chunks.next();
        Guarded buffer(length);
        s.buffer = buffer.data();
        s.bufferLength = static_cast<uint32_t>(length);
        s.bufferPosition = 0;
        {
            zubfuzz::Recording recording(log);
            out.result = _zubSerializeTableInto(&s);
        }
        FUZZ_CHECK(buffer.intact());
        checkOutcome(s, out.result, static_cast<uint32_t>(length));
        out.stream.insert(out.stream.end(), buffer.data(), buffer.data() + s.bufferPosition);
    }
    // The serializer never allocates (a message it writes may, for itself).
    FUZZ_CHECK(log.live() == 0 && log.foreign() == 0);
    out.state = s.state;
    out.errorCode = s.errorCode;
    out.totalBytes = s.totalBytes;
    FUZZ_CHECK(s.totalBytes == out.stream.size());
    return out;
}

// A deserializing walk with the default allocator into a zero-filled,
// guarded structure, its blocks noted in a log.
struct Reading {
    const zubEndianTable_t *table;
    std::vector<zubDeserTableState_t> stack;
    Guarded host;
    zubDeserState_t s;
    zubfuzz::BlockLog &log;

    Reading(const zubEndianTable_t *top, uint16_t capacity, zubfuzz::BlockLog &blocks)
        : table(top), stack(capacity), host(top->size), s(prepared(top, host.data(), stack)),
          log(blocks)
    {
        log.clear();
    }

    // Feeds [data, data + size) in chunks (at least one) until the walk is
    // over or the bytes are used up; returns the bytes consumed.
    size_t feed(const uint8_t *data, size_t size, Chunks &chunks)
    {
        size_t at = 0;
        for (size_t calls = 0; s.state < ZUB_DIS_DONE && (at < size || calls == 0); ++calls) {
            FUZZ_CHECK(calls <= 3 * at + 3);
            const size_t length = std::min(chunks.next(), size - at);
            // Each chunk is a block of its own size: a read past it shows.
            const std::unique_ptr<uint8_t[]> chunk(new uint8_t[std::max<size_t>(length, 1)]);
            std::copy(data + at, data + at + length, chunk.get());
            s.buffer = chunk.get();
            s.bufferLength = static_cast<uint32_t>(length);
            s.bufferPosition = 0;
            int32_t result;
            {
                zubfuzz::Recording recording(log);
                result = _zubDeserializeTableFrom(&s);
            }
            FUZZ_CHECK(host.intact() && log.foreign() == 0);
            checkOutcome(s, result, static_cast<uint32_t>(length));
            at += s.bufferPosition;
        }
        return at;
    }

    // Releases with `maxDepth`; after a complete walk with room for its
    // nesting every block must have been freed. What the release did not
    // reach is freed here.
    void release(int32_t maxDepth, const Tables &ts)
    {
        if (ts.containsItself) {
            log.freeLeftovers();
            return;
        }
        const bool complete = s.state == ZUB_DIS_DONE &&
                              (maxDepth < 0 || static_cast<size_t>(maxDepth) >= stack.size());
        int32_t result;
        {
            zubfuzz::Recording recording(log);
            result = _zubDeserMemoryDealloc(table, host.data(), maxDepth);
        }
        FUZZ_CHECK(host.intact() && log.foreign() == 0);
        FUZZ_CHECK(result == 0 || result == -1000);
        FUZZ_CHECK(!complete || log.overflowed() || (result == 0 && log.live() == 0));
        log.freeLeftovers();
    }
};

// In place to the other byte order and back: guards intact, bytes restored.
void convertTwice(const zubEndianTable_t *table, Guarded &host)
{
    const std::vector<uint8_t> before(host.data(), host.data() + host.size);
    zubProtocolToHost(host.data(), host.data(), table);
    FUZZ_CHECK(host.intact());
    zubHostToProtocol(host.data(), host.data(), table);
    FUZZ_CHECK(host.intact() && std::equal(before.begin(), before.end(), host.data()));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The first backtrace loads the unwinder, whose blocks live on: load it
    // now, outside every recorded call.
    void *frame[1];
    (void)backtrace(frame, 1);
    describeTables = std::getenv("ZUB_FUZZ_DESCRIBE") != nullptr;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zubfuzz::Input in(data, size);
    Tables ts;
    generate(in, ts);
    const zubEndianTable_t *top = &ts.t[0].table;
    const auto capacity = static_cast<uint16_t>(1 + in.small(kMaxStack));
    Chunks chunks(in);
    Rng rng{in.u32()};
    const auto maxDepth = static_cast<int32_t>(in.small(static_cast<uint32_t>(capacity) + 3)) - 1;
    if (describeTables) {
        describe(ts, capacity, maxDepth);
    }

    // 1. A generated value, serialized in pieces and in one buffer.
    Guarded source(top->size);
    std::vector<void *> sourceBlocks;
    size_t budget = kSourceBudget;
    fill(top, source.data(), 0, rng, sourceBlocks, budget);
    const Serialized pieces = serialize(top, source.data(), capacity, chunks);
    const Serialized whole =
        serialize(top, source.data(), capacity, Chunks(pieces.stream.size() + 64));
    FUZZ_CHECK(source.intact() && pieces == whole);
    convertTwice(top, source);
    for (void *block : sourceBlocks) {
        std::free(block);
    }

    // 2. Its stream read back; without invalid entries or limits it must
    //    complete and serialize to the same stream.
    if (pieces.state == ZUB_SIS_DONE) {
        Reading back(top, capacity, readBackLog);
        const size_t used = back.feed(pieces.stream.data(), pieces.stream.size(), chunks);
        if (!ts.invalid && !ts.limits) {
            FUZZ_CHECK(back.s.state == ZUB_DIS_DONE && used == pieces.stream.size());
            FUZZ_CHECK(serialize(top, back.host.data(), capacity,
                                 Chunks(pieces.stream.size() + 64)) == whole);
        }
        convertTwice(top, back.host);
        back.release(capacity, ts);
    }

    // 3. The rest of the input as a hostile stream.
    Reading hostile(top, capacity, hostileLog);
    size_t length = 0;
    const uint8_t *stream = in.bytes(in.left(), &length);
    hostile.feed(stream, length, chunks);
    convertTwice(top, hostile.host);
    hostile.release(maxDepth, ts);
    return 0;
}
