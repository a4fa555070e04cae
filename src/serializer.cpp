// Serializer: writes a host structure as the big-endian byte stream that its
// type description table describes, resumably.
//
// Design. The whole progress of a walk lives in the caller's
// zubDeserState_t: the current table state, the stack of enclosing levels,
// the state number and, for the member being written, srcval,
// bytesOfMemberDone and totalBytesOfMember. A call runs the state machine
// until the buffer runs out, the walk ends or it fails. It works on a local
// copy of the walk fields and stores them back on the way out, one by one
// (load_record, store_record): the buffer is byte memory that may alias
// anything, so writing through the caller's record would make the compiler
// reload every field after every store.
//
// In the state loop every byte leaves through one of two helpers, both of
// which move exactly the part of the member that fits:
//  - move_integral: a scalar or a count, most significant byte first; srcval
//    starts at the member's last byte and walks down one byte per byte.
//  - move_atoms: atom data; byte j of the member (j counted over all calls)
//    is the byte at srcval + (j XOR (atom size - 1)).
// An integer whose rest fits leaves with one swapped store, one cut by the
// end of the buffer byte by byte; atom data move as whole swapped atoms (or
// one copy for one-byte atoms), with byte steps only for an atom cut at
// either end of the piece. Either way srcval, bytesOfMemberDone and the
// buffer end up exactly as single-byte steps would leave them, so a walk
// through buffers of any size, down to one byte, writes the same stream.
//
// Most of a walk never meets the end of the buffer: members that fit whole
// go through FastWalk, which runs entry after entry with the position and
// the member fields in locals, decodes each entry once, writes scalars with
// one swapped store and whole atom data with word swaps, and enters and
// leaves nested tables without a trip round the state loop. It leaves the
// record exactly as the loop's steps would, and hands any entry it cannot
// finish silently (one that does not fit, needs a message or fails) to the
// loop in ZUB_SIS_HANDLE_ENTRY. There a member that fits whole is still
// carried through its count, data and on to the next entry in one step
// (finish_member), and one cut by the end of the buffer stops exactly where
// the loop has to report the lack of space.
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

// The walk's helpers are inlined into the one loop, so that the local
// record never escapes and stays in registers.
#define ZUB_WALK_INLINE [[gnu::always_inline]] inline

// What a 32-bit count of 0xFFFFFFFF (the null data pointer mark) is sent as.
constexpr uint8_t kZeroCount[4] = {0, 0, 0, 0};

// Where the next byte goes and how many still fit.
struct Cursor {
    uint8_t *out;
    uint32_t space;
};

// Pointer moved down by n bytes in integer arithmetic: a cursor that walks
// a member's bytes downwards ends one byte before the member, which may lie
// before the start of the object.
ZUB_WALK_INLINE uint8_t *byte_cursor_back(uint8_t *p, uint32_t n)
{
    return reinterpret_cast<uint8_t *>(reinterpret_cast<uintptr_t>(p) - n);
}

ZUB_WALK_INLINE bool push_table(zubDeserState_t *s)
{
    if (s->stackDepth >= s->stackCapacity) {
        return false;
    }
    s->stack[s->stackDepth] = s->current;
    s->stackDepth = static_cast<uint16_t>(s->stackDepth + 1u);
    return true;
}

ZUB_WALK_INLINE void pop_table(zubDeserState_t *s)
{
    s->stackDepth = static_cast<uint16_t>(s->stackDepth - 1u);
    s->current = s->stack[s->stackDepth];
}

ZUB_WALK_INLINE void fail(zubDeserState_t &s, int16_t code)
{
    s.state = ZUB_SIS_FAILED;
    s.errorCode = code;
}

// Cold: messages only, so that the local record never escapes.
[[gnu::cold, gnu::noinline]] void report_invalid_entry(unsigned kind)
{
    ZUB_SER_DIAG("Invalid endian table entry %d.\n", static_cast<int>(kind));
}

ZUB_WALK_INLINE void invalid_entry(zubDeserState_t &s, unsigned kind)
{
    report_invalid_entry(kind);
    fail(s, ZUB_EFAULT);
}

ZUB_WALK_INLINE void start_table(zubDeserState_t &s)
{
    s.current.entry = s.current.table->entries;
    s.state = ZUB_SIS_HANDLE_ENTRY;
}

ZUB_WALK_INLINE void advance_entry(zubDeserState_t &s)
{
    s.current.entry += 1;
    s.state = ZUB_SIS_HANDLE_ENTRY;
}

// Moves what fits of the integer whose next byte is at srcval; true when
// it is complete. The caller has checked that there is space.
ZUB_WALK_INLINE bool move_integral(zubDeserState_t &s, Cursor &c)
{
    const uint32_t rest = s.totalBytesOfMember - s.bytesOfMemberDone;
    if (rest <= c.space) {
        // The rest of the integer occupies srcval - rest + 1 .. srcval in
        // host order; one swapped load writes it most significant first.
        const uint8_t *low = byte_cursor_back(s.srcval, rest - 1u);
        switch (rest) {
        case 8: store<uint64_t>(c.out, bswap(load<uint64_t>(low))); break;
        case 4: store<uint32_t>(c.out, bswap(load<uint32_t>(low))); break;
        case 2: store<uint16_t>(c.out, bswap(load<uint16_t>(low))); break;
        default:
            for (uint32_t i = 0; i < rest; ++i) {
                c.out[i] = low[rest - 1u - i];
            }
            break;
        }
        c.out += rest;
        c.space -= rest;
        s.srcval = byte_cursor_back(s.srcval, rest);
        s.bytesOfMemberDone = s.totalBytesOfMember;
        return true;
    }
    for (uint32_t i = 0; i < c.space; ++i) {
        c.out[i] = *s.srcval;
        s.srcval = byte_cursor_back(s.srcval, 1);
    }
    s.bytesOfMemberDone += c.space;
    c.out += c.space;
    c.space = 0;
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

// Moves n bytes (already cut to the space) of the atom data at srcval. An
// invalid atom size leaves the n bytes unwritten but counted, so that the
// stream keeps its length.
ZUB_WALK_INLINE void move_atoms(zubDeserState_t &s, Cursor &c, uint32_t n)
{
    const uint32_t atom = atom_size(s.current.entry);
    const uint32_t d = s.bytesOfMemberDone;
    switch (atom) {
    case 1: copy_bytes(c.out, s.srcval + d, n); break;
    case 2: swap_atoms<uint16_t>(c.out, s.srcval, d, n); break;
    case 4: swap_atoms<uint32_t>(c.out, s.srcval, d, n); break;
    case 8: swap_atoms<uint64_t>(c.out, s.srcval, d, n); break;
    default: ZUB_SER_DIAG("Invalid atom size %d in table found.\n", static_cast<int>(atom)); break;
    }
    c.out += n;
    c.space -= n;
    s.bytesOfMemberDone += n;
}

// The terminator of the current table: the walk's end at the top level,
// else the next element of an array of structures or back to the parent.
ZUB_WALK_INLINE void end_of_table(zubDeserState_t &s)
{
    if (s.stackDepth <= 1) {
        s.state = ZUB_SIS_DONE;
        s.errorCode = ZUB_DES_ERR_XRUN;
        return;
    }
    zubDeserTableState_t &parent = s.stack[s.stackDepth - 1u];
    if (parent.count != 0) {
        parent.count -= 1;
        if (parent.count != 0) {
            // The element address is taken afresh from the parent each time.
            s.current.index += 1;
            s.current.base = load_data_pointer(static_cast<uint8_t *>(parent.base), parent.entry) +
                             static_cast<uintptr_t>(static_cast<uint64_t>(s.current.index) *
                                                    s.current.table->size);
            start_table(s);
            return;
        }
    }
    pop_table(&s);
    advance_entry(s);
}

ZUB_WALK_INLINE void enter_elements(zubDeserState_t &s)
{
    if (!push_table(&s)) {
        fail(s, ZUB_ESTACKFULL);
        return;
    }
    const zubEndianInfoEntry_t *e = s.current.entry;
    s.current.base = load_data_pointer(static_cast<uint8_t *>(s.current.base), e);
    s.current.table = e->argument.table;
    s.current.count = 0;
    s.current.index = 0;
    start_table(s);
}

ZUB_WALK_INLINE void start_array(zubDeserState_t &s)
{
    const zubEndianInfoEntry_t *e = s.current.entry;
    s.bytesOfMemberDone = 0;
    const uint64_t total = static_cast<uint64_t>(s.current.count) * atom_size(e);
    if (total > ZUB_DESER_MAX_MEMBER_BYTES) {
        // The count has been sent; none of the data is, and the walk ends.
        zubOsalWriteBacktrace();
        ZUB_DIAG(1, 1000, 0u, "Test for \"1\"was true: \"%s\"", "Exceed size");
        fail(s, ZUB_EFAIL);
        return;
    }
    s.totalBytesOfMember = static_cast<uint32_t>(total);
    s.srcval = load_data_pointer(static_cast<uint8_t *>(s.current.base), e);
    s.state = ZUB_SIS_WRITE_ARRAY;
}

// The overrun reports stay inline: a resumable walk through a small buffer
// makes one at the end of every call.
ZUB_WALK_INLINE void report_array_overrun()
{
    ZUB_SER_DIAG("errorCode ZUB_DES_ERR_XRUN when ZUB_SIS_WRITE_ARRAY.\n");
}

ZUB_WALK_INLINE void report_integral_overrun()
{
    ZUB_SER_DIAG("errorCode ZUB_DES_ERR_XRUN when ZUB_SIS_WRITING_INTEGRAL.\n");
}

ZUB_WALK_INLINE void array_overrun(zubDeserState_t &s)
{
    report_array_overrun();
    s.errorCode = ZUB_DES_ERR_XRUN;
}

ZUB_WALK_INLINE void integral_overrun(zubDeserState_t &s)
{
    report_integral_overrun();
    s.errorCode = ZUB_DES_ERR_XRUN;
}

ZUB_WALK_INLINE void write_array(zubDeserState_t &s, Cursor &c)
{
    const uint32_t n = s.totalBytesOfMember - s.bytesOfMemberDone;
    if (n <= c.space) {
        move_atoms(s, c, n);
        advance_entry(s);
    } else if (c.space == 0) {
        array_overrun(s);
    } else {
        // Cut by the end of the buffer: the next step would find no space
        // and report it, so report it now.
        move_atoms(s, c, c.space);
        array_overrun(s);
    }
}

// Carries a member that has just been set up on as far as the space allows
// without a trip round the loop: the steps the loop would take, in its
// order, stopping wherever the loop would have to report a lack of space.
ZUB_WALK_INLINE void finish_member(zubDeserState_t &s, Cursor &c)
{
    if (s.state == ZUB_SIS_WRITING_INTEGRAL) {
        if (c.space == 0 || !move_integral(s, c)) {
            return;
        }
        s.state = s.nextState;
        if (s.state == ZUB_SIS_ADVANCE_ENTRY) {
            advance_entry(s);
            return;
        }
        if (s.state == ZUB_SIS_ENTER_ELEMENTS) {
            enter_elements(s);
            return;
        }
        start_array(s);
    }
    if (s.state == ZUB_SIS_WRITE_ARRAY && s.totalBytesOfMember - s.bytesOfMemberDone <= c.space) {
        write_array(s, c);
    }
}

// A whole member of n bytes of valid atoms; one-byte atoms (strings) first.
ZUB_WALK_INLINE void copy_atoms(uint8_t *out, const uint8_t *src, uint32_t atom, uint32_t n)
{
    if (atom == 1) {
        copy_bytes(out, src, n);
    } else if (atom == 4) {
        swap_atoms<uint32_t>(out, src, 0, n);
    } else if (atom == 2) {
        swap_atoms<uint16_t>(out, src, 0, n);
    } else {
        swap_atoms<uint64_t>(out, src, 0, n);
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

// The walk over members that fit whole, entry after entry, with its
// position and the member fields in locals. It takes exactly the steps of
// the state loop, so every member leaves srcval, bytesOfMemberDone,
// totalBytesOfMember, nextState and count as the loop's steps leave them.
// At the first entry it cannot finish without reporting anything (one that
// does not fit whole, needs a message or fails) it stores everything back
// and returns in ZUB_SIS_HANDLE_ENTRY, and the loop takes that entry on;
// at the end of the top-level table it ends the walk.
class FastWalk {
public:
    FastWalk(zubDeserState_t &s, Cursor &c)
        : s_(s), c_(c), e_(s.current.entry), base_(static_cast<uint8_t *>(s.current.base)),
          count_(s.current.count), srcval_(s.srcval), done_(s.bytesOfMemberDone),
          total_(s.totalBytesOfMember), next_(s.nextState), out_(c.out), space_(c.space)
    {}

    ZUB_WALK_INLINE void run()
    {
        for (;;) {
            const zubEndianInfoEntry_t *e = e_;
            if (entry_is_end(e)) {
                if (!end_of_table()) {
                    break;
                }
                continue;
            }
            uint8_t *member = base_ + e->memberOffset;
            // Compares, commonest kinds first, rather than a jump table:
            // each is one predictable branch.
            const unsigned kind = entry_kind(e);
            bool ok;
            if (kind == ZUB_DESER_TYPE_U32) {
                ok = scalar<uint32_t>(member);
            } else if (kind == ZUB_DESER_TYPE_STRING || kind == ZUB_DESER_TYPE_VAR16) {
                ok = counted<uint16_t>(member);
            } else if (kind == ZUB_DESER_TYPE_U16) {
                ok = scalar<uint16_t>(member);
            } else if (kind == ZUB_DESER_TYPE_U8) {
                ok = scalar<uint8_t>(member);
            } else if (kind == ZUB_DESER_TYPE_U64) {
                ok = scalar<uint64_t>(member);
            } else if (kind == ZUB_DESER_TYPE_VAR32) {
                ok = counted<uint32_t>(member);
            } else if (kind == ZUB_DESER_TYPE_VAR8) {
                ok = counted<uint8_t>(member);
            } else if (kind == ZUB_DESER_TYPE_TABLE) {
                ok = nested(member);
            } else if (kind == ZUB_DESER_TYPE_FIXED) {
                ok = fixed(member);
            } else if (kind == ZUB_DESER_TYPE_MODIFIER) {
                srcval_ = member;
                done_ = 0;
                ++e_;
                ok = true;
            } else {
                ok = false;
            }
            if (!ok) {
                break;
            }
        }
        save_current();
        s_.srcval = srcval_;
        s_.bytesOfMemberDone = done_;
        s_.totalBytesOfMember = total_;
        s_.nextState = next_;
        c_.out = out_;
        c_.space = space_;
    }

private:
    // The current table state as the loop would hold it.
    ZUB_WALK_INLINE void save_current()
    {
        s_.current.entry = e_;
        s_.current.base = base_;
        s_.current.count = count_;
    }

    // Saves the current level (the loop's push) and starts the walk of
    // table over the structure at base.
    ZUB_WALK_INLINE void enter(const zubEndianTable_t *table, uint8_t *base)
    {
        save_current();
        (void)push_table(&s_);
        s_.current.table = table;
        s_.current.index = 0;
        count_ = 0;
        base_ = base;
        e_ = table->entries;
    }

    // False when the walk is complete.
    ZUB_WALK_INLINE bool end_of_table()
    {
        const uint32_t depth = s_.stackDepth;
        if (depth <= 1u) {
            s_.state = ZUB_SIS_DONE;
            s_.errorCode = ZUB_DES_ERR_XRUN;
            return false;
        }
        zubDeserTableState_t &parent = s_.stack[depth - 1u];
        if (parent.count != 0 && --parent.count != 0) {
            // The next element of an array of structures. base is the
            // element just walked (the levels below it have been popped),
            // and the parent's data pointer, which the host structure holds
            // unchanged while it is walked, addresses element 0: one stride
            // on is the address the parent's pointer gives.
            s_.current.index += 1;
            base_ += s_.current.table->size;
            e_ = s_.current.table->entries;
            return true;
        }
        s_.stackDepth = static_cast<uint16_t>(depth - 1u);
        s_.current = parent;
        e_ = s_.current.entry + 1;
        base_ = static_cast<uint8_t *>(s_.current.base);
        count_ = s_.current.count;
        return true;
    }

    template <typename T> ZUB_WALK_INLINE bool scalar(uint8_t *member)
    {
        if (space_ < sizeof(T)) {
            return false;
        }
        if constexpr (sizeof(T) == 1) {
            *out_ = *member;
        } else {
            store<T>(out_, bswap(load<T>(member)));
        }
        out_ += sizeof(T);
        space_ -= static_cast<uint32_t>(sizeof(T));
        srcval_ = byte_cursor_back(member, 1);
        done_ = total_ = static_cast<uint32_t>(sizeof(T));
        next_ = ZUB_SIS_ADVANCE_ENTRY;
        ++e_;
        return true;
    }

    ZUB_WALK_INLINE bool nested(uint8_t *member)
    {
        const zubEndianInfoEntry_t *e = e_;
        if (!argument_is_table(e) || s_.stackDepth >= s_.stackCapacity) {
            return false;
        }
        srcval_ = member;
        done_ = 0;
        count_ = 0;
        enter(e->argument.table, member);
        return true;
    }

    // Count field of type T at member.
    template <typename T> ZUB_WALK_INLINE bool counted(uint8_t *member)
    {
        constexpr uint32_t width = sizeof(T);
        const zubEndianInfoEntry_t *e = e_;
        if (lacks_count_field(e) || space_ < width) {
            return false;
        }
        const uint32_t n = load<T>(member);
        if (n == 0xFFFFFFFFu) {
            return false;
        }
        if (n != 0 && !argument_is_table(e)) {
            const uint32_t atom = atom_size(e);
            const uint64_t bytes = static_cast<uint64_t>(n) * atom;
            if (!valid_atom(atom) || bytes > ZUB_DESER_MAX_MEMBER_BYTES || bytes > space_ - width) {
                return false;
            }
            put_count<width>(out_, member);
            uint8_t *data = load_data_pointer(base_, e);
            copy_atoms(out_ + width, data, atom, static_cast<uint32_t>(bytes));
            out_ += width + static_cast<uint32_t>(bytes);
            space_ -= width + static_cast<uint32_t>(bytes);
            count_ = n;
            srcval_ = data;
            done_ = total_ = static_cast<uint32_t>(bytes);
            next_ = ZUB_SIS_START_ARRAY;
            ++e_;
            return true;
        }
        if (n != 0 && s_.stackDepth >= s_.stackCapacity) {
            return false;
        }
        put_count<width>(out_, member);
        out_ += width;
        space_ -= width;
        count_ = n;
        srcval_ = byte_cursor_back(member, 1);
        done_ = total_ = width;
        if (n == 0) {
            next_ = ZUB_SIS_ADVANCE_ENTRY;
            ++e_;
            return true;
        }
        // An array of structures: its level is saved with the count.
        next_ = ZUB_SIS_ENTER_ELEMENTS;
        enter(e->argument.table, load_data_pointer(base_, e));
        return true;
    }

    ZUB_WALK_INLINE bool fixed(uint8_t *member)
    {
        const zubEndianInfoEntry_t *e = e_;
        const uint32_t atom = atom_size(e);
        if (argument_is_table(e) || !valid_atom(atom)) {
            return false;
        }
        const uint32_t bytes = atom * ZUB_ENDIAN_FIXED_COUNT(e);
        if (bytes > space_) {
            return false;
        }
        copy_atoms(out_, member, atom, bytes);
        out_ += bytes;
        space_ -= bytes;
        srcval_ = member;
        done_ = total_ = bytes;
        ++e_;
        return true;
    }

    zubDeserState_t &s_;
    Cursor &c_;
    const zubEndianInfoEntry_t *e_;
    uint8_t *base_;
    uint32_t count_;
    uint8_t *srcval_;
    uint32_t done_;
    uint32_t total_;
    uint32_t next_;
    uint8_t *out_;
    uint32_t space_;
};

ZUB_WALK_INLINE void handle_counted(zubDeserState_t &s, const zubEndianInfoEntry_t *e,
                                    unsigned kind, uint8_t *member)
{
    if (lacks_count_field(e)) {
        // A string without a count field has no length to send: refused.
        invalid_entry(s, kind);
        return;
    }
    const uint32_t width = count_width(kind);
    s.current.count = load_count(member, width);
    s.totalBytesOfMember = width;
    s.srcval = member + width - 1u;
    if (s.current.count == 0) {
        s.nextState = ZUB_SIS_ADVANCE_ENTRY;
    } else if (s.current.count == 0xFFFFFFFFu) {
        ZUB_SER_DIAG(
            "NULL pointers not supported except on strings. transmitting zero length instead.\n");
        s.current.count = 0;
        s.srcval = const_cast<uint8_t *>(kZeroCount + 3);
        s.nextState = ZUB_SIS_ADVANCE_ENTRY;
    } else {
        s.nextState = argument_is_table(e) ? ZUB_SIS_ENTER_ELEMENTS : ZUB_SIS_START_ARRAY;
    }
    s.state = ZUB_SIS_WRITING_INTEGRAL;
}

ZUB_WALK_INLINE void handle_entry(zubDeserState_t &s, Cursor &c)
{
    const zubEndianInfoEntry_t *e = s.current.entry;
    if (entry_is_end(e)) {
        end_of_table(s);
        return;
    }
    s.bytesOfMemberDone = 0;
    uint8_t *member = static_cast<uint8_t *>(s.current.base) + e->memberOffset;
    s.srcval = member;
    const unsigned kind = entry_kind(e);
    switch (kind) {
    case ZUB_DESER_TYPE_U8:
    case ZUB_DESER_TYPE_U16:
    case ZUB_DESER_TYPE_U32:
    case ZUB_DESER_TYPE_U64:
        s.srcval = member + kind - 1u;
        s.totalBytesOfMember = kind;
        s.nextState = ZUB_SIS_ADVANCE_ENTRY;
        s.state = ZUB_SIS_WRITING_INTEGRAL;
        finish_member(s, c);
        return;
    case ZUB_DESER_TYPE_TABLE:
        if (!argument_is_table(e)) {
            invalid_entry(s, kind);
            return;
        }
        s.current.count = 0;
        if (!push_table(&s)) {
            fail(s, ZUB_ESTACKFULL);
            return;
        }
        s.current.table = e->argument.table;
        s.current.count = 0;
        s.current.index = 0;
        s.current.base = member;
        start_table(s);
        return;
    case ZUB_DESER_TYPE_VAR8:
    case ZUB_DESER_TYPE_VAR16:
    case ZUB_DESER_TYPE_VAR32:
    case ZUB_DESER_TYPE_STRING:
        handle_counted(s, e, kind, member);
        finish_member(s, c);
        return;
    case ZUB_DESER_TYPE_FIXED:
        // Only an atom size makes sense here; a table pointer would give a
        // member of pointer-value times fixedCount bytes.
        if (argument_is_table(e)) {
            invalid_entry(s, kind);
            return;
        }
        s.totalBytesOfMember = atom_size(e) * ZUB_ENDIAN_FIXED_COUNT(e);
        s.state = ZUB_SIS_WRITE_ARRAY;
        finish_member(s, c);
        return;
    case ZUB_DESER_TYPE_MODIFIER: advance_entry(s); return;
    default: invalid_entry(s, kind); return;
    }
}

// The walk works on a local copy of the walk fields (see the design note),
// taken and stored back field by field: a whole-record block copy would
// read, in wide words, fields the caller has just stored one by one (and
// store back fields the walk has just stored), which the processor cannot
// forward and has to wait for. The buffer fields and totalBytes stay in
// the caller's record, read once and written once; fields the serializer
// never changes are not stored back.
ZUB_WALK_INLINE void load_record(zubDeserState_t &s, const zubDeserState_t &r)
{
    s.stack = r.stack;
    s.stackCapacity = r.stackCapacity;
    s.current.table = r.current.table;
    s.current.entry = r.current.entry;
    s.current.count = r.current.count;
    s.current.index = r.current.index;
    s.current.multiplicity = r.current.multiplicity;
    s.current.base = r.current.base;
    s.state = r.state;
    s.nextState = r.nextState;
    s.bytesOfMemberDone = r.bytesOfMemberDone;
    s.totalBytesOfMember = r.totalBytesOfMember;
    s.stackDepth = r.stackDepth;
    s.errorCode = r.errorCode;
    s.srcval = r.srcval;
}

ZUB_WALK_INLINE void store_record(zubDeserState_t &r, const zubDeserState_t &s)
{
    r.current.table = s.current.table;
    r.current.entry = s.current.entry;
    r.current.count = s.current.count;
    r.current.index = s.current.index;
    r.current.multiplicity = s.current.multiplicity;
    r.current.base = s.current.base;
    r.state = s.state;
    r.nextState = s.nextState;
    r.bytesOfMemberDone = s.bytesOfMemberDone;
    r.totalBytesOfMember = s.totalBytesOfMember;
    r.stackDepth = s.stackDepth;
    r.errorCode = s.errorCode;
    r.srcval = s.srcval;
}

int32_t serialize(zubDeserState_t *record)
{
    // A position past the end is taken as a full buffer.
    const uint32_t length = record->bufferLength;
    const uint32_t position = record->bufferPosition;
    Cursor c;
    c.space = position <= length ? length - position : 0u;
    c.out = record->buffer + (length - c.space);
    const uint32_t spaceAtStart = c.space;
    zubDeserState_t s;
    load_record(s, *record);

    s.errorCode = 0;
    while (s.errorCode == 0) {
        switch (s.state) {
        case ZUB_SIS_START_TABLE: start_table(s); break;
        case ZUB_SIS_ADVANCE_ENTRY: advance_entry(s); break;
        case ZUB_SIS_HANDLE_ENTRY:
            FastWalk(s, c).run();
            if (s.state == ZUB_SIS_HANDLE_ENTRY) {
                // One entry the fast walk cannot finish: the full steps.
                handle_entry(s, c);
            }
            break;
        case ZUB_SIS_ENTER_ELEMENTS: enter_elements(s); break;
        case ZUB_SIS_START_ARRAY: start_array(s); break;
        case ZUB_SIS_WRITING_INTEGRAL:
            if (c.space != 0 && move_integral(s, c)) {
                s.state = s.nextState;
            } else {
                // No space, or none left after the part that fitted.
                integral_overrun(s);
            }
            break;
        case ZUB_SIS_WRITE_ARRAY: write_array(s, c); break;
        default: // 5 and 8; values above 8 never reach the loop
            ZUB_SER_DIAG("Invalid internal state %d.\n", static_cast<int>(s.state));
            fail(s, ZUB_EFAULT);
            break;
        }
    }

    record->totalBytes += spaceAtStart - c.space;
    record->bufferPosition = length - c.space;
    store_record(*record, s);
    return s.errorCode < 0 ? s.errorCode : 0;
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
    (void)push_table(&s);
    const int32_t result = serialize(&s);
    if (result < 0) {
        return result;
    }
    (void)pop_table(&s);
    return static_cast<int32_t>(s.bufferPosition);
}

} // extern "C"
