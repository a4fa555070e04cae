// Byte-order conversion of a host structure's fixed-size integer members
// between the protocol order (big-endian) and the host's, walking its type
// description table. The platform is little-endian, so both directions
// reverse the bytes of every converted integer.
#include "zub/serialization.h"

#include "internal/bytes.h"
#include "internal/serial_walk.h"

namespace {

using namespace zub::detail;

template <typename T> inline void swap_member(uint8_t *destination, const uint8_t *source)
{
    // The value is read whole before it is written: in place works.
    store<T>(destination, bswap(load<T>(source)));
}

// Walks up to the first kind 0 entry. Nested structures recurse, converted
// within the destination.
void convert(uint8_t *destination, const uint8_t *source, const zubEndianTable_t *table)
{
    for (const zubEndianInfoEntry_t *e = table->entries; entry_kind(e) != 0; ++e) {
        const uint32_t o = e->memberOffset;
        switch (entry_kind(e)) {
        case ZUB_DESER_TYPE_U8: destination[o] = source[o]; break;
        case ZUB_DESER_TYPE_U16: swap_member<uint16_t>(destination + o, source + o); break;
        case ZUB_DESER_TYPE_U32: swap_member<uint32_t>(destination + o, source + o); break;
        case ZUB_DESER_TYPE_U64: swap_member<uint64_t>(destination + o, source + o); break;
        case ZUB_DESER_TYPE_TABLE:
            // An argument that is not a table (0 to 15, null included) has
            // nothing to walk.
            if (argument_is_table(e)) {
                convert(destination + o, destination + o, e->argument.table);
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
    convert(static_cast<uint8_t *>(destination), static_cast<const uint8_t *>(source), table);
}

void zubHostToProtocol(void *destination, const void *source, const zubEndianTable_t *table)
{
    zubProtocolToHost(destination, source, table);
}

} // extern "C"
