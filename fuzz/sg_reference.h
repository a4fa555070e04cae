// Reference for scatter-gather lists, for the fuzz target: the bytes a
// list describes, by a plain recursive walk (a link ends its array; kinds
// 2 and 3 add nothing).
#pragma once

#include <cstdint>
#include <vector>

#include "zub/types.h"

namespace zubfuzz {

inline void flatten(const zubScatterGatherEntry_t *array, uint32_t count, std::vector<uint8_t> &out)
{
    for (const zubScatterGatherEntry_t *e = array; e < array + count; ++e) {
        const auto *p = static_cast<const uint8_t *>(e->data);
        if (ZUB_SG_KIND(*e) == ZUB_SG_KIND_DATA) {
            out.insert(out.end(), p, p + ZUB_SG_LENGTH(*e));
        } else if (ZUB_SG_KIND(*e) == ZUB_SG_KIND_LINK) {
            if (p != nullptr) {
                flatten(static_cast<const zubScatterGatherEntry_t *>(e->data), ZUB_SG_LENGTH(*e),
                        out);
            }
            return;
        }
    }
}

} // namespace zubfuzz
