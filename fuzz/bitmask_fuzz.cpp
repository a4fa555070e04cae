// Hierarchical bitmask: set, reset, get, set-all, reset-all and the three
// searches on masks whose size comes from the fuzz input (refused sizes
// included), checked against a plain bit vector after every operation. The
// table memory is an exact-size heap block, so a level table read or
// written past its end is caught.
#include "fuzz_input.h"
#include "zub/bitmask.h"
#include "zub_debug_test.h"

namespace {

// The reference: the nearest set valid bit from i on, searched index by
// index in steps of dir (a zero word is passed over whole); -1 when there is
// none.
int32_t nearest(const std::vector<uint32_t> &words, uint32_t n, int64_t i, int dir)
{
    for (; i >= 0 && i < n; i = words[i / 32] != 0 ? i + dir
                                : dir > 0          ? (i | 31) + 1
                                                   : (i & ~31) - 1) {
        if (words[i / 32] & (1u << (i % 32)))
            return static_cast<int32_t>(i);
    }
    return -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zubDebugTestEnableAll();
    zubDebugTestCapture(1);
    zubfuzz::Input in(data, size);
    // Refused counts, up to four levels, and 0 to the two-level edge.
    const uint32_t roll = in.u8();
    const uint32_t nBits =
        roll < 8 ? ZUB_BITMASK_MAX_BITS + 1 + in.small(2) + (in.small(2) ? 0 : in.u32() % 1000000)
        : roll < 40  ? in.below(1u << 21)
        : roll < 120 ? in.below(40000)
                     : in.u16() % 1200;
    const uint32_t bytes = zubBitmaskGetRequiredSize(nBits);
    const bool refused = nBits > ZUB_BITMASK_MAX_BITS;
    FUZZ_CHECK(refused == (bytes == 0 && nBits > 32));
    // Tables of exactly the size asked for, not zero-filled; a refused count
    // gets 64 bytes that must stay as they are.
    std::vector<uint32_t> tables(refused ? 16 : bytes / 4, 0x5A5A5A5Au);
    uint32_t *memory = tables.empty() ? nullptr : tables.data();
    zubBitmask_t mask;
    std::memset(&mask, 0x5A, sizeof mask);
    FUZZ_CHECK(zubBitmaskInitialize(&mask, nBits, memory) == (refused ? -22 : 0));
    uint32_t site[3];
    FUZZ_CHECK(
        !refused ||
        (zubDebugTestCount() == 1 && zubDebugTestSite(0, site) && site[0] == 0x000103E8u &&
         !std::strcmp(
             zubDebugTestMessage(0),
             "Test for \"(int)( (char *)currTable - (char *)tables ) != (int)( bitmask->nTableData * sizeof( uint32_t ) )\"was true: \"Wrong table maintenance data size.\"") &&
         std::all_of(memory, memory + 16, [](uint32_t w) { return w == 0x5A5A5A5Au; }) &&
         mask.nBits == 0 && mask.nTables == 0 && mask.nTableData == 0 && mask.topBits == 0 &&
         !mask.levelTables));
    const uint32_t valid = refused ? 0 : nBits;
    std::vector<uint32_t> words((static_cast<size_t>(valid) + 31) / 32);

    uint32_t index = 0;
    while (!in.empty()) {
        const uint32_t op = in.small(16), pick = in.small(4);
        index = pick == 0 ? in.u32() : pick == 1 ? index + in.small(66) - 33 : in.below(valid + 2);
        if (pick == 2 && valid > 64 && in.small(2))
            index = valid - 1 - in.small(64);
        const bool inRange = index < valid;
        const uint32_t bit = 1u << (index % 32);
        const int32_t state = inRange ? static_cast<int32_t>(words[index / 32] & bit) : -1;
        if (op < 9) {
            FUZZ_CHECK((op < 5 ? zubBitmaskSetBit : zubBitmaskResetBit)(&mask, index) == state);
            if (inRange)
                words[index / 32] = op < 5 ? words[index / 32] | bit : words[index / 32] & ~bit;
        } else if (op == 9) {
            FUZZ_CHECK(zubBitmaskGetBit(&mask, index) == state);
        } else if (op == 10) {
            const bool on = in.small(4) == 0;
            FUZZ_CHECK((on ? zubBitmaskSetAll : zubBitmaskResetAll)(&mask) == 0);
            for (uint32_t w = 0; w < words.size(); ++w)
                words[w] = on ? ~0u >> (valid - 32 * w < 32 ? 32 - (valid - 32 * w) : 0) : 0;
        } else if (op < 15) {
            const int dir = op < 13 ? 1 : -1;
            FUZZ_CHECK((dir > 0 ? zubBitmaskFindNextOne : zubBitmaskFindPrevOne)(&mask, index) ==
                       (inRange ? nearest(words, valid, index, dir) : -22));
        } else {
            FUZZ_CHECK(zubBitmaskFindFirstOne(&mask) == nearest(words, valid, 0, 1));
        }
        zubDebugTestClear();
    }
    FUZZ_CHECK(zubBitmaskSetBit(nullptr, 0) + zubBitmaskResetBit(nullptr, 0) +
                   zubBitmaskGetBit(nullptr, 0) + zubBitmaskFindFirstOne(nullptr) +
                   zubBitmaskSetAll(nullptr) + zubBitmaskResetAll(nullptr) ==
               -6);
    FUZZ_CHECK(zubBitmaskFindNextOne(nullptr, 0) + zubBitmaskFindPrevOne(nullptr, 0) == -44);
    zubDebugTestClear();
    return 0;
}
