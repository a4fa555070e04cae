// Shadow of an open hash table's counters for the randomized tests: it
// follows the load rules on its own, and `agrees` compares it with the
// table's record and with what the slot array really holds.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "zub/ohash.h"

namespace ohashtest {

struct CounterShadow {
    uint32_t size = 16;
    uint32_t total = 0;
    uint32_t deleted = 0;

    void inserted(bool intoTombstone)
    {
        if (intoTombstone) {
            deleted--;
            return;
        }
        total++;
        if (4ull * total > 3ull * size) {
            rebuild();
        }
    }

    void removed()
    {
        deleted++;
        if (deleted >= 4 && 4ull * deleted > total) {
            rebuild();
        }
    }

    void rebuild()
    {
        if (total > 4ull * deleted) {
            size *= 2;
        } else if (3ull * deleted > 2ull * total) {
            size = size / 2 < 16 ? 16 : size / 2;
        }
        total -= deleted;
        deleted = 0;
    }

    ::testing::AssertionResult agrees(const ohash &table, size_t liveEntries) const
    {
        if (table.size != size || table.total != total || table.deleted != deleted) {
            return ::testing::AssertionFailure()
                   << "table size/total/deleted " << table.size << "/" << table.total << "/"
                   << table.deleted << ", shadow " << size << "/" << total << "/" << deleted;
        }
        if (ohash_entries(&table) != liveEntries) {
            return ::testing::AssertionFailure() << "entries " << ohash_entries(&table)
                                                 << ", model " << liveEntries;
        }
        uint32_t used = 0;
        uint32_t tombstones = 0;
        for (uint32_t i = 0; i < table.size; ++i) {
            used += table.slots[i].entry != nullptr;
            tombstones += table.slots[i].entry == ohash_deleted(&table);
        }
        if (used != total || tombstones != deleted) {
            return ::testing::AssertionFailure() << "slot array holds " << used << " used, "
                                                 << tombstones << " deleted";
        }
        return ::testing::AssertionSuccess();
    }
};

} // namespace ohashtest
