// Serializer: writes a host structure as the big-endian byte stream that its
// type description table describes, resumably.
//
// Design. The whole progress of a walk lives in the caller's
// zubDeserState_t (the current table state, the stack of enclosing levels,
// the state number and, for the member being written, srcval,
// bytesOfMemberDone and totalBytesOfMember); a call takes it into a local
// Walk and gives it back as table_walk.h says. The walk is the
// deserializer's read forwards: in ZUB_SIS_HANDLE_ENTRY put_entry takes
// one entry, puts its member whole when it fits the buffer (one swapped
// store for an integer, word swaps or one copy for atom data, nested
// structures and elements entered on the spot) and otherwise leaves it set
// up for the state that moves it byte by byte. Both ways run the same
// helpers, so the record ends up as the byte steps would leave it:
//  - put_integral: a scalar or a count, most significant byte first; srcval
//    starts at the member's last byte and walks down one byte per byte.
//  - put_atoms: atom data; byte j of the member (j counted over all calls)
//    is the byte at srcval + (j XOR (atom size - 1)).
// Both move exactly the part of the member that fits, so a walk through
// buffers of any size, down to one byte, writes the same stream.
#include "zub/serialization.h"

#include <cstddef>
#include <cstring>

#include "internal/atoms.h"
#include "internal/bytes.h"
#include "internal/diag.h"
#include "internal/table_walk.h"
#include "zub/osal.h"

namespace {

using namespace zub::detail;

// The walkers' level 2 sites carry 3 in their second word.
#define ZUB_SER_DIAG(...) ZUB_DIAG(2, 3000, 3u, __VA_ARGS__)

// What a 32-bit count of 0xFFFFFFFF (the null data pointer mark) is sent as.
constexpr uint8_t kZeroCount[4] = {0, 0, 0, 0};

struct Walk : WalkState {
    uint8_t *out;   // where the next byte goes
    uint32_t space; // bytes that still fit
};

ZUB_WALK_INLINE void fail(Walk &w, int16_t code)
{
    w.state = ZUB_SIS_FAILED;
    w.error = code;
}

// Cold: messages only.
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

// The sizeof(T) bytes of an integer that end at srcval, most significant
// first: one swapped load and store.
template <typename T> ZUB_WALK_INLINE void put_swapped(Walk &w)
{
    constexpr uint32_t n = sizeof(T);
    const auto *low = reinterpret_cast<const uint8_t *>(w.srcval + 1u - n);
    store<T>(w.out, bswap(load<T>(low)));
    w.out += n;
    w.space -= n;
    w.srcval -= n;
    w.done += n;
}

// Moves what fits of the integer whose next byte is at srcval; true when
// it is complete, false also when there is no space at all. Byte i of this
// step is the byte at srcval - i.
ZUB_WALK_INLINE bool put_integral(Walk &w)
{
    const uint32_t rest = w.total - w.done;
    const uint32_t n = rest <= w.space ? rest : w.space;
    switch (n) {
    case 8: put_swapped<uint64_t>(w); break;
    case 4: put_swapped<uint32_t>(w); break;
    case 2: put_swapped<uint16_t>(w); break;
    default:
        if (w.space == 0) {
            return false;
        }
        for (uint32_t i = 0; i < n; ++i) {
            w.out[i] = *reinterpret_cast<const uint8_t *>(w.srcval - i);
        }
        w.out += n;
        w.space -= n;
        w.srcval -= n;
        w.done += n;
        break;
    }
    return w.done == w.total;
}

// Moves n bytes (already cut to the space) of the atom data at srcval. An
// invalid atom size leaves the n bytes unwritten but counted, so that the
// stream keeps its length.
ZUB_WALK_INLINE void put_atoms(Walk &w, uint32_t n)
{
    const uint32_t atom = atom_size(w.lv.cur.entry);
    const auto *data = reinterpret_cast<const uint8_t *>(w.srcval);
    if (atom == 1) {
        copy_bytes(w.out, data + w.done, n);
    } else if (valid_atom(atom)) {
        swap_any_atoms<true>(data, w.done, w.out, n, atom);
    } else {
        ZUB_SER_DIAG("Invalid atom size %d in table found.\n", static_cast<int>(atom));
    }
    w.out += n;
    w.space -= n;
    w.done += n;
}

// ZUB_SIS_ENTER_ELEMENTS: element 0 of an array of structures; its level
// is saved with the element count.
ZUB_WALK_INLINE void enter_elements(Walk &w)
{
    const zubEndianInfoEntry_t *e = w.lv.cur.entry;
    if (!enter(w.lv, argument_table(e), load_data_pointer(w.lv.cur.base, e))) {
        fail(w, ZUB_ESTACKFULL);
        return;
    }
    w.state = ZUB_SIS_HANDLE_ENTRY;
}

// ZUB_SIS_START_ARRAY: the atom data of a counted member, after its count.
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
    w.srcval = reinterpret_cast<uintptr_t>(load_data_pointer(w.lv.cur.base, e));
    w.state = ZUB_SIS_WRITE_ARRAY;
}

// The rest of the atom data when it fits, then the next entry; false
// (nothing done) when it does not.
ZUB_WALK_INLINE bool put_array_rest(Walk &w)
{
    const uint32_t n = w.total - w.done;
    if (n > w.space) {
        return false;
    }
    put_atoms(w, n);
    advance_entry(w);
    return true;
}

// ZUB_SIS_WRITE_ARRAY. The overrun report stays inline: a resumable walk
// through a small buffer makes one at the end of every call.
ZUB_WALK_INLINE void write_array(Walk &w)
{
    if (put_array_rest(w)) {
        return;
    }
    if (w.space != 0) {
        // Cut by the end of the buffer: the next step would find no space
        // and report it, so report it now.
        put_atoms(w, w.space);
    }
    ZUB_SER_DIAG("errorCode ZUB_DES_ERR_XRUN when ZUB_SIS_WRITE_ARRAY.\n");
    w.error = ZUB_DES_ERR_XRUN;
}

// The integer is complete: on to its next state; the atom data after a
// count go on at once when they fit (else ZUB_SIS_WRITE_ARRAY writes what
// does).
ZUB_WALK_INLINE void integral_done(Walk &w)
{
    w.state = w.nextState;
    if (w.state == ZUB_SIS_ADVANCE_ENTRY) {
        advance_entry(w);
    } else if (w.state == ZUB_SIS_ENTER_ELEMENTS) {
        enter_elements(w);
    } else {
        start_array(w);
        if (w.error == 0) {
            put_array_rest(w);
        }
    }
}

// ZUB_SIS_WRITING_INTEGRAL: the integer's rest.
ZUB_WALK_INLINE void writing_integral(Walk &w)
{
    if (!put_integral(w)) {
        // No space, or none left after the part that fitted.
        ZUB_SER_DIAG("errorCode ZUB_DES_ERR_XRUN when ZUB_SIS_WRITING_INTEGRAL.\n");
        w.error = ZUB_DES_ERR_XRUN;
        return;
    }
    // On to nextState through the state loop; a value that is none of the
    // three goes on with the atom data, as a count of atoms would.
    w.state = w.nextState;
    if (w.state != ZUB_SIS_ADVANCE_ENTRY && w.state != ZUB_SIS_ENTER_ELEMENTS) {
        w.state = ZUB_SIS_START_ARRAY;
    }
}

// An integer member of T: whole when it fits, else left to
// ZUB_SIS_WRITING_INTEGRAL.
template <typename T> ZUB_WALK_INLINE bool put_integer(Walk &w, const uint8_t *member)
{
    w.srcval = reinterpret_cast<uintptr_t>(member) + sizeof(T) - 1u;
    w.done = 0;
    w.total = sizeof(T);
    w.nextState = ZUB_SIS_ADVANCE_ENTRY;
    if (w.space < sizeof(T)) [[unlikely]] {
        w.state = ZUB_SIS_WRITING_INTEGRAL;
        return false;
    }
    put_swapped<T>(w);
    w.lv.cur.entry += 1;
    return true;
}

// A counted member whose count field is a T: the count, whole when it
// fits, then its data or elements.
template <typename T>
ZUB_WALK_INLINE bool put_counted(Walk &w, const zubEndianInfoEntry_t *e, uint8_t *member)
{
    if (lacks_count_field(e)) [[unlikely]] {
        // A string without a count field has no length to send: refused.
        invalid_entry(w, entry_kind(e));
        return false;
    }
    if (e->memberOffset == kNoCountField) [[unlikely]] {
        report_far_count();
    }
    uint32_t count = load<T>(member);
    w.done = 0;
    w.total = sizeof(T);
    w.srcval = reinterpret_cast<uintptr_t>(member) + sizeof(T) - 1u;
    w.nextState = ZUB_SIS_ADVANCE_ENTRY;
    if (sizeof(T) == 4 && count == 0xFFFFFFFFu) [[unlikely]] {
        report_null_mark();
        count = 0;
        w.srcval = reinterpret_cast<uintptr_t>(kZeroCount + 3);
    } else if (count != 0) {
        w.nextState = argument_is_table(e) ? ZUB_SIS_ENTER_ELEMENTS : ZUB_SIS_START_ARRAY;
    }
    w.lv.cur.count = count;
    w.state = ZUB_SIS_WRITING_INTEGRAL;
    if (w.space < sizeof(T)) [[unlikely]] {
        return false;
    }
    put_swapped<T>(w);
    integral_done(w);
    return w.state == ZUB_SIS_HANDLE_ENTRY;
}

// Kinds other than integers and counts start their byte state at the
// member itself.
ZUB_WALK_INLINE void at_member(Walk &w, const uint8_t *member)
{
    w.done = 0;
    w.srcval = reinterpret_cast<uintptr_t>(member);
}

// One entry of ZUB_SIS_HANDLE_ENTRY; true while the walk goes on in this
// state. A member that fits is put whole; one cut by the end of the buffer
// is left in the state that writes it on.
ZUB_WALK_INLINE bool put_entry(Walk &w)
{
    const zubEndianInfoEntry_t *e = w.lv.cur.entry;
    if (entry_is_end(e)) {
        if (end_of_table(w.lv) == TableEnd::Walk) {
            w.state = ZUB_SIS_DONE;
            w.error = ZUB_DES_ERR_XRUN;
            return false;
        }
        return true;
    }
    const EntryHead head = entry_head(e);
    const unsigned kind = head.kind();
    uint8_t *member = static_cast<uint8_t *>(w.lv.cur.base) + head.member_offset();
    // The commonest kind first, one predictable branch before the table.
    if (kind == ZUB_DESER_TYPE_U32) [[likely]] {
        return put_integer<uint32_t>(w, member);
    }
    switch (kind) {
    case ZUB_DESER_TYPE_U8: return put_integer<uint8_t>(w, member);
    case ZUB_DESER_TYPE_U16: return put_integer<uint16_t>(w, member);
    case ZUB_DESER_TYPE_U64: return put_integer<uint64_t>(w, member);
    case ZUB_DESER_TYPE_VAR8: return put_counted<uint8_t>(w, e, member);
    case ZUB_DESER_TYPE_VAR16:
    case ZUB_DESER_TYPE_STRING: return put_counted<uint16_t>(w, e, member);
    case ZUB_DESER_TYPE_VAR32: return put_counted<uint32_t>(w, e, member);
    case ZUB_DESER_TYPE_MODIFIER:
        at_member(w, member);
        w.lv.cur.entry += 1;
        return true;
    case ZUB_DESER_TYPE_TABLE:
        at_member(w, member);
        if (!argument_is_table(e)) {
            break;
        }
        w.lv.cur.count = 0;
        if (!enter(w.lv, argument_table(e), member)) {
            fail(w, ZUB_ESTACKFULL);
            return false;
        }
        return true;
    case ZUB_DESER_TYPE_FIXED:
        at_member(w, member);
        // Only an atom size makes sense here; a table pointer would give a
        // member of pointer-value times fixedCount bytes.
        if (argument_is_table(e)) {
            break;
        }
        w.total = atom_size(e) * entry_high12(e);
        w.state = ZUB_SIS_WRITE_ARRAY;
        return put_array_rest(w);
    default: at_member(w, member); break;
    }
    invalid_entry(w, kind);
    return false;
}

// Inlined into both entry points: in the one-call form the record is a
// local that nobody reads afterwards, so the per-member bookkeeping of its
// walk drops out.
ZUB_WALK_INLINE int32_t serialize(zubDeserState_t *record)
{
    // A position past the end is taken as a full buffer.
    const uint32_t length = record->bufferLength;
    const uint32_t position = record->bufferPosition;
    Walk w;
    copy_in(w, record);
    w.space = position <= length ? length - position : 0u;
    w.out = record->buffer + (length - w.space);
    const uint32_t spaceAtStart = w.space;

    while (w.error == 0) {
        if (w.state == ZUB_SIS_HANDLE_ENTRY) [[likely]] {
            while (put_entry(w)) {
            }
            continue;
        }
        switch (w.state) {
        case ZUB_SIS_START_TABLE:
            w.lv.cur.entry = w.lv.cur.table->entries;
            w.state = ZUB_SIS_HANDLE_ENTRY;
            break;
        case ZUB_SIS_ADVANCE_ENTRY: advance_entry(w); break;
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
    write_back(w, record);
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
    // The top level pushed once; the record is ours and ends here, so there
    // is nothing to pop afterwards.
    stack[0] = s.current;
    s.stackDepth = 1;
    const int32_t result = serialize(&s);
    return result < 0 ? result : static_cast<int32_t>(s.bufferPosition);
}

} // extern "C"
