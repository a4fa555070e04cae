// Serializer: writes a host structure as the big-endian byte stream that its
// type description table describes, resumably.
//
// Design. The whole progress of a walk lives in the caller's
// zubDeserState_t: the current table state, the stack of enclosing levels,
// the state number and, for the member being written, srcval,
// bytesOfMemberDone and totalBytesOfMember. A call copies the fields it
// changes into a local Walk, field by field, and stores them back once on
// the way out: the buffer is byte memory that may alias anything, so
// writing through the caller's record would make the compiler reload every
// field after every store. The entries are walked on the table walker
// (table_walk.h).
//
// In ZUB_SIS_HANDLE_ENTRY one loop runs entry after entry while each member
// fits the buffer whole, with the fields a member changes (Run) in
// registers: a scalar leaves with one swapped store, a count and its atom
// data with word swaps (one copy for one-byte atoms), and nested
// structures and elements are entered and left on the spot. Each leaves
// the record exactly as the states' single steps would. A member that does
// not fit, or needs a message, is set up for the states:
//  - move_integral: a scalar or a count, most significant byte first; srcval
//    starts at the member's last byte and walks down one byte per byte.
//  - move_atoms: atom data; byte j of the member (j counted over all calls)
//    is the byte at srcval + (j XOR (atom size - 1)).
// Both move exactly the part of the member that fits, so a walk through
// buffers of any size, down to one byte, writes the same stream.
#include "zub/serialization.h"

#include <cstddef>
#include <cstring>

#include "internal/bytes.h"
#include "internal/diag.h"
#include "internal/table_walk.h"
#include "zub/osal.h"

namespace {

using namespace zub::detail;

// The walkers' level 2 sites carry 3 in their second word.
#define ZUB_SER_DIAG(...) ZUB_DIAG(2, 3000, 3u, __VA_ARGS__)

// The steps are inlined into the one state loop (ZUB_WALK_INLINE), and the
// entry loop's per-member fields stay in registers; only the swap loops of
// wide atoms are shared out of line.
#define ZUB_WALK_SLOW [[gnu::noinline]]

// What a 32-bit count of 0xFFFFFFFF (the null data pointer mark) is sent as.
constexpr uint8_t kZeroCount[4] = {0, 0, 0, 0};

// The fields of the record that a call changes, and the buffer cursor.
struct Walk {
    Levels<zubDeserTableState_t> lv;
    uint32_t state;
    uint32_t nextState;
    uint32_t done;  // bytesOfMemberDone
    uint32_t total; // totalBytesOfMember
    uint8_t *srcval;
    int16_t error;
    uint8_t *out;   // where the next byte goes
    uint32_t space; // bytes that still fit
};

ZUB_WALK_INLINE uint8_t *base_bytes(const Walk &w)
{
    return static_cast<uint8_t *>(w.lv.cur.base);
}

// Pointer moved down by n bytes in integer arithmetic: a cursor that walks
// a member's bytes downwards ends one byte before the member, which may lie
// before the start of the object.
ZUB_WALK_INLINE uint8_t *byte_cursor_back(uint8_t *p, uint32_t n)
{
    return reinterpret_cast<uint8_t *>(reinterpret_cast<uintptr_t>(p) - n);
}

ZUB_WALK_INLINE void fail(Walk &w, int16_t code)
{
    w.state = ZUB_SIS_FAILED;
    w.error = code;
}

// Cold: messages only. A member whose count field lies at offset 0xFFFF
// goes to the states, which report it.
[[gnu::cold, gnu::noinline]] void report_invalid_entry(unsigned kind)
{
    ZUB_SER_DIAG("Invalid endian table entry %d.\n", static_cast<int>(kind));
}

[[gnu::cold, gnu::noinline]] void report_null_mark()
{
    ZUB_SER_DIAG(
        "NULL pointers not supported except on strings. transmitting zero length instead.\n");
}

// A count field at offset 0xFFFF (kinds 6, 7, 9) is reported, then read
// there like any other.
[[gnu::cold, gnu::noinline]] void report_far_count()
{
    ZUB_SER_DIAG("s->srcval is NULL ");
}

ZUB_WALK_INLINE void invalid_entry(Walk &w, unsigned kind)
{
    report_invalid_entry(kind);
    fail(w, ZUB_EFAULT);
}

ZUB_WALK_INLINE void advance_entry(Walk &w)
{
    w.lv.cur.entry += 1;
    w.state = ZUB_SIS_HANDLE_ENTRY;
}

// Moves what fits of the integer whose next byte is at srcval; true when
// it is complete. The caller has checked that there is space.
ZUB_WALK_INLINE bool move_integral(Walk &w)
{
    const uint32_t rest = w.total - w.done;
    if (rest <= w.space) {
        // The rest of the integer occupies srcval - rest + 1 .. srcval in
        // host order; one swapped load writes it most significant first.
        const uint8_t *low = byte_cursor_back(w.srcval, rest - 1u);
        switch (rest) {
        case 8: store<uint64_t>(w.out, bswap(load<uint64_t>(low))); break;
        case 4: store<uint32_t>(w.out, bswap(load<uint32_t>(low))); break;
        case 2: store<uint16_t>(w.out, bswap(load<uint16_t>(low))); break;
        default:
            for (uint32_t i = 0; i < rest; ++i) {
                w.out[i] = low[rest - 1u - i];
            }
            break;
        }
        w.out += rest;
        w.space -= rest;
        w.srcval = byte_cursor_back(w.srcval, rest);
        w.done = w.total;
        return true;
    }
    for (uint32_t i = 0; i < w.space; ++i) {
        w.out[i] = *w.srcval;
        w.srcval = byte_cursor_back(w.srcval, 1);
    }
    w.done += w.space;
    w.out += w.space;
    w.space = 0;
    return false;
}

// memcpy, with short strings copied inline: most strings of a message are
// a few bytes long, where a library call costs more than the copy.
ZUB_WALK_INLINE void copy_bytes(uint8_t *out, const uint8_t *src, uint32_t n)
{
    if (n <= 16) {
        if (n >= 8) {
            std::memcpy(out, src, 8);
            std::memcpy(out + n - 8, src + n - 8, 8);
        } else if (n >= 4) {
            std::memcpy(out, src, 4);
            std::memcpy(out + n - 4, src + n - 4, 4);
        } else {
            for (uint32_t i = 0; i < n; ++i) {
                out[i] = src[i];
            }
        }
    } else if (n <= 32) {
        std::memcpy(out, src, 16);
        std::memcpy(out + n - 16, src + n - 16, 16);
    } else {
        std::memcpy(out, src, n);
    }
}

// Eight bytes of 2- or 4-byte atoms, each atom's bytes reversed in place.
ZUB_WALK_INLINE uint64_t swap_lanes(uint64_t v, uint32_t atom)
{
    if (atom == 4) {
        const uint64_t r = bswap(v); // atoms reversed and in swapped order
        return (r >> 32) | (r << 32);
    }
    constexpr uint64_t low = 0x00FF00FF00FF00FFull;
    return ((v & low) << 8) | ((v >> 8) & low);
}

// n bytes of a member of T-sized atoms, starting at member byte d.
template <typename T> ZUB_WALK_INLINE void
swap_atoms(uint8_t *__restrict out, const uint8_t *__restrict src, uint32_t d, uint32_t n)
{
    constexpr uint32_t mask = sizeof(T) - 1u;
    uint32_t i = 0;
    for (; i < n && ((d + i) & mask) != 0; ++i) {
        out[i] = src[(d + i) ^ mask];
    }
    if constexpr (sizeof(T) < 8) {
        // Whole 64-bit words of smaller atoms: one load, swap and store.
        for (; n - i >= 16u; i += 16u) {
            const uint64_t w0 = load<uint64_t>(src + d + i);
            const uint64_t w1 = load<uint64_t>(src + d + i + 8u);
            store<uint64_t>(out + i, swap_lanes(w0, sizeof(T)));
            store<uint64_t>(out + i + 8u, swap_lanes(w1, sizeof(T)));
        }
        if (n - i >= 8u) {
            store<uint64_t>(out + i, swap_lanes(load<uint64_t>(src + d + i), sizeof(T)));
            i += 8u;
        }
    }
    for (; n - i >= sizeof(T); i += sizeof(T)) {
        store<T>(out + i, bswap(load<T>(src + d + i)));
    }
    for (; i < n; ++i) {
        out[i] = src[(d + i) ^ mask];
    }
}

// n bytes of a member of 2-, 4- or 8-byte atoms from member byte d on: one
// copy of the swap loops, which run long enough to pay for the call.
ZUB_WALK_SLOW void swap_any_atoms(uint8_t *out, const uint8_t *src, uint32_t atom, uint32_t d,
                                  uint32_t n)
{
    if (atom == 4) {
        swap_atoms<uint32_t>(out, src, d, n);
    } else if (atom == 2) {
        swap_atoms<uint16_t>(out, src, d, n);
    } else {
        swap_atoms<uint64_t>(out, src, d, n);
    }
}

// A whole member of n bytes of valid atoms; one-byte atoms (strings) inline.
ZUB_WALK_INLINE void copy_atoms(uint8_t *out, const uint8_t *src, uint32_t atom, uint32_t n)
{
    if (atom == 1) {
        copy_bytes(out, src, n);
    } else {
        swap_any_atoms(out, src, atom, 0, n);
    }
}

// A count field's value, most significant byte first.
template <uint32_t Width> ZUB_WALK_INLINE void put_count(uint8_t *out, const uint8_t *field)
{
    if constexpr (Width == 1) {
        *out = *field;
    } else if constexpr (Width == 2) {
        store<uint16_t>(out, bswap(load<uint16_t>(field)));
    } else {
        store<uint32_t>(out, bswap(load<uint32_t>(field)));
    }
}

// Moves n bytes (already cut to the space) of the atom data at srcval. An
// invalid atom size leaves the n bytes unwritten but counted, so that the
// stream keeps its length.
ZUB_WALK_INLINE void move_atoms(Walk &w, uint32_t n)
{
    const uint32_t atom = atom_size(w.lv.cur.entry);
    const uint32_t d = w.done;
    switch (atom) {
    case 1: copy_bytes(w.out, w.srcval + d, n); break;
    case 2:
    case 4:
    case 8: swap_any_atoms(w.out, w.srcval, atom, d, n); break;
    default: ZUB_SER_DIAG("Invalid atom size %d in table found.\n", static_cast<int>(atom)); break;
    }
    w.out += n;
    w.space -= n;
    w.done += n;
}

// Element 0 of an array of structures; its level is saved with the count.
ZUB_WALK_INLINE void enter_elements(Walk &w)
{
    const zubEndianInfoEntry_t *e = w.lv.cur.entry;
    if (!enter(w.lv, argument_table(e), load_data_pointer(w.lv.cur.base, e))) {
        fail(w, ZUB_ESTACKFULL);
        return;
    }
    w.state = ZUB_SIS_HANDLE_ENTRY;
}

ZUB_WALK_INLINE void start_array(Walk &w)
{
    const zubEndianInfoEntry_t *e = w.lv.cur.entry;
    w.done = 0;
    const uint64_t total = static_cast<uint64_t>(w.lv.cur.count) * atom_size(e);
    if (total > ZUB_DESER_MAX_MEMBER_BYTES) {
        // The count has been sent; none of the data is, and the walk ends.
        zubOsalWriteBacktrace();
        ZUB_DIAG(1, 1000, 0u, "Test for \"1\"was true: \"%s\"", "Exceed size");
        fail(w, ZUB_EFAIL);
        return;
    }
    w.total = static_cast<uint32_t>(total);
    w.srcval = load_data_pointer(w.lv.cur.base, e);
    w.state = ZUB_SIS_WRITE_ARRAY;
}

// The overrun reports stay inline: a resumable walk through a small buffer
// makes one at the end of every call.
ZUB_WALK_INLINE void array_overrun(Walk &w)
{
    ZUB_SER_DIAG("errorCode ZUB_DES_ERR_XRUN when ZUB_SIS_WRITE_ARRAY.\n");
    w.error = ZUB_DES_ERR_XRUN;
}

ZUB_WALK_INLINE void integral_overrun(Walk &w)
{
    ZUB_SER_DIAG("errorCode ZUB_DES_ERR_XRUN when ZUB_SIS_WRITING_INTEGRAL.\n");
    w.error = ZUB_DES_ERR_XRUN;
}

ZUB_WALK_INLINE void write_array(Walk &w)
{
    const uint32_t n = w.total - w.done;
    if (n <= w.space) {
        move_atoms(w, n);
        advance_entry(w);
    } else if (w.space == 0) {
        array_overrun(w);
    } else {
        // Cut by the end of the buffer: the next step would find no space
        // and report it, so report it now.
        move_atoms(w, w.space);
        array_overrun(w);
    }
}

ZUB_WALK_INLINE void writing_integral(Walk &w)
{
    if (w.space == 0 || !move_integral(w)) {
        // No space, or none left after the part that fitted.
        integral_overrun(w);
        return;
    }
    w.state = w.nextState;
    switch (w.state) {
    case ZUB_SIS_ADVANCE_ENTRY: advance_entry(w); return;
    case ZUB_SIS_ENTER_ELEMENTS: enter_elements(w); return;
    default: start_array(w); return;
    }
}

// The fields the entry loop changes for every member, in registers for
// the length of the loop (the byte stores into the buffer may alias the
// record in memory); the record holds them whenever a step outside the
// loop runs.
struct Run {
    const zubEndianInfoEntry_t *entry;
    uint8_t *base;
    uint32_t count;
    uint8_t *srcval;
    uint32_t done;
    uint32_t total;
    uint32_t next;
    uint8_t *out;
    uint32_t space;
};

ZUB_WALK_INLINE Run load_run(const Walk &w)
{
    return {w.lv.cur.entry, base_bytes(w), w.lv.cur.count, w.srcval, w.done,
            w.total,        w.nextState,   w.out,          w.space};
}

// The level's own fields, which the enter and end-of-table moves use.
ZUB_WALK_INLINE void store_level(Walk &w, const Run &r)
{
    w.lv.cur.entry = r.entry;
    w.lv.cur.base = r.base;
    w.lv.cur.count = r.count;
}

ZUB_WALK_INLINE void store_run(Walk &w, const Run &r)
{
    store_level(w, r);
    w.srcval = r.srcval;
    w.done = r.done;
    w.total = r.total;
    w.nextState = r.next;
    w.out = r.out;
    w.space = r.space;
}

// A scalar of T that fits: one swapped store, the record as the single
// steps leave it.
template <typename T> ZUB_WALK_INLINE void put_scalar(Run &r, uint8_t *member)
{
    if constexpr (sizeof(T) == 1) {
        *r.out = *member;
    } else {
        store<T>(r.out, bswap(load<T>(member)));
    }
    r.out += sizeof(T);
    r.space -= static_cast<uint32_t>(sizeof(T));
    r.srcval = byte_cursor_back(member, 1);
    r.done = r.total = static_cast<uint32_t>(sizeof(T));
    r.next = ZUB_SIS_ADVANCE_ENTRY;
    r.entry += 1;
}

// Saves the current level (its count set) and starts `table` at base.
ZUB_WALK_INLINE void enter_run(Walk &w, Run &r, const zubEndianTable_t *table, uint8_t *base)
{
    store_level(w, r);
    (void)enter(w.lv, table, base);
    r.entry = w.lv.cur.entry;
    r.base = base;
    r.count = 0;
}

// A counted member with a count field of type T whose count, and atom data
// if any, fit whole; false (nothing done) when it does not fit, or needs a
// message or a check that the states make.
template <typename T>
ZUB_WALK_INLINE bool put_counted(Walk &w, Run &r, const zubEndianInfoEntry_t *e, uint8_t *member)
{
    constexpr uint32_t width = sizeof(T);
    if (r.space < width) {
        return false;
    }
    const uint32_t n = load<T>(member);
    if (n == 0xFFFFFFFFu) {
        return false;
    }
    if (n != 0 && !argument_is_table(e)) {
        const uint32_t atom = atom_size(e);
        // One-byte atoms (every string) first: one compare, no product.
        const uint64_t bytes = atom == 1 ? n : static_cast<uint64_t>(n) * atom;
        if ((atom != 1 && !valid_atom(atom)) || bytes > ZUB_DESER_MAX_MEMBER_BYTES ||
            bytes > r.space - width) {
            return false;
        }
        put_count<width>(r.out, member);
        uint8_t *data = load_data_pointer_at(member, e);
        copy_atoms(r.out + width, data, atom, static_cast<uint32_t>(bytes));
        r.out += width + static_cast<uint32_t>(bytes);
        r.space -= width + static_cast<uint32_t>(bytes);
        r.count = n;
        r.srcval = data;
        r.done = r.total = static_cast<uint32_t>(bytes);
        r.next = ZUB_SIS_START_ARRAY;
        r.entry += 1;
        return true;
    }
    if (n != 0 && w.lv.depth >= w.lv.capacity) {
        return false;
    }
    put_count<width>(r.out, member);
    r.out += width;
    r.space -= width;
    r.count = n;
    r.srcval = byte_cursor_back(member, 1);
    r.done = r.total = width;
    if (n == 0) {
        r.next = ZUB_SIS_ADVANCE_ENTRY;
        r.entry += 1;
        return true;
    }
    // An array of structures: its level is saved with the count.
    r.next = ZUB_SIS_ENTER_ELEMENTS;
    enter_run(w, r, argument_table(e), load_data_pointer_at(member, e));
    return true;
}

// A fixed array of valid atoms that fits whole.
ZUB_WALK_INLINE bool put_fixed(Run &r, const zubEndianInfoEntry_t *e, uint8_t *member)
{
    const uint32_t atom = atom_size(e);
    if (argument_is_table(e) || !valid_atom(atom)) {
        return false;
    }
    const uint32_t bytes = atom * entry_high12(e);
    if (bytes > r.space) {
        return false;
    }
    copy_atoms(r.out, member, atom, bytes);
    r.out += bytes;
    r.space -= bytes;
    r.srcval = member;
    r.done = r.total = bytes;
    r.entry += 1;
    return true;
}

// The entry the whole-member steps could not take: its member is set up
// for the states, which move it on as far as the space allows.
ZUB_WALK_INLINE void set_up_member(Walk &w, const zubEndianInfoEntry_t *e, unsigned kind,
                                   uint8_t *member)
{
    w.done = 0;
    w.srcval = member;
    switch (kind) {
    case ZUB_DESER_TYPE_U8:
    case ZUB_DESER_TYPE_U16:
    case ZUB_DESER_TYPE_U32:
    case ZUB_DESER_TYPE_U64:
        w.srcval = member + kind - 1u;
        w.total = kind;
        w.nextState = ZUB_SIS_ADVANCE_ENTRY;
        w.state = ZUB_SIS_WRITING_INTEGRAL;
        return;
    case ZUB_DESER_TYPE_TABLE:
        if (!argument_is_table(e)) {
            invalid_entry(w, kind);
            return;
        }
        w.lv.cur.count = 0;
        if (!enter(w.lv, argument_table(e), member)) {
            fail(w, ZUB_ESTACKFULL);
        }
        return;
    case ZUB_DESER_TYPE_VAR8:
    case ZUB_DESER_TYPE_VAR16:
    case ZUB_DESER_TYPE_VAR32:
    case ZUB_DESER_TYPE_STRING: {
        if (lacks_count_field(e)) {
            // A string without a count field has no length to send: refused.
            invalid_entry(w, kind);
            return;
        }
        if (e->memberOffset == kNoCountField) {
            report_far_count();
        }
        const uint32_t width = count_width(kind);
        w.lv.cur.count = load_count(member, width);
        w.total = width;
        w.srcval = member + width - 1u;
        if (w.lv.cur.count == 0) {
            w.nextState = ZUB_SIS_ADVANCE_ENTRY;
        } else if (w.lv.cur.count == 0xFFFFFFFFu) {
            report_null_mark();
            w.lv.cur.count = 0;
            w.srcval = const_cast<uint8_t *>(kZeroCount + 3);
            w.nextState = ZUB_SIS_ADVANCE_ENTRY;
        } else {
            w.nextState = argument_is_table(e) ? ZUB_SIS_ENTER_ELEMENTS : ZUB_SIS_START_ARRAY;
        }
        w.state = ZUB_SIS_WRITING_INTEGRAL;
        return;
    }
    case ZUB_DESER_TYPE_FIXED:
        // Only an atom size makes sense here; a table pointer would give a
        // member of pointer-value times fixedCount bytes.
        if (argument_is_table(e)) {
            invalid_entry(w, kind);
            return;
        }
        w.total = atom_size(e) * entry_high12(e);
        w.state = ZUB_SIS_WRITE_ARRAY;
        return;
    case ZUB_DESER_TYPE_MODIFIER: w.lv.cur.entry += 1; return;
    default: invalid_entry(w, kind); return;
    }
}

// ZUB_SIS_HANDLE_ENTRY: entry after entry until a member is cut by the end
// of the buffer, the walk ends or it fails.
ZUB_WALK_INLINE void handle_entries(Walk &w)
{
    Run r = load_run(w);
    for (;;) {
        const zubEndianInfoEntry_t *e = r.entry;
        if (entry_is_end(e)) {
            store_level(w, r);
            const TableEnd end = end_of_table(w.lv);
            if (end == TableEnd::Walk) {
                store_run(w, r);
                w.state = ZUB_SIS_DONE;
                w.error = ZUB_DES_ERR_XRUN;
                return;
            }
            r.entry = w.lv.cur.entry;
            r.base = base_bytes(w);
            r.count = w.lv.cur.count;
            continue;
        }
        const EntryHead head = entry_head(e);
        uint8_t *member = r.base + head.member_offset();
        // Compares, commonest kinds first, rather than a jump table: each
        // is one predictable branch.
        const unsigned kind = head.kind();
        bool whole = false;
        if (kind == ZUB_DESER_TYPE_U32) {
            if ((whole = r.space >= 4)) {
                put_scalar<uint32_t>(r, member);
            }
        } else if (kind == ZUB_DESER_TYPE_STRING || kind == ZUB_DESER_TYPE_VAR16) {
            whole = e->memberOffset != kNoCountField && put_counted<uint16_t>(w, r, e, member);
        } else if (kind == ZUB_DESER_TYPE_U16) {
            if ((whole = r.space >= 2)) {
                put_scalar<uint16_t>(r, member);
            }
        } else if (kind == ZUB_DESER_TYPE_U8) {
            if ((whole = r.space >= 1)) {
                put_scalar<uint8_t>(r, member);
            }
        } else if (kind == ZUB_DESER_TYPE_U64) {
            if ((whole = r.space >= 8)) {
                put_scalar<uint64_t>(r, member);
            }
        } else if (kind == ZUB_DESER_TYPE_VAR32) {
            whole = e->memberOffset != kNoCountField && put_counted<uint32_t>(w, r, e, member);
        } else if (kind == ZUB_DESER_TYPE_VAR8) {
            whole = e->memberOffset != kNoCountField && put_counted<uint8_t>(w, r, e, member);
        } else if (kind == ZUB_DESER_TYPE_TABLE) {
            if ((whole = argument_is_table(e) && w.lv.depth < w.lv.capacity)) {
                r.srcval = member;
                r.done = 0;
                r.count = 0;
                enter_run(w, r, argument_table(e), member);
            }
        } else if (kind == ZUB_DESER_TYPE_FIXED) {
            whole = put_fixed(r, e, member);
        } else if (kind == ZUB_DESER_TYPE_MODIFIER) {
            r.srcval = member;
            r.done = 0;
            r.entry += 1;
            whole = true;
        }
        if (!whole) {
            store_run(w, r);
            set_up_member(w, e, kind, member);
            if (w.state != ZUB_SIS_HANDLE_ENTRY || w.error != 0) {
                return;
            }
            r = load_run(w);
        }
    }
}

int32_t serialize(zubDeserState_t *record)
{
    // A position past the end is taken as a full buffer.
    const uint32_t length = record->bufferLength;
    const uint32_t position = record->bufferPosition;
    Walk w;
    w.space = position <= length ? length - position : 0u;
    w.out = record->buffer + (length - w.space);
    const uint32_t spaceAtStart = w.space;
    // Taken and stored back field by field: a whole-record block copy would
    // read, in wide words, fields the caller has just stored one by one,
    // which the processor cannot forward and has to wait for.
    w.lv.cur.table = record->current.table;
    w.lv.cur.entry = record->current.entry;
    w.lv.cur.count = record->current.count;
    w.lv.cur.index = record->current.index;
    w.lv.cur.multiplicity = record->current.multiplicity;
    w.lv.cur.base = record->current.base;
    w.lv.stack = record->stack;
    w.lv.depth = record->stackDepth;
    w.lv.capacity = record->stackCapacity;
    w.state = record->state;
    w.nextState = record->nextState;
    w.done = record->bytesOfMemberDone;
    w.total = record->totalBytesOfMember;
    w.srcval = record->srcval;
    w.error = 0;

    while (w.error == 0) {
        switch (w.state) {
        case ZUB_SIS_START_TABLE:
            w.lv.cur.entry = w.lv.cur.table->entries;
            w.state = ZUB_SIS_HANDLE_ENTRY;
            break;
        case ZUB_SIS_ADVANCE_ENTRY: advance_entry(w); break;
        case ZUB_SIS_HANDLE_ENTRY: handle_entries(w); break;
        case ZUB_SIS_ENTER_ELEMENTS: enter_elements(w); break;
        case ZUB_SIS_START_ARRAY: start_array(w); break;
        case ZUB_SIS_WRITING_INTEGRAL: writing_integral(w); break;
        case ZUB_SIS_WRITE_ARRAY: write_array(w); break;
        default: // 5 and 8; values above 8 never reach the loop
            ZUB_SER_DIAG("Invalid internal state %d.\n", static_cast<int>(w.state));
            fail(w, ZUB_EFAULT);
            break;
        }
    }

    record->totalBytes += spaceAtStart - w.space;
    record->bufferPosition = length - w.space;
    record->current.table = w.lv.cur.table;
    record->current.entry = w.lv.cur.entry;
    record->current.count = w.lv.cur.count;
    record->current.index = w.lv.cur.index;
    record->current.multiplicity = w.lv.cur.multiplicity;
    record->current.base = w.lv.cur.base;
    record->state = w.state;
    record->nextState = w.nextState;
    record->bytesOfMemberDone = w.done;
    record->totalBytesOfMember = w.total;
    record->stackDepth = w.lv.depth;
    record->errorCode = w.error;
    record->srcval = w.srcval;
    return w.error < 0 ? w.error : 0;
}

} // namespace
extern "C" {

int32_t _zubSerializeTableInto(zubDeserState_t *state)
{
    if (state == nullptr) {
        return ZUB_EINVAL;
    }
    if (state->state > ZUB_DIS_CHECK_COUNT) {
        return 0;
    }
    return serialize(state);
}

int32_t zubSimpleSerializeInto(uint8_t *buffer, uint32_t bufferLength,
                               const zubEndianTable_t *table, const void *data)
{
    if (table == nullptr) {
        return ZUB_EINVAL;
    }
    zubDeserTableState_t stack[ZUB_DESER_DEFAULT_STACK];
    zubDeserState_t s;
    std::memset(&s, 0, sizeof s);
    s.buffer = buffer;
    s.bufferLength = bufferLength;
    s.stack = stack;
    s.stackCapacity = ZUB_DESER_DEFAULT_STACK;
    s.allocator = ZUB_ALLOCATOR_DEFAULT;
    s.current.table = table;
    // Only read: the serializer never writes through base.
    s.current.base = const_cast<void *>(data);
    (void)_zubDeserStatePushTable(&s);
    const int32_t result = serialize(&s);
    if (result < 0) {
        return result;
    }
    (void)_zubDeserStatePopTable(&s);
    return static_cast<int32_t>(s.bufferPosition);
}

} // extern "C"
