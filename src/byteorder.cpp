// Byte-order conversion of a host structure's fixed-size integer members
// between the protocol order (big-endian) and the host's, walking its type
// description table. The platform is little-endian, so both directions
// reverse the bytes of every converted integer.
//
// Nested structures are converted by recursion, one level per nested
// structure, with no limit of its own: any chain of distinct tables
// converts at every level, as deep as the thread's stack allows. A table
// met again among the levels that enclose it describes a structure that
// would contain itself, which no caller can lay out; such a nested entry is
// passed over without a message, so a hostile cycle still returns.
#include "zub/serialization.h"

#include "internal/bytes.h"
#include "internal/table_walk.h"

namespace {

using namespace zub::detail;

// The tables of the levels that enclose the one being converted, innermost
// first; a chain of records in the callers' frames.
struct Enclosing {
    const zubEndianTable_t *table;
    const Enclosing *outer;
};

bool encloses(const Enclosing *level, const zubEndianTable_t *table)
{
    for (; level != nullptr; level = level->outer) {
        if (level->table == table) {
            return true;
        }
    }
    return false;
}

template <typename T> inline void swap_member(uint8_t *destination, const uint8_t *source)
{
    // The value is read whole before it is written: in place works.
    store<T>(destination, bswap(load<T>(source)));
}

// The top-level table reads from source; nested ones within destination.
void convert(uint8_t *destination, const uint8_t *source, const zubEndianTable_t *table,
             const Enclosing *outer)
{
    const Enclosing level{table, outer};
    // This walker ends a table at its first kind 0 entry only.
    for (const zubEndianInfoEntry_t *e = table->entries; entry_kind(e) != 0; ++e) {
        uint8_t *to = destination + e->memberOffset;
        const uint8_t *from = source + e->memberOffset;
        switch (entry_kind(e)) {
        case ZUB_DESER_TYPE_U8: *to = *from; break;
        case ZUB_DESER_TYPE_U16: swap_member<uint16_t>(to, from); break;
        case ZUB_DESER_TYPE_U32: swap_member<uint32_t>(to, from); break;
        case ZUB_DESER_TYPE_U64: swap_member<uint64_t>(to, from); break;
        case ZUB_DESER_TYPE_TABLE:
            // An argument that is not a table (0 to 15, null included, or
            // the all-ones end mark of the other walkers) has nothing to walk.
            if (argument_is_table(e) && !entry_is_end(e) && !encloses(&level, argument_table(e))) {
                convert(to, to, argument_table(e), &level);
            }
            break;
        default: break; // counted, strings, fixed arrays, modifiers, invalid kinds
        }
    }
}

} // namespace

extern "C" {

void zubProtocolToHost(void *destination, const void *source, const zubEndianTable_t *table)
{
    if (destination == nullptr || source == nullptr || table == nullptr) {
        return;
    }
    convert(static_cast<uint8_t *>(destination), static_cast<const uint8_t *>(source), table,
            nullptr);
}

void zubHostToProtocol(void *destination, const void *source, const zubEndianTable_t *table)
{
    zubProtocolToHost(destination, source, table);
}

} // extern "C"
