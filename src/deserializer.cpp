// Deserializer: rebuilds a host structure from its big-endian byte stream,
// one chunk per call.
//
// Design. The walk is the serializer's state machine read backwards: the
// traversal record holds the whole progress (table, entry, element index,
// the byte of the member reached), so a chunk may end at any byte and the
// next call goes on from there. A call copies the record's fields into a
// local Walk (the stores into host memory are byte stores, which the
// compiler must assume could alias the record) and writes them back once,
// on the way out.
//
// Every state does what the byte-at-a-time reading does. Where the chunk
// holds the rest of a member the same state takes it in one step (a
// byte-swapped word load for an integer or count, word swaps for whole
// atoms, one copy for bytes), and the record ends up exactly as the byte
// steps would leave it: srcval below the integer's first byte,
// bytesOfMemberDone equal to totalBytesOfMember. Runs of entries that the
// chunk covers whole (integers, limits, arrays of atoms, the next element
// of an array of structures) are taken in one pass without a round
// through the state switch per step. Partial members go through the plain
// byte loop. The tests compare both ways after every cut of a stream.
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
#include "internal/bytes.h"
#include "internal/diag.h"
#include "internal/table_walk.h"

namespace {

using namespace zub::detail;

constexpr uint64_t kAtomArrayLimit = ZUB_DESER_MAX_MEMBER_BYTES; // 2 MiB per counted member
// An atom array above the limit fails the walk with this result.
constexpr int16_t kTooLongResult = ZUB_EFAIL;
constexpr uint8_t kFreshFill = 0x75; // bytes of an atom block not yet received

// The fields of the traversal record that the walk changes, held in locals
// for the length of one call.
struct Walk {
    zubDeserTableState_t cur; // table, entry, count, index, multiplicity, base
    uint32_t state;
    uint32_t nextState;
    uint32_t done;  // bytesOfMemberDone
    uint32_t total; // totalBytesOfMember
    uintptr_t srcval;
    uint16_t depth;
    int16_t error;
    zubDeserTableState_t *stack;
    uint16_t capacity;
    const zubAllocator_t *allocator;
    const uint8_t *in;
    const uint8_t *end;
};

inline size_t available(const Walk &w)
{
    return static_cast<size_t>(w.end - w.in);
}

inline unsigned char *base_bytes(const Walk &w)
{
    return static_cast<unsigned char *>(w.cur.base);
}

void fail(Walk &w, int16_t error)
{
    w.error = error;
    w.state = ZUB_DIS_FAILED;
}

bool push(Walk &w)
{
    if (w.depth >= w.capacity) {
        fail(w, ZUB_ESTACKFULL);
        return false;
    }
    w.stack[w.depth++] = w.cur;
    return true;
}

void pop(Walk &w)
{
    w.cur = w.stack[--w.depth];
}

void *allocate_block(const Walk &w, uint64_t bytes, bool zeroed)
{
    if (!fits_size_t(bytes)) {
        return nullptr;
    }
    if (zeroed && is_default_allocator(w.allocator)) {
        // Arrays of structures from the default allocator come zero-filled,
        // so that a walk that stops half way leaves null data pointers in
        // the elements it never reached, and the release passes them over.
        return std::calloc(1, static_cast<size_t>(bytes));
    }
    return allocate(w.allocator, bytes);
}

// Integer or count: bytes arrive most significant first and are stored
// from the member's last byte downwards.
void read_integral(Walk &w)
{
    const uint32_t needed = w.total - w.done;
    const size_t avail = available(w);
    if (avail == 0) {
        w.error = ZUB_DES_ERR_XRUN;
        return;
    }
    if (w.done == 0 && avail >= needed && valid_atom(needed)) {
        // The whole integer: one swap, stored at its first byte.
        auto *first = reinterpret_cast<unsigned char *>(w.srcval - (needed - 1));
        switch (needed) {
        case 1: *first = *w.in; break;
        case 2: store<uint16_t>(first, load_be16(w.in)); break;
        case 4: store<uint32_t>(first, load_be32(w.in)); break;
        default: store<uint64_t>(first, load_be64(w.in)); break;
        }
        w.in += needed;
        w.srcval -= needed;
        w.done = needed;
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

// Copies n bytes; short strings (most of them) without a library call,
// as two fixed-size copies that may overlap.
inline void copy_bytes(unsigned char *dst, const uint8_t *src, size_t n)
{
    if (n >= 8 && n <= 16) {
        std::memcpy(dst, src, 8);
        std::memcpy(dst + n - 8, src + n - 8, 8);
    } else if (n >= 4 && n < 8) {
        std::memcpy(dst, src, 4);
        std::memcpy(dst + n - 4, src + n - 4, 4);
    } else if (n != 0) {
        std::memcpy(dst, src, n);
    }
}

// Byte j of a member of a-byte atoms lands at j ^ (a - 1): each atom is
// reversed in place. Whole atoms in the middle go as word swaps.
void place_atoms(unsigned char *dst, uint32_t j, const uint8_t *in, uint32_t n, uint32_t a)
{
    const uint32_t mask = a - 1;
    const uint32_t stop = j + n;
    while (j < stop && (j & mask) != 0) {
        dst[j ^ mask] = *in++;
        ++j;
    }
    // Whole atoms: the chunk and the block never overlap.
    const uint32_t atoms = (stop - j) / a;
    unsigned char *__restrict out = dst + j;
    const uint8_t *__restrict from = in;
    switch (a) {
    case 2:
        for (uint32_t i = 0; i < atoms; ++i) {
            store<uint16_t>(out + 2 * i, load_be16(from + 2 * i));
        }
        break;
    case 4:
        for (uint32_t i = 0; i < atoms; ++i) {
            store<uint32_t>(out + 4 * i, load_be32(from + 4 * i));
        }
        break;
    default:
        for (uint32_t i = 0; i < atoms; ++i) {
            store<uint64_t>(out + 8 * i, load_be64(from + 8 * i));
        }
        break;
    }
    j += atoms * a;
    in += atoms * a;
    for (; j < stop; ++j) {
        dst[j ^ mask] = *in++;
    }
}

void read_array(Walk &w)
{
    const uint32_t needed = w.total - w.done;
    const size_t avail = available(w);
    if (needed > 0 && avail == 0) {
        w.error = ZUB_DES_ERR_XRUN;
        return;
    }
    const uint32_t n = avail < needed ? static_cast<uint32_t>(avail) : needed;
    const uint32_t a = atom_size(w.cur.entry);
    auto *dst = reinterpret_cast<unsigned char *>(w.srcval);
    if (a == 1) {
        copy_bytes(dst + w.done, w.in, n);
    } else if (valid_atom(a)) {
        place_atoms(dst, w.done, w.in, n, a);
    } else {
        // The piece is consumed but not stored, so the stream keeps its length.
        ZUB_DIAG(2, 3000, 3, "Invalid atom size %d in table found.\n", static_cast<int>(a));
    }
    w.in += n;
    w.done += n;
    if (w.done == w.total) {
        w.state = ZUB_DIS_ADVANCE_ENTRY;
        w.cur.multiplicity = kNoLimit;
    }
}

void start_array(Walk &w)
{
    const zubEndianInfoEntry_t *entry = w.cur.entry;
    const uint32_t a = atom_size(entry);
    const uint64_t bytes = static_cast<uint64_t>(w.cur.count) * a;
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
    auto *block = static_cast<unsigned char *>(allocate_block(w, bytes, false));
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

void enter_elements(Walk &w)
{
    const zubEndianInfoEntry_t *entry = w.cur.entry;
    unsigned char *field = pointer_field(base_bytes(w), entry);
    if (w.cur.count == 0) {
        store_ptr(field, nullptr);
        w.state = ZUB_DIS_ADVANCE_ENTRY;
        return;
    }
    const zubEndianTable_t *element = argument_table(entry);
    uint64_t bytes = 0;
    void *block = nullptr;
    if (checked_size(w.cur.count, element->size, &bytes)) {
        block = allocate_block(w, bytes, true);
    }
    if (block == nullptr) {
        fail(w, ZUB_DES_ERR_NOMEM);
        return;
    }
    store_ptr(field, block);
    if (!push(w)) {
        return;
    }
    w.cur.table = element;
    w.cur.base = block;
    w.cur.count = 0;
    w.cur.index = 0;
    w.state = ZUB_DIS_START_TABLE;
}

void check_count(Walk &w)
{
    const zubEndianInfoEntry_t *entry = w.cur.entry;
    w.cur.count = load_count(base_bytes(w) + entry->memberOffset, count_width(entry_kind(entry)));
    if (w.cur.count > w.cur.multiplicity) {
        ZUB_DIAG(2, 3000, 3, "Incoming data exceeded multiplicity (%d>%d).\n",
                 static_cast<int>(w.cur.count), static_cast<int>(w.cur.multiplicity));
        fail(w, ZUB_DES_ERR_MULTIPLICITY);
        return;
    }
    w.cur.multiplicity = kNoLimit;
    w.state = w.nextState;
}

// End of the current table: the walk, a kind 3 member, or one element of
// an array of structures is complete.
void end_of_table(Walk &w)
{
    if (w.depth <= 1) {
        w.state = ZUB_DIS_DONE;
        w.error = ZUB_DES_ERR_XRUN;
        return;
    }
    zubDeserTableState_t &parent = w.stack[w.depth - 1];
    if (parent.count == 0 || --parent.count == 0) {
        pop(w);
        w.state = ZUB_DIS_ADVANCE_ENTRY;
        return;
    }
    // The next element: its address is taken again from the enclosing
    // structure's data pointer.
    w.cur.index += 1;
    auto *array = static_cast<unsigned char *>(
        load_ptr(pointer_field(static_cast<unsigned char *>(parent.base), parent.entry)));
    w.cur.base = array + static_cast<size_t>(w.cur.index) * w.cur.table->size;
    w.state = ZUB_DIS_START_TABLE;
}

// When the chunk holds the whole integer or count, it is taken at once and
// the walk goes on to what follows it (the next entry, or the count check)
// without another round through the state switch.
void take_whole_integer(Walk &w)
{
    if (available(w) < w.total) {
        return;
    }
    read_integral(w);
    if (w.state == ZUB_DIS_ADVANCE_ENTRY) {
        w.cur.entry += 1;
        w.state = ZUB_DIS_HANDLE_ENTRY;
    } else {
        check_count(w);
    }
}

void invalid_entry(Walk &w, uint32_t kind)
{
    ZUB_DIAG(2, 3000, 3, "Invalid endian table entry %d.\n", static_cast<int>(kind));
    fail(w, ZUB_EFAULT);
}

// The run of entries that the chunk covers whole: integers, modifiers and
// arrays of atoms, taken in one pass without going through the state
// switch for every step. Each leaves the record exactly as the byte steps
// would: for an integer srcval one below its first byte and
// bytesOfMemberDone = totalBytesOfMember = its width; for an array of
// atoms the count stored, its block filled, srcval at the block and the
// limit cleared. Anything else (the table's end, nesting, a chunk that
// ends inside the member, a count that needs a message or fails) is left
// to the general states at the entry where the run stopped.
void take_whole_entries(Walk &w)
{
    const zubEndianInfoEntry_t *entry = w.cur.entry;
    unsigned char *base = base_bytes(w);
    const uint8_t *in = w.in;
    for (;;) {
        if (entry_is_end(entry)) {
            // The next element of an array of structures starts here too.
            if (w.depth <= 1) {
                break;
            }
            zubDeserTableState_t &parent = w.stack[w.depth - 1];
            if (parent.count <= 1) {
                break;
            }
            parent.count -= 1;
            w.cur.index += 1;
            auto *array = static_cast<unsigned char *>(
                load_ptr(pointer_field(static_cast<unsigned char *>(parent.base), parent.entry)));
            base = array + static_cast<size_t>(w.cur.index) * w.cur.table->size;
            w.cur.base = base;
            if (base == nullptr) {
                w.state = ZUB_DIS_START_TABLE;
                break;
            }
            w.cur.multiplicity = kNoLimit;
            entry = w.cur.table->entries;
            continue;
        }
        const uint32_t kind = entry_kind(entry);
        unsigned char *member = base + entry->memberOffset;
        const auto avail = static_cast<size_t>(w.end - in);
        if (kind == ZUB_DESER_TYPE_U8 || kind == ZUB_DESER_TYPE_U16 || kind == ZUB_DESER_TYPE_U32 ||
            kind == ZUB_DESER_TYPE_U64) {
            if (avail < kind) {
                break;
            }
            switch (kind) {
            case 1: *member = *in; break;
            case 2: store<uint16_t>(member, load_be16(in)); break;
            case 4: store<uint32_t>(member, load_be32(in)); break;
            default: store<uint64_t>(member, load_be64(in)); break;
            }
            in += kind;
            w.done = w.total = kind;
            w.srcval = reinterpret_cast<uintptr_t>(member) - 1;
            w.nextState = ZUB_DIS_ADVANCE_ENTRY;
            ++entry;
            continue;
        }
        if (kind == ZUB_DESER_TYPE_MODIFIER) {
            if (entry_high12(entry) == 0) {
                w.cur.multiplicity = entry_argument32(entry);
            }
            w.done = 0;
            w.srcval = reinterpret_cast<uintptr_t>(member);
            ++entry;
            continue;
        }
        if (!is_counted_kind(kind) || argument_is_table(entry) || lacks_count_field(entry)) {
            break;
        }
        const uint32_t width = count_width(kind);
        const uint32_t a = atom_size(entry);
        if (avail < width || !valid_atom(a)) {
            break;
        }
        uint32_t count;
        switch (width) {
        case 1: count = *in; break;
        case 2: count = load_be16(in); break;
        default: count = load_be32(in); break;
        }
        const uint64_t bytes = static_cast<uint64_t>(count) * a;
        if (count > w.cur.multiplicity || bytes > kAtomArrayLimit || avail - width < bytes) {
            break;
        }
        switch (width) {
        case 1: *member = static_cast<uint8_t>(count); break;
        case 2: store<uint16_t>(member, static_cast<uint16_t>(count)); break;
        default: store<uint32_t>(member, count); break;
        }
        in += width;
        w.cur.count = count;
        w.cur.multiplicity = kNoLimit;
        w.nextState = ZUB_DIS_START_ARRAY;
        void *block = nullptr;
        if (bytes != 0) {
            block = allocate_block(w, bytes, false);
            if (block == nullptr) {
                // As the byte steps leave it: count stored, its data not begun.
                w.done = 0;
                w.total = static_cast<uint32_t>(bytes);
                w.srcval = reinterpret_cast<uintptr_t>(member) - 1;
                w.cur.entry = entry;
                w.in = in;
                fail(w, ZUB_DES_ERR_NOMEM);
                return;
            }
            if (a == 1) {
                copy_bytes(static_cast<unsigned char *>(block), in, static_cast<size_t>(bytes));
            } else {
                place_atoms(static_cast<unsigned char *>(block), 0, in,
                            static_cast<uint32_t>(bytes), a);
            }
        }
        in += bytes;
        store_ptr(pointer_field(base, entry), block);
        w.done = w.total = static_cast<uint32_t>(bytes);
        w.srcval = reinterpret_cast<uintptr_t>(block);
        ++entry;
    }
    w.cur.entry = entry;
    w.in = in;
}

void handle_entry(Walk &w)
{
    const zubEndianInfoEntry_t *entry = w.cur.entry;
    if (entry_is_end(entry)) {
        end_of_table(w);
        return;
    }
    const uint32_t kind = entry_kind(entry);
    w.done = 0;
    w.srcval = reinterpret_cast<uintptr_t>(base_bytes(w) + entry->memberOffset);
    switch (kind) {
    case ZUB_DESER_TYPE_U8:
    case ZUB_DESER_TYPE_U16:
    case ZUB_DESER_TYPE_U32:
    case ZUB_DESER_TYPE_U64:
        w.total = kind;
        w.srcval += kind - 1;
        w.nextState = ZUB_DIS_ADVANCE_ENTRY;
        w.state = ZUB_DIS_READING_INTEGRAL;
        take_whole_integer(w);
        return;
    case ZUB_DESER_TYPE_TABLE:
        if (!argument_is_table(entry)) {
            invalid_entry(w, kind);
            return;
        }
        w.cur.count = 0;
        if (!push(w)) {
            return;
        }
        w.cur.table = argument_table(entry);
        w.cur.base = reinterpret_cast<void *>(w.srcval);
        w.cur.index = 0;
        w.state = ZUB_DIS_START_TABLE;
        return;
    case ZUB_DESER_TYPE_VAR8:
    case ZUB_DESER_TYPE_VAR16:
    case ZUB_DESER_TYPE_VAR32:
    case ZUB_DESER_TYPE_STRING:
        if (lacks_count_field(entry)) {
            invalid_entry(w, kind);
            return;
        }
        w.total = count_width(kind);
        w.srcval += w.total - 1;
        w.nextState = argument_is_table(entry) ? ZUB_DIS_ENTER_ELEMENTS : ZUB_DIS_START_ARRAY;
        w.state = ZUB_DIS_READING_INTEGRAL;
        take_whole_integer(w);
        return;
    case ZUB_DESER_TYPE_FIXED:
        // An element table cannot stand inline; only atoms can.
        if (argument_is_table(entry)) {
            invalid_entry(w, kind);
            return;
        }
        w.cur.count = entry_high12(entry);
        w.total = w.cur.count * atom_size(entry);
        w.state = ZUB_DIS_READ_ARRAY;
        return;
    case ZUB_DESER_TYPE_MODIFIER:
        if (entry_high12(entry) == 0) {
            w.cur.multiplicity = entry_argument32(entry);
        }
        w.state = ZUB_DIS_ADVANCE_ENTRY;
        return;
    default: invalid_entry(w, kind); return;
    }
}

void step(Walk &w)
{
    switch (w.state) {
    case ZUB_DIS_START_TABLE:
        if (w.cur.base == nullptr) {
            fail(w, ZUB_DES_ERR_NOMEM);
            return;
        }
        w.cur.entry = w.cur.table->entries;
        w.cur.multiplicity = kNoLimit;
        w.state = ZUB_DIS_HANDLE_ENTRY;
        return;
    case ZUB_DIS_ENTER_ELEMENTS: enter_elements(w); return;
    case ZUB_DIS_HANDLE_ENTRY:
        take_whole_entries(w);
        if (w.error == 0 && w.state == ZUB_DIS_HANDLE_ENTRY) {
            handle_entry(w);
        }
        return;
    case ZUB_DIS_ADVANCE_ENTRY:
        w.cur.entry += 1;
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
    w.cur = s->current;
    w.state = s->state;
    w.nextState = s->nextState;
    w.done = s->bytesOfMemberDone;
    w.total = s->totalBytesOfMember;
    w.srcval = reinterpret_cast<uintptr_t>(s->srcval);
    w.depth = s->stackDepth;
    w.error = 0;
    w.stack = s->stack;
    w.capacity = s->stackCapacity;
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
    s->current = w.cur;
    s->state = w.state;
    s->nextState = w.nextState;
    s->bytesOfMemberDone = w.done;
    s->totalBytesOfMember = w.total;
    s->srcval = reinterpret_cast<uint8_t *>(w.srcval);
    s->stackDepth = w.depth;
    s->errorCode = w.error;
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
