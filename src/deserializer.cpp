// Deserializer: rebuilds a host structure from its big-endian byte stream,
// one chunk per call.
//
// Design. The walk is the serializer's state machine read backwards: the
// traversal record holds the whole progress (table, entry, element index,
// the byte of the member reached), so a chunk may end at any byte and the
// next call goes on from there. A call takes the record into a local Walk
// and gives it back as table_walk.h says.
//
// The entries are walked on the table walker (table_walk.h). Every state
// does what the byte-at-a-time reading does. Where the chunk holds the
// rest of a member the same state takes it in one step (a byte-swapped
// word load for an integer or count, word swaps for whole atoms, one copy
// for bytes), and the record ends up exactly as the byte steps would leave
// it: srcval below the integer's first byte, bytesOfMemberDone equal to
// totalBytesOfMember. In ZUB_DIS_HANDLE_ENTRY the members that the chunk
// holds whole (integers, limits, arrays of atoms, nested structures, the
// next element of an array of structures) are taken entry after entry
// without a round through the state switch; a member cut by the end of the
// chunk, or one that allocates an array of structures, goes on through
// the states.
//
// Memory safety against a hostile stream: counts are multiplied in 64 bits
// before anything is allocated, so an element count of 0xFFFFFFFF asks for
// its true size (and fails) instead of a wrapped small block; arrays of
// atoms are refused above 2 MiB; the only memory written is the structure
// being filled and the blocks this walk allocated.
//
// Choices where the walk is left open:
//  - An array of atoms above 0x200000 bytes ends the walk after the
//    backtrace and the assertion message: FAILED, errorCode and result -1,
//    nothing allocated, none of its bytes read.
//  - Entries the walk cannot read are invalid entries (the message, -14):
//    a string without a count field (memberOffset 0xFFFF), a fixed
//    array whose argument is a table, a nested structure whose argument is
//    not one.
//  - Arrays of structures from the default allocator come from calloc.
//  - A bufferPosition above bufferLength reads nothing; the position stays.
#include <cstring>

#include "zub/osal.h"
#include "zub/serialization.h"

#include "internal/alloc.h"
#include "internal/atoms.h"
#include "internal/bytes.h"
#include "internal/diag.h"
#include "internal/table_walk.h"

namespace {

using namespace zub::detail;

constexpr uint64_t kAtomArrayLimit = ZUB_DESER_MAX_MEMBER_BYTES; // 2 MiB per counted member
// An atom array above the limit fails the walk with this result.
constexpr int16_t kTooLongResult = ZUB_EFAIL;
constexpr uint8_t kFreshFill = 0x75; // bytes of an atom block not yet received

struct Walk : WalkState {
    const zubAllocator_t *allocator;
    const uint8_t *in;
    const uint8_t *end;
};

ZUB_WALK_INLINE size_t available(const Walk &w)
{
    return static_cast<size_t>(w.end - w.in);
}

ZUB_WALK_INLINE uint8_t *base_bytes(const Walk &w)
{
    return static_cast<uint8_t *>(w.lv.cur.base);
}

ZUB_WALK_INLINE void fail(Walk &w, int16_t error)
{
    w.error = error;
    w.state = ZUB_DIS_FAILED;
}

void *allocate_block(const zubAllocator_t *allocator, uint64_t bytes, bool zeroed)
{
    if (!fits_size_t(bytes)) {
        return nullptr;
    }
    if (zeroed && is_default_allocator(allocator)) {
        // Arrays of structures from the default allocator come zero-filled,
        // so that a walk that stops half way leaves null data pointers in
        // the elements it never reached, and the release passes them over.
        return std::calloc(1, static_cast<size_t>(bytes));
    }
    return allocate(allocator, bytes);
}

// An integer that the chunk holds whole, stored as the byte steps leave it:
// srcval one below its first byte, bytesOfMemberDone = totalBytesOfMember.
ZUB_WALK_INLINE void take_integer(Walk &w, uint8_t *member, uint32_t width)
{
    switch (width) {
    case 1: *member = *w.in; break;
    case 2: store<uint16_t>(member, load_be16(w.in)); break;
    case 4: store<uint32_t>(member, load_be32(w.in)); break;
    default: store<uint64_t>(member, load_be64(w.in)); break;
    }
    w.in += width;
    w.done = w.total = width;
    w.srcval = reinterpret_cast<uintptr_t>(member) - 1;
}

// Integer or count: bytes arrive most significant first and are stored
// from the member's last byte downwards.
ZUB_WALK_INLINE void read_integral(Walk &w)
{
    const uint32_t needed = w.total - w.done;
    const size_t avail = available(w);
    if (avail == 0) {
        w.error = ZUB_DES_ERR_XRUN;
        return;
    }
    if (w.done == 0 && avail >= needed && valid_atom(needed)) {
        // The whole integer: one swap, stored at its first byte.
        take_integer(w, reinterpret_cast<uint8_t *>(w.srcval - (needed - 1)), needed);
    } else {
        const uint32_t n = avail < needed ? static_cast<uint32_t>(avail) : needed;
        for (uint32_t i = 0; i < n; ++i) {
            *reinterpret_cast<unsigned char *>(w.srcval) = *w.in++;
            w.srcval -= 1;
        }
        w.done += n;
    }
    if (w.done == w.total) {
        w.state =
            w.nextState == ZUB_DIS_ADVANCE_ENTRY ? ZUB_DIS_ADVANCE_ENTRY : ZUB_DIS_CHECK_COUNT;
    }
}

ZUB_WALK_INLINE void read_array(Walk &w)
{
    const uint32_t needed = w.total - w.done;
    const size_t avail = available(w);
    if (needed > 0 && avail == 0) {
        w.error = ZUB_DES_ERR_XRUN;
        return;
    }
    const uint32_t n = avail < needed ? static_cast<uint32_t>(avail) : needed;
    const uint32_t a = atom_size(w.lv.cur.entry);
    auto *dst = reinterpret_cast<unsigned char *>(w.srcval);
    if (a == 1) {
        copy_bytes(dst + w.done, w.in, n);
    } else if (valid_atom(a)) {
        swap_any_atoms<false>(dst, w.done, w.in, n, a);
    } else {
        // The piece is consumed but not stored, so the stream keeps its length.
        ZUB_DIAG(2, 3000, 3, "Invalid atom size %d in table found.\n", static_cast<int>(a));
    }
    w.in += n;
    w.done += n;
    if (w.done == w.total) {
        w.state = ZUB_DIS_ADVANCE_ENTRY;
        w.lv.cur.multiplicity = kNoLimit;
    }
}

ZUB_WALK_INLINE void start_array(Walk &w)
{
    const zubEndianInfoEntry_t *entry = w.lv.cur.entry;
    const uint32_t a = atom_size(entry);
    const uint64_t bytes = static_cast<uint64_t>(w.lv.cur.count) * a;
    w.done = 0;
    // The record's field is 32 bits wide; a larger product is above the limit anyway.
    w.total = bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(bytes);
    unsigned char *field = pointer_field(base_bytes(w), entry);
    if (bytes == 0) {
        store_ptr(field, nullptr);
        w.srcval = 0;
        w.state = ZUB_DIS_ADVANCE_ENTRY;
        return;
    }
    if (bytes > kAtomArrayLimit) {
        zubOsalWriteBacktrace();
        ZUB_DIAG(1, 1000, 0, "Test for \"s->totalBytesOfMember>0x200000\"was true: \"%s\"",
                 "member length is unexpected");
        // Nothing is allocated or read for the member, and the walk ends here:
        // a caller that keeps feeding chunks gets 0 back at once.
        fail(w, kTooLongResult);
        return;
    }
    auto *block = static_cast<unsigned char *>(allocate_block(w.allocator, bytes, false));
    if (block == nullptr) {
        fail(w, ZUB_DES_ERR_NOMEM);
        return;
    }
    // Bytes not received yet read 0x75. When this chunk holds the whole
    // member every byte is overwritten before the call returns, so the fill
    // is left out.
    if (!(valid_atom(a) && available(w) >= bytes)) {
        std::memset(block, kFreshFill, static_cast<size_t>(bytes));
    }
    store_ptr(field, block);
    w.srcval = reinterpret_cast<uintptr_t>(block);
    w.state = ZUB_DIS_READ_ARRAY;
}

ZUB_WALK_INLINE void enter_elements(Walk &w)
{
    const zubEndianInfoEntry_t *entry = w.lv.cur.entry;
    uint8_t *field = pointer_field(base_bytes(w), entry);
    if (w.lv.cur.count == 0) {
        store_ptr(field, nullptr);
        w.state = ZUB_DIS_ADVANCE_ENTRY;
        return;
    }
    const zubEndianTable_t *element = argument_table(entry);
    uint64_t bytes = 0;
    void *block = nullptr;
    if (checked_size(w.lv.cur.count, element->size, &bytes)) {
        block = allocate_block(w.allocator, bytes, true);
    }
    if (block == nullptr) {
        fail(w, ZUB_DES_ERR_NOMEM);
        return;
    }
    store_ptr(field, block);
    // The saved level keeps the element count.
    if (!enter(w.lv, element, block)) {
        fail(w, ZUB_ESTACKFULL);
        return;
    }
    w.state = ZUB_DIS_START_TABLE;
}

ZUB_WALK_INLINE void check_count(Walk &w)
{
    const zubEndianInfoEntry_t *entry = w.lv.cur.entry;
    w.lv.cur.count =
        load_count(base_bytes(w) + entry->memberOffset, count_width(entry_kind(entry)));
    if (w.lv.cur.count > w.lv.cur.multiplicity) {
        ZUB_DIAG(2, 3000, 3, "Incoming data exceeded multiplicity (%d>%d).\n",
                 static_cast<int>(w.lv.cur.count), static_cast<int>(w.lv.cur.multiplicity));
        fail(w, ZUB_DES_ERR_MULTIPLICITY);
        return;
    }
    w.lv.cur.multiplicity = kNoLimit;
    w.state = w.nextState;
}

// The start of a table: the top level, a nested structure or an element.
ZUB_WALK_INLINE void start_table(Walk &w)
{
    if (w.lv.cur.base == nullptr) {
        fail(w, ZUB_DES_ERR_NOMEM);
        return;
    }
    w.lv.cur.entry = w.lv.cur.table->entries;
    w.lv.cur.multiplicity = kNoLimit;
    w.state = ZUB_DIS_HANDLE_ENTRY;
}

[[gnu::cold, gnu::noinline]] void report_invalid_entry(uint32_t kind)
{
    ZUB_DIAG(2, 3000, 3, "Invalid endian table entry %d.\n", static_cast<int>(kind));
}

// A counted array of atoms whose count and data the chunk holds whole and
// whose count passes the limit: count, block and data in one step, the
// record left as the states leave it. False (nothing done) otherwise.
ZUB_WALK_INLINE bool take_atoms(Walk &w, const zubEndianInfoEntry_t *e, uint8_t *member,
                                uint32_t width)
{
    const uint32_t a = atom_size(e);
    const size_t avail = available(w);
    // One-byte atoms (every string) first: one compare, no product.
    if (avail < width || (a != 1 && !valid_atom(a))) {
        return false;
    }
    uint32_t count;
    switch (width) {
    case 1: count = *w.in; break;
    case 2: count = load_be16(w.in); break;
    default: count = load_be32(w.in); break;
    }
    const uint64_t bytes = a == 1 ? count : static_cast<uint64_t>(count) * a;
    if (count > w.lv.cur.multiplicity || bytes > kAtomArrayLimit || avail - width < bytes) {
        return false;
    }
    switch (width) {
    case 1: *member = static_cast<uint8_t>(count); break;
    case 2: store<uint16_t>(member, static_cast<uint16_t>(count)); break;
    default: store<uint32_t>(member, count); break;
    }
    w.in += width;
    w.lv.cur.count = count;
    w.lv.cur.multiplicity = kNoLimit;
    w.nextState = ZUB_DIS_START_ARRAY;
    void *block = nullptr;
    if (bytes != 0) {
        block = allocate_block(w.allocator, bytes, false);
        if (block == nullptr) {
            // As the states leave it: count stored, its data not begun.
            w.done = 0;
            w.total = static_cast<uint32_t>(bytes);
            w.srcval = reinterpret_cast<uintptr_t>(member) - 1;
            fail(w, ZUB_DES_ERR_NOMEM);
            return true;
        }
        if (a == 1) {
            copy_bytes(static_cast<uint8_t *>(block), w.in, static_cast<uint32_t>(bytes));
        } else {
            swap_any_atoms<false>(static_cast<uint8_t *>(block), 0, w.in,
                                  static_cast<uint32_t>(bytes), a);
        }
    }
    w.in += bytes;
    store_ptr(pointer_field(base_bytes(w), e), block);
    w.done = w.total = static_cast<uint32_t>(bytes);
    w.srcval = reinterpret_cast<uintptr_t>(block);
    w.lv.cur.entry += 1;
    return true;
}

// One entry of ZUB_DIS_HANDLE_ENTRY; true while the walk goes on in this
// state. Members the chunk holds whole are taken at once; a member that
// needs more bytes, or an array of structures, is set up for the states.
ZUB_WALK_INLINE bool take_entry(Walk &w)
{
    const zubEndianInfoEntry_t *e = w.lv.cur.entry;
    if (entry_is_end(e)) {
        switch (end_of_table(w.lv)) {
        case TableEnd::Walk:
            w.state = ZUB_DIS_DONE;
            w.error = ZUB_DES_ERR_XRUN;
            return false;
        case TableEnd::Element: start_table(w); break;
        case TableEnd::Parent: break;
        }
        return w.state == ZUB_DIS_HANDLE_ENTRY;
    }
    const EntryHead head = entry_head(e);
    const uint32_t kind = head.kind();
    uint8_t *member = base_bytes(w) + head.member_offset();
    if (is_integer_kind(kind)) {
        w.nextState = ZUB_DIS_ADVANCE_ENTRY;
        if (available(w) >= kind) {
            take_integer(w, member, kind);
            w.lv.cur.entry += 1;
            return true;
        }
        w.done = 0;
        w.total = kind;
        w.srcval = reinterpret_cast<uintptr_t>(member) + kind - 1;
        w.state = ZUB_DIS_READING_INTEGRAL;
        return false;
    }
    w.done = 0;
    w.srcval = reinterpret_cast<uintptr_t>(member);
    // Counted members next, the commonest after integers.
    if (is_counted_kind(kind) && !lacks_count_field(e)) {
        const uint32_t width = count_width(kind);
        if (!argument_is_table(e) && take_atoms(w, e, member, width)) {
            return w.error == 0;
        }
        // The count through the states: read, checked, then the data.
        w.total = width;
        w.srcval += width - 1;
        w.nextState = argument_is_table(e) ? ZUB_DIS_ENTER_ELEMENTS : ZUB_DIS_START_ARRAY;
        w.state = ZUB_DIS_READING_INTEGRAL;
        return false;
    }
    if (kind == ZUB_DESER_TYPE_MODIFIER) {
        if (entry_high12(e) == 0) {
            w.lv.cur.multiplicity = entry_argument32(e);
        }
        w.lv.cur.entry += 1;
        return true;
    }
    if (kind == ZUB_DESER_TYPE_TABLE && argument_is_table(e)) {
        w.lv.cur.count = 0;
        if (!enter(w.lv, argument_table(e), member)) {
            fail(w, ZUB_ESTACKFULL);
            return false;
        }
        w.lv.cur.multiplicity = kNoLimit;
        return true;
    }
    if (kind == ZUB_DESER_TYPE_FIXED && !argument_is_table(e)) {
        // An element table cannot stand inline; only atoms can.
        w.lv.cur.count = entry_high12(e);
        w.total = w.lv.cur.count * atom_size(e);
        w.state = ZUB_DIS_READ_ARRAY;
        return false;
    }
    report_invalid_entry(kind);
    fail(w, ZUB_EFAULT);
    return false;
}

// ZUB_DIS_HANDLE_ENTRY: entry after entry. A count that the chunk holds
// whole is read and checked at once (integers reach the states only when
// cut).
ZUB_WALK_INLINE void handle_entries(Walk &w)
{
    while (take_entry(w)) {
    }
    if (w.state == ZUB_DIS_READING_INTEGRAL && available(w) >= w.total) {
        read_integral(w);
        check_count(w);
    }
}

ZUB_WALK_INLINE void step(Walk &w)
{
    switch (w.state) {
    case ZUB_DIS_START_TABLE: start_table(w); return;
    case ZUB_DIS_ENTER_ELEMENTS: enter_elements(w); return;
    case ZUB_DIS_HANDLE_ENTRY: handle_entries(w); return;
    case ZUB_DIS_ADVANCE_ENTRY:
        w.lv.cur.entry += 1;
        w.state = ZUB_DIS_HANDLE_ENTRY;
        return;
    case ZUB_DIS_READING_INTEGRAL: read_integral(w); return;
    case ZUB_DIS_START_ARRAY: start_array(w); return;
    case ZUB_DIS_READ_ARRAY: read_array(w); return;
    case ZUB_DIS_CHECK_COUNT: check_count(w); return;
    default:
        ZUB_DIAG(2, 3000, 3, "Invalid internal state %d.\n", static_cast<int>(w.state));
        fail(w, ZUB_EFAULT);
        return;
    }
}

int32_t deserialize(zubDeserState_t *s)
{
    if (s->state > ZUB_DIS_CHECK_COUNT) {
        return 0;
    }
    Walk w;
    copy_in(w, s);
    w.allocator = s->allocator;
    // A position past the end of the chunk leaves nothing to read.
    const uint32_t position =
        s->bufferPosition < s->bufferLength ? s->bufferPosition : s->bufferLength;
    const uint8_t *start = static_cast<const uint8_t *>(s->buffer) + position;
    w.in = start;
    w.end = static_cast<const uint8_t *>(s->buffer) + s->bufferLength;

    while (w.error == 0) {
        step(w);
    }

    const auto consumed = static_cast<uint32_t>(w.in - start);
    write_back(w, s);
    s->bufferPosition += consumed;
    s->totalBytes += consumed;
    return w.error < 0 ? w.error : 0;
}

} // namespace

extern "C" int32_t _zubDeserializeTableFrom(zubDeserState_t *s)
{
    if (s == nullptr) {
        return ZUB_EINVAL;
    }
    return deserialize(s);
}
