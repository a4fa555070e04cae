// Fuzz target: hostile tables. The input describes the type description
// tables as well as the stream, so the walkers meet entries, atom sizes,
// counts, nestings and table ends that no fixed table of ours has.
//
// Tables: up to four, built last to first. Table i nests (TABLE entry) only
// tables after it, or itself at offset 0 (a structure that contains itself,
// by mistake or malice), and names any table, itself included, as the
// element of a counted array. Entries are of every kind, valid and invalid,
// with valid and invalid atom sizes, modifiers, and ends in odd places; the
// layouts are ones a caller could write: every member inside the
// structure, members not overlapping, naturally aligned or packed.
//
// The rest of the input is a stream, read in chunks with a stack of 1 to 12
// records, and released with a random depth limit, under the checks of
// deser::hostileWalk. A structure that contains itself is not released:
// its nested member lies over every other member, so that the release
// would meet one array once per level.
#define ZUBFUZZ_HOOKS
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "../tests/deser_test_util.h"

namespace {

constexpr size_t kMaxTables = 4;
constexpr size_t kMaxEntries = 10;
constexpr size_t kMaxSize = 4096;   // keeps offsets and nestings small
constexpr uint8_t kEarlyEnd = 0xFF; // a terminator before the last entry

struct Tables {
    zubEndianTable_t t[kMaxTables];
    zubEndianInfoEntry_t entries[kMaxTables][kMaxEntries + 1];
    size_t n = 0;
    bool invalid = false; // an invalid entry or atom size somewhere
    bool containsItself = false;
};

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
    bool packed, gaps;
    size_t cursor = 0, alignment = 1;

    // Offset of a new member of `width` bytes, or kMaxSize when it does not fit.
    size_t place(size_t width, size_t natural)
    {
        const size_t a = packed ? 1 : natural;
        const size_t at = (cursor + (gaps ? in.small(4) : 0) + a - 1) / a * a;
        if (at + width > kMaxSize)
            return kMaxSize;
        alignment = std::max(alignment, a);
        cursor = at + width;
        return at;
    }
    size_t anywhere() { return in.small(static_cast<uint32_t>(cursor + 1)); }
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
    const auto table = [&ts](size_t k) { return reinterpret_cast<uintptr_t>(&ts.t[k]); };
    size_t at = 0;
    if (kind == 1 || kind == 2 || kind == 4 || kind == 8) {
        at = layout.place(kind, kind);
        entry = entryOf(at, kind, noisyHighBits ? in.u16() : 0, 0);
    } else if (kind == 3) {
        const uint8_t pick = in.u8();
        if (pick % 4 == 0) { // contains itself, over its own bytes
            entry = entryOf(0, 3, 0, table(i));
            ts.containsItself = true;
        } else if (pick % 4 == 1 || i + 1 == ts.n) { // an argument that is no table
            entry = entryOf(layout.anywhere(), 3, 0, pick >> 4);
            ts.invalid = true;
        } else {
            const size_t k = i + 1 + (pick >> 2) % (ts.n - i - 1);
            at = layout.place(ts.t[k].size, alignof(uint64_t));
            entry = entryOf(at, 3, 0, table(k));
        }
    } else if (kind == 6 || kind == 7 || kind == 9 || kind == 10) {
        const size_t width = kind == 6 ? 1 : kind == 9 ? 4 : 2;
        size_t count, pointer;
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
            argument = table((pick >> 3) % ts.n);
        }
        entry = entryOf(count, kind, static_cast<unsigned>(pointer + 1024 - count), argument);
        at = std::max(count, pointer);
    } else if (kind == 11) {
        const uint8_t pick = in.u8();
        const unsigned fixed = pick & 0x80 ? in.small(64) : in.small(9);
        if (pick % 8 == 6) { // a table as the atom: invalid, nothing inline
            entry = entryOf(layout.anywhere(), 11, fixed, table(i));
            ts.invalid = true;
            return true;
        }
        const uintptr_t atom = pick % 8 < 4 ? kAtoms[pick % 4] : (pick >> 3) % 16;
        ts.invalid |= !validAtom(atom);
        at = layout.place(fixed * std::max<size_t>(atom, 1), std::clamp<size_t>(atom, 1, 8));
        entry = entryOf(at, 11, fixed, atom);
    } else if (kind == 15) {
        // A limit of all ones ends the table for the walkers (not for the
        // byte-order conversion); high bits make the entry do nothing.
        const uint8_t pick = in.u8();
        const uintptr_t limit = pick & 0x40 ? 0xFFFFFFFFu : pick % 6;
        entry = entryOf(0, 15, pick & 0x80 ? 1 + in.small(15) : 0, limit);
    } else if (kind == kEarlyEnd) {
        entry = ZUB_ENTRY_END;
    } else { // 0 (the byte-order conversion's end), 5, 12, 13, 14
        const size_t offset = layout.anywhere();
        const uint16_t high = in.u16();
        entry = entryOf(offset, kind, high, in.small(16));
        ts.invalid = true;
    }
    return at != kMaxSize;
}

void generate(zubfuzz::Input &in, Tables &ts)
{
    ts.n = 1 + in.small(kMaxTables);
    for (size_t i = ts.n; i-- > 0;) {
        const uint8_t flags = in.u8();
        Layout layout{in, (flags & 1) != 0, (flags & 2) != 0};
        size_t n = 0;
        for (size_t e = 0, wanted = in.small(kMaxEntries + 1); e < wanted; ++e)
            n += generateEntry(in, ts, i, layout, ts.entries[i][n], (flags & 4) != 0,
                               (flags & 8) != 0);
        ts.entries[i][n] = ZUB_ENTRY_END;
        size_t size = layout.cursor + in.small(8);
        size = layout.packed ? size
                             : (size + layout.alignment - 1) / layout.alignment * layout.alignment;
        ts.t[i] = {static_cast<uint32_t>(std::max<size_t>(size, 1)), ts.entries[i]};
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zubfuzz::Input in(data, size);
    Tables ts;
    generate(in, ts);
    const auto capacity = static_cast<uint16_t>(1 + in.small(12));
    uint8_t chunks[3] = {in.u8(), in.u8(), in.u8()};
    chunks[0] |= chunks[1] | chunks[2] ? 0 : 1;
    (void)in.u32();
    const auto maxDepth = static_cast<int32_t>(in.small(capacity + 3u)) - 1;
    unsigned turn = 0;
    size_t length = 0;
    const uint8_t *stream = in.bytes(in.left(), &length);
    std::vector<uint64_t> outcome;
    deser::hostileWalk(
        {&ts.t[0], capacity, maxDepth, !ts.invalid, !ts.containsItself}, stream, length,
        [&](size_t) { return chunks[turn++ % 3]; }, outcome);
    return 0;
}
