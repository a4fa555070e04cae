// Serializer: writes a host structure as the big-endian byte stream that its
// type description table describes, resumably.
//
// Design. The whole progress of a walk lives in the caller's
// zubDeserState_t: the current table state, the stack of enclosing levels,
// the state number and, for the member being written, srcval,
// bytesOfMemberDone and totalBytesOfMember. A call runs the state machine
// until the buffer runs out, the walk ends or it fails. It works on a local
// copy of the record and stores it back on the way out: the buffer is byte
// memory that may alias anything, so writing through the caller's record
// would make the compiler reload every field after every store.
//
// Every byte leaves through one of two helpers, both of which move exactly
// the part of the member that fits:
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
// A member that fits whole is carried from its entry through its count,
// data and on to the next entry in one step (finish_member), without a
// trip round the state loop; it stops wherever the loop would have to
// report a lack of space, so the loop takes over in exactly that state.
#include "zub/serialization.h"

#include <cstring>

#include "internal/bytes.h"
#include "internal/diag.h"
#include "internal/serial_walk.h"
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
    if (n >= 8 && n <= 16) {
        std::memcpy(out, src, 8);
        std::memcpy(out + n - 8, src + n - 8, 8);
    } else if (n >= 4 && n < 8) {
        std::memcpy(out, src, 4);
        std::memcpy(out + n - 4, src + n - 4, 4);
    } else if (n < 4) {
        for (uint32_t i = 0; i < n; ++i) {
            out[i] = src[i];
        }
    } else {
        std::memcpy(out, src, n);
    }
}

// n bytes of a member of T-sized atoms, starting at member byte d.
template <typename T>
ZUB_WALK_INLINE void swap_atoms(uint8_t *__restrict out, const uint8_t *__restrict src, uint32_t d, uint32_t n)
{
    constexpr uint32_t mask = sizeof(T) - 1u;
    uint32_t i = 0;
    for (; i < n && ((d + i) & mask) != 0; ++i) {
        out[i] = src[(d + i) ^ mask];
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
            s.current.base = load_data_pointer(parent.base, parent.entry) +
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
    s.current.base = load_data_pointer(s.current.base, e);
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
    s.srcval = load_data_pointer(s.current.base, e);
    s.state = ZUB_SIS_WRITE_ARRAY;
}

ZUB_WALK_INLINE void write_array(zubDeserState_t &s, Cursor &c)
{
    uint32_t n = s.totalBytesOfMember - s.bytesOfMemberDone;
    if (n > c.space) {
        if (c.space == 0) {
            ZUB_SER_DIAG("errorCode ZUB_DES_ERR_XRUN when ZUB_SIS_WRITE_ARRAY.\n");
            s.errorCode = ZUB_DES_ERR_XRUN;
            return;
        }
        n = c.space;
    }
    move_atoms(s, c, n);
    if (s.bytesOfMemberDone == s.totalBytesOfMember) {
        advance_entry(s);
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

ZUB_WALK_INLINE void handle_counted(zubDeserState_t &s, const zubEndianInfoEntry_t *e, unsigned kind, uint8_t *member)
{
    if (e->memberOffset == 0xFFFFu) {
        // A member without a count field cannot be located: refused.
        if (kind == ZUB_DESER_TYPE_STRING) {
            invalid_entry(s, kind);
        } else {
            ZUB_SER_DIAG("s->srcval is NULL ");
            fail(s, ZUB_EFAULT);
        }
        return;
    }
    const uint32_t width = count_width(kind);
    s.current.count = load_count(member, width);
    s.totalBytesOfMember = width;
    s.srcval = member + width - 1u;
    if (s.current.count == 0) {
        s.nextState = ZUB_SIS_ADVANCE_ENTRY;
    } else if (s.current.count == 0xFFFFFFFFu) {
        ZUB_SER_DIAG("NULL pointers not supported except on strings. transmitting zero length instead.\n");
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
    case ZUB_DESER_TYPE_MODIFIER:
        advance_entry(s);
        return;
    default:
        invalid_entry(s, kind);
        return;
    }
}

int32_t serialize(zubDeserState_t *record)
{
    zubDeserState_t s = *record;
    // A position past the end is taken as a full buffer.
    Cursor c;
    c.space = s.bufferPosition <= s.bufferLength ? s.bufferLength - s.bufferPosition : 0u;
    c.out = s.buffer + (s.bufferLength - c.space);
    const uint32_t spaceAtStart = c.space;

    s.errorCode = 0;
    while (s.errorCode == 0) {
        switch (s.state) {
        case ZUB_SIS_START_TABLE: start_table(s); break;
        case ZUB_SIS_ADVANCE_ENTRY: advance_entry(s); break;
        case ZUB_SIS_HANDLE_ENTRY:
            // Members that fit whole come back here at once: stay.
            do {
                handle_entry(s, c);
            } while (s.state == ZUB_SIS_HANDLE_ENTRY);
            break;
        case ZUB_SIS_ENTER_ELEMENTS: enter_elements(s); break;
        case ZUB_SIS_START_ARRAY: start_array(s); break;
        case ZUB_SIS_WRITING_INTEGRAL:
            if (c.space == 0) {
                ZUB_SER_DIAG("errorCode ZUB_DES_ERR_XRUN when ZUB_SIS_WRITING_INTEGRAL.\n");
                s.errorCode = ZUB_DES_ERR_XRUN;
            } else if (move_integral(s, c)) {
                s.state = s.nextState;
            }
            break;
        case ZUB_SIS_WRITE_ARRAY: write_array(s, c); break;
        default: // 5 and 8; values above 8 never reach the loop
            ZUB_SER_DIAG("Invalid internal state %d.\n", static_cast<int>(s.state));
            fail(s, ZUB_EFAULT);
            break;
        }
    }

    s.totalBytes += spaceAtStart - c.space;
    s.bufferPosition = s.bufferLength - c.space;
    *record = s;
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

int32_t zubSimpleSerializeInto(uint8_t *buffer, uint32_t bufferLength, const zubEndianTable_t *table,
                               const void *data)
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
