// Shadow of an open hash table's counters for the randomized tests: it
// follows the load rules on its own; `agrees` compares it with the record
// and with what the slot array really holds.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>

#include "zub/ohash.h"

namespace ohashtest {

struct CounterShadow {
    uint64_t size = 16, total = 0, deleted = 0;

    void inserted(bool intoTombstone)
    {
        if (intoTombstone) {
            deleted--;
        } else if (4 * ++total > 3 * size) {
            rebuild();
        }
    }
    void removed()
    {
        if (++deleted >= 4 && 4 * deleted > total) {
            rebuild();
        }
    }
    void rebuild()
    {
        if (total > 4 * deleted) {
            size *= 2;
        } else if (3 * deleted > 2 * total) {
            size = std::max<uint64_t>(16, size / 2);
        }
        total -= deleted;
        deleted = 0;
    }

    ::testing::AssertionResult agrees(const ohash &table, size_t live) const
    {
        uint64_t used = 0, tombstones = 0;
        for (uint32_t i = 0; i < table.size; ++i) {
            used += table.slots[i].entry != nullptr;
            tombstones += table.slots[i].entry == ohash_deleted(&table);
        }
        if (table.size == size && table.total == total && table.deleted == deleted &&
            used == total && tombstones == deleted && ohash_entries(&table) == live) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << "size/total/deleted/entries " << table.size << "/" << table.total << "/"
               << table.deleted << "/" << ohash_entries(&table) << ", shadow " << size << "/"
               << total << "/" << deleted << "/" << live << ", slots used " << used
               << ", tombstones " << tombstones;
    }
};

} // namespace ohashtest
