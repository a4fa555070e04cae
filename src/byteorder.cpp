// Byte-order conversion of a host structure's fixed-size integer members
// between the protocol order (big-endian) and the host's, walking its type
// description table. The platform is little-endian, so both directions
// reverse the bytes of every converted integer.
//
// Nested structures are walked on the table walker's level stack, a fixed
// array of the default depth: a table that contains itself stops there with
// the stack-full message, like the other walkers at their stack's end.
#include "zub/serialization.h"

#include "internal/bytes.h"
#include "internal/diag.h"
#include "internal/table_walk.h"

namespace {

using namespace zub::detail;

// Nested structures are converted within the destination and never form
// arrays: a level is its entry and its structure.
struct SwapLevel {
    const zubEndianInfoEntry_t *entry;
    uint8_t *base;
};

template <typename T> inline void swap_member(uint8_t *destination, const uint8_t *source)
{
    // The value is read whole before it is written: in place works.
    store<T>(destination, bswap(load<T>(source)));
}

[[gnu::cold, gnu::noinline]] void report_stack_full()
{
    ZUB_DIAG(2, 3000, 3u, "Endian table nested deeper than %d levels.\n",
             static_cast<int>(ZUB_DESER_DEFAULT_STACK - 1u));
}

// The top-level table reads from source; nested ones within destination.
void convert(void *destination, const uint8_t *source, const zubEndianTable_t *table)
{
    SwapLevel stack[ZUB_DESER_DEFAULT_STACK];
    Levels<SwapLevel> w{
        {table->entries, static_cast<uint8_t *>(destination)}, stack, 1, ZUB_DESER_DEFAULT_STACK};
    stack[0] = w.cur;
    for (;;) {
        const zubEndianInfoEntry_t *e = w.cur.entry;
        // This walker ends a table at its first kind 0 entry only.
        if (entry_kind(e) == 0) {
            if (end_of_table(w) == TableEnd::Walk) {
                return;
            }
            continue;
        }
        uint8_t *to = w.cur.base + e->memberOffset;
        const uint8_t *from = (w.depth <= 1 ? source : w.cur.base) + e->memberOffset;
        switch (entry_kind(e)) {
        case ZUB_DESER_TYPE_U8: *to = *from; break;
        case ZUB_DESER_TYPE_U16: swap_member<uint16_t>(to, from); break;
        case ZUB_DESER_TYPE_U32: swap_member<uint32_t>(to, from); break;
        case ZUB_DESER_TYPE_U64: swap_member<uint64_t>(to, from); break;
        case ZUB_DESER_TYPE_TABLE:
            // An argument that is not a table (0 to 15, null included, or
            // the all-ones end mark of the other walkers) has nothing to walk.
            if (argument_is_table(e) && !entry_is_end(e)) {
                if (!enter(w, argument_table(e), to)) {
                    report_stack_full();
                    return;
                }
                continue;
            }
            break;
        default: break; // counted, strings, fixed arrays, modifiers, invalid kinds
        }
        w.cur.entry += 1;
    }
}

} // namespace

extern "C" {

void zubProtocolToHost(void *destination, const void *source, const zubEndianTable_t *table)
{
    if (destination == nullptr || source == nullptr || table == nullptr) {
        return;
    }
    convert(destination, static_cast<const uint8_t *>(source), table);
}

void zubHostToProtocol(void *destination, const void *source, const zubEndianTable_t *table)
{
    zubProtocolToHost(destination, source, table);
}

} // extern "C"
