// Hierarchical bitmask.
//
// Design. An index i splits into 5-bit fields: bits 0-4 pick the bit inside
// its level 0 word, bits 5-9 the summary bit inside its level 1 word, and so
// on; at level k the index is bit (i >> 5k) & 31 of word i >> 5(k + 1), and
// topBits acts as level nTables, a single word. Every bound a search needs
// comes from m = nBits - 1 by shifts alone: the last meaningful bit of level
// k is m >> 5k (the last index at level 0, the last word of level k - 1
// above it).
//
// Summary invariant: a summary bit of an existing word is set exactly when
// the word is not zero. Set writes every level on the way up; reset climbs
// only while the word it wrote became zero.
//
// Set-all fills whole words, so the last word of each level (and topBits)
// may carry bits past the last meaningful one. Only a last word can: every
// other word's 32 bits all stand for existing indices or words. A forward
// search takes the lowest set bit at or after a point, so when that bit
// lies past the bound, no meaningful bit follows and the answer is -1; a
// backward search masks off everything above its start, which lies at or
// below the bound. Either way no search reports such a bit or follows it
// past the end of a table.
//
// Find-next and find-prev first read level 0 from the start word on, two
// words at a time, for a few pairs (the common case in a walk over a dense
// mask); then they climb while the rest of the current word at each level
// is empty and descend along the nearest set summary bit: a handful of
// reads for any gap, instead of one test per index.
#include "zub/bitmask.h"

#include <bit>
#include <cstring>

#include "internal/bytes.h"
#include "internal/diag.h"

namespace {

using zub::detail::load_ptr;
using zub::detail::store_ptr;

// The 24-bit nTableData field limits the total of level words.
constexpr uint64_t kMaxTableWords = 0xFFFFFFu;
// Five levels under topBits cover 32^6 = 2^30 bits at most.
constexpr uint32_t kMaxLevels = 5;

// Mask of the low n bits, n from 0 to 32.
constexpr uint32_t low_bits(uint32_t n)
{
    return n >= 32u ? ~0u : (1u << n) - 1u;
}

// Levels below topBits for a count of at least 1: the smallest L with
// nBits <= 32^(L + 1).
constexpr uint32_t levels_for(uint32_t nBits)
{
    const uint32_t m = nBits - 1u;
    return m >= (1u << 25)   ? 5u
           : m >= (1u << 20) ? 4u
           : m >= (1u << 15) ? 3u
           : m >= (1u << 10) ? 2u
           : m >= 32u        ? 1u
                             : 0u;
}

// Words of level k: ceil(nBits / 32^(k + 1)).
constexpr uint32_t level_words(uint32_t nBits, uint32_t k)
{
    const uint32_t shift = 5u * (k + 1u);
    return static_cast<uint32_t>((static_cast<uint64_t>(nBits) + (uint64_t{1} << shift) - 1u) >>
                                 shift);
}

struct Shape {
    uint32_t levels;
    uint64_t words; // all level words together
};

// Shape of a mask of nBits (0 counts as 1); words is above kMaxTableWords
// when the count cannot be represented.
constexpr Shape shape_of(uint32_t nBits)
{
    const uint32_t n = nBits == 0u ? 1u : nBits;
    if (n - 1u >= (1u << (5u * (kMaxLevels + 1u)))) {
        return {kMaxLevels, kMaxTableWords + 1u};
    }
    Shape s{levels_for(n), 0};
    for (uint32_t k = 0; k < s.levels; ++k) {
        s.words += level_words(n, k);
    }
    return s;
}

static_assert(shape_of(ZUB_BITMASK_MAX_BITS).words == kMaxTableWords);
static_assert(shape_of(ZUB_BITMASK_MAX_BITS + 1u).words == kMaxTableWords + 1u);
static_assert(shape_of(100000).words == 3125u + 98u + 4u);

unsigned char *slots(const zubBitmask_t *bm)
{
    return reinterpret_cast<unsigned char *>(bm->levelTables);
}

// Table of level k, from its pointer slot (the block is only 32-bit
// aligned, so the slot is read with memcpy).
uint32_t *table(const zubBitmask_t *bm, uint32_t k)
{
    return static_cast<uint32_t *>(load_ptr(slots(bm) + k * sizeof(void *)));
}

uint32_t *first_table_word(const zubBitmask_t *bm)
{
    return reinterpret_cast<uint32_t *>(slots(bm) + bm->nTables * sizeof(void *));
}

// Levels below topBits as the operations see them: none up to 32 bits.
uint32_t levels(const zubBitmask_t *bm)
{
    return bm->nBits <= 32u ? 0u : bm->nTables;
}

// Word w of level k; level levelCount is topBits.
uint32_t word_at(const zubBitmask_t *bm, uint32_t levelCount, uint32_t k, uint32_t w)
{
    return k == levelCount ? bm->topBits : table(bm, k)[w];
}

// The last bit of level k that stands for something: the last index at
// level 0, the last word of level k - 1 above it. m is nBits - 1.
constexpr uint32_t last_bit(uint32_t m, uint32_t k)
{
    return m >> (5u * k);
}

uint32_t lowest(uint32_t v)
{
    return static_cast<uint32_t>(std::countr_zero(v));
}
uint32_t highest(uint32_t v)
{
    return 31u - static_cast<uint32_t>(std::countl_zero(v));
}

// From word p of level k down to level 0, along the lowest (or highest) set
// bit of each word. A chosen bit past last_bit can only be one that set-all
// left in a last word whose meaningful bits are all clear: nothing follows.
template <bool kHighest>
int32_t descend(const zubBitmask_t *bm, uint32_t levelCount, uint32_t k, uint32_t p, uint32_t m)
{
    for (;;) {
        const uint32_t v = word_at(bm, levelCount, k, p);
        if (v == 0u) {
            return -1;
        }
        p = (p << 5) + (kHighest ? highest(v) : lowest(v));
        if (p > last_bit(m, k)) {
            return -1;
        }
        if (k == 0u) {
            return static_cast<int32_t>(p);
        }
        --k;
    }
}

int32_t find_first(const zubBitmask_t *bm)
{
    if (bm->nBits == 0u || bm->topBits == 0u) {
        return -1;
    }
    const uint32_t m = bm->nBits - 1u;
    const uint32_t levelCount = bm->nTables;
    const uint32_t p = lowest(bm->topBits);
    if (p > last_bit(m, levelCount)) {
        return -1;
    }
    return levelCount == 0u ? static_cast<int32_t>(p)
                            : descend<false>(bm, levelCount, levelCount - 1u, p, m);
}

// From word idx of level 0 onward, through the summaries: climb while the
// rest of the current word at each level is empty, then descend along the
// lowest set bit. Kept out of line so that the word-level fast path needs
// no saved registers.
[[gnu::noinline]] int32_t climb_next(const zubBitmask_t *bm, uint32_t idx)
{
    const uint32_t m = bm->nBits - 1u;
    const uint32_t levelCount = bm->nTables;
    for (uint32_t k = 1; k <= levelCount; ++k) {
        // idx is a bit of level k: word idx of level k - 1.
        if (idx > last_bit(m, k)) {
            return -1;
        }
        const uint32_t w = idx >> 5;
        const uint32_t v = word_at(bm, levelCount, k, w) & (~0u << (idx & 31u));
        if (v != 0u) {
            const uint32_t p = (w << 5) + lowest(v);
            return p > last_bit(m, k) ? -1 : descend<false>(bm, levelCount, k - 1u, p, m);
        }
        idx = w + 1u;
    }
    return -1;
}

// From word idx of level 0 downward; mirror of climb_next. Every bit it
// keeps lies at or below a bit that stands for something, so the bits
// set-all leaves past the end never come into play.
[[gnu::noinline]] int32_t climb_prev(const zubBitmask_t *bm, uint32_t idx)
{
    const uint32_t m = bm->nBits - 1u;
    const uint32_t levelCount = bm->nTables;
    for (uint32_t k = 1; k <= levelCount; ++k) {
        const uint32_t w = idx >> 5;
        const uint32_t v = word_at(bm, levelCount, k, w) & (~0u >> (31u - (idx & 31u)));
        if (v != 0u) {
            return descend<true>(bm, levelCount, k - 1u, (w << 5) + highest(v), m);
        }
        if (w == 0u) {
            return -1;
        }
        idx = w - 1u;
    }
    return -1;
}

// Level 0 is read two words at a time (one 64-bit load: on a little-endian
// machine word w + 1 lands in the upper half, in index order), for this
// many pairs before a search climbs: a near neighbour costs fewer reads
// that way than through the summaries.
static_assert(std::endian::native == std::endian::little);
constexpr uint32_t kProbePairs = 4;

// Words w and w + 1 of level 0 as one value; word w + 1 must exist.
uint64_t pair_at(const uint32_t *level0, uint32_t w)
{
    return zub::detail::load<uint64_t>(level0 + w);
}

int32_t find_next(const zubBitmask_t *bm, uint32_t start)
{
    const uint32_t m = bm->nBits - 1u;
    if (m < 32u) {
        const uint32_t v = bm->topBits & low_bits(m + 1u) & (~0u << start);
        return v != 0u ? static_cast<int32_t>(lowest(v)) : -1;
    }
    const uint32_t *level0 = first_table_word(bm);
    const uint32_t last = m >> 5;
    uint32_t w = start >> 5;
    uint64_t from = ~uint64_t{0} << (start & 31u);
    for (uint32_t probe = 0; probe < kProbePairs && w < last; ++probe) {
        const uint64_t v = pair_at(level0, w) & from;
        if (v != 0u) {
            const uint32_t p = (w << 5) + static_cast<uint32_t>(std::countr_zero(v));
            return p > m ? -1 : static_cast<int32_t>(p);
        }
        from = ~uint64_t{0};
        w += 2u;
    }
    if (w == last) {
        const uint32_t v = level0[w] & static_cast<uint32_t>(from);
        const uint32_t p = (w << 5) + lowest(v);
        return v == 0u || p > m ? -1 : static_cast<int32_t>(p);
    }
    return w > last ? -1 : climb_next(bm, w);
}

int32_t find_prev(const zubBitmask_t *bm, uint32_t start)
{
    const uint32_t m = bm->nBits - 1u;
    if (m < 32u) {
        const uint32_t v = bm->topBits & (~0u >> (31u - start));
        return v != 0u ? static_cast<int32_t>(highest(v)) : -1;
    }
    const uint32_t *level0 = first_table_word(bm);
    uint32_t top = start >> 5; // upper word of the pair read next
    uint64_t upTo = ~uint64_t{0} >> (31u - (start & 31u));
    for (uint32_t probe = 0; probe < kProbePairs; ++probe) {
        if (top == 0u) {
            const uint32_t v = level0[0] & static_cast<uint32_t>(upTo >> 32);
            return v != 0u ? static_cast<int32_t>(highest(v)) : -1;
        }
        const uint64_t v = pair_at(level0, top - 1u) & upTo;
        if (v != 0u) {
            return static_cast<int32_t>(((top - 1u) << 5) + 63u -
                                        static_cast<uint32_t>(std::countl_zero(v)));
        }
        if (top < 2u) {
            return -1;
        }
        top -= 2u;
        upTo = ~uint64_t{0};
    }
    return climb_prev(bm, top);
}

int32_t set_bit(zubBitmask_t *bm, uint32_t i)
{
    const uint32_t levelCount = levels(bm);
    const uint32_t bit = 1u << (i & 31u);
    if (levelCount == 0u) {
        const uint32_t old = bm->topBits & bit;
        bm->topBits |= bit;
        return static_cast<int32_t>(old);
    }
    uint32_t *level0 = table(bm, 0);
    const uint32_t old = level0[i >> 5] & bit;
    level0[i >> 5] |= bit;
    for (uint32_t k = 1; k < levelCount; ++k) {
        table(bm, k)[i >> (5u * (k + 1u))] |= 1u << ((i >> (5u * k)) & 31u);
    }
    bm->topBits |= 1u << ((i >> (5u * levelCount)) & 31u);
    return static_cast<int32_t>(old);
}

int32_t reset_bit(zubBitmask_t *bm, uint32_t i)
{
    const uint32_t levelCount = levels(bm);
    const uint32_t bit = 1u << (i & 31u);
    if (levelCount == 0u) {
        const uint32_t old = bm->topBits & bit;
        bm->topBits &= ~bit;
        return static_cast<int32_t>(old);
    }
    uint32_t *level0 = table(bm, 0);
    const uint32_t old = level0[i >> 5] & bit;
    uint32_t word = level0[i >> 5] & ~bit;
    level0[i >> 5] = word;
    // Climb only while the word just written is zero.
    for (uint32_t k = 1; word == 0u && k < levelCount; ++k) {
        uint32_t *cell = &table(bm, k)[i >> (5u * (k + 1u))];
        word = *cell & ~(1u << ((i >> (5u * k)) & 31u));
        *cell = word;
    }
    if (word == 0u) {
        bm->topBits &= ~(1u << ((i >> (5u * levelCount)) & 31u));
    }
    return static_cast<int32_t>(old);
}

int32_t fill(zubBitmask_t *bm, bool ones)
{
    if (bm->nBits > 32u && bm->levelTables != nullptr) {
        std::memset(first_table_word(bm), ones ? 0xFF : 0x00,
                    static_cast<size_t>(bm->nTableData) * 4u);
    }
    bm->topBits = ones ? ~0u : 0u;
    return 0;
}

// Lays out the tables; false when the count cannot be represented, in which
// case nothing is written into tableMemory and the record is left empty.
bool layout(zubBitmask_t *bm, uint32_t nBits, uint32_t *tableMemory)
{
    bm->topBits = 0;
    const Shape s = shape_of(nBits);
    if (s.words > kMaxTableWords) {
        ZUB_DIAG(
            1, 1000, 0,
            "Test for \"(int)( (char *)currTable - (char *)tables ) != (int)( bitmask->nTableData * "
            "sizeof( uint32_t ) )\"was true: \"%s\"",
            "Wrong table maintenance data size.");
        bm->nBits = 0;
        bm->nTables = 0;
        bm->nTableData = 0;
        bm->levelTables = nullptr;
        return false;
    }
    bm->nTables = s.levels & 0xFFu;
    bm->nTableData = static_cast<uint32_t>(s.words) & 0xFFFFFFu;
    if (s.levels == 0u) {
        bm->levelTables = nullptr;
        return true;
    }
    bm->levelTables = reinterpret_cast<uint32_t **>(tableMemory);
    unsigned char *slot = reinterpret_cast<unsigned char *>(tableMemory);
    uint32_t *const first = reinterpret_cast<uint32_t *>(slot + s.levels * sizeof(void *));
    uint32_t *pos = first;
    const uint32_t n = nBits == 0u ? 1u : nBits;
    for (uint32_t k = 0; k < s.levels; ++k) {
        store_ptr(slot + k * sizeof(void *), pos);
        pos += level_words(n, k);
    }
    std::memset(first, 0, static_cast<size_t>(s.words) * 4u);
    return true;
}

} // namespace

extern "C" {

uint32_t zubBitmaskGetRequiredSize(uint32_t nBits)
{
    const Shape s = shape_of(nBits);
    if (s.words > kMaxTableWords) {
        return 0;
    }
    // At most 5 slots and 16,777,215 words: well inside 32 bits.
    return static_cast<uint32_t>(s.levels * sizeof(void *) + s.words * 4u);
}

int32_t zubBitmaskInitialize(zubBitmask_t *bitmask, uint32_t nBits, uint32_t *tableMemory)
{
    bitmask->nBits = nBits;
    return layout(bitmask, nBits, tableMemory) ? 0 : ZUB_EINVAL;
}

void _zubBitmaskPropagateTables(zubBitmask_t *bitmask, uint32_t nBits, uint32_t *tableMemory)
{
    layout(bitmask, nBits, tableMemory);
}

int32_t zubBitmaskResetAll(zubBitmask_t *bitmask)
{
    return bitmask == nullptr ? -1 : fill(bitmask, false);
}

int32_t zubBitmaskSetAll(zubBitmask_t *bitmask)
{
    return bitmask == nullptr ? -1 : fill(bitmask, true);
}

int32_t zubBitmaskSetBit(zubBitmask_t *bitmask, uint32_t index)
{
    if (bitmask == nullptr || index >= bitmask->nBits) {
        return -1;
    }
    return set_bit(bitmask, index);
}

int32_t zubBitmaskResetBit(zubBitmask_t *bitmask, uint32_t index)
{
    if (bitmask == nullptr || index >= bitmask->nBits) {
        return -1;
    }
    return reset_bit(bitmask, index);
}

int32_t zubBitmaskGetBit(const zubBitmask_t *bitmask, uint32_t index)
{
    if (bitmask == nullptr || index >= bitmask->nBits) {
        return -1;
    }
    const uint32_t word = levels(bitmask) == 0u ? bitmask->topBits : table(bitmask, 0)[index >> 5];
    return static_cast<int32_t>(word & (1u << (index & 31u)));
}

int32_t zubBitmaskFindFirstOne(const zubBitmask_t *bitmask)
{
    return bitmask == nullptr ? -1 : find_first(bitmask);
}

int32_t zubBitmaskFindNextOne(const zubBitmask_t *bitmask, uint32_t start)
{
    if (bitmask == nullptr || start >= bitmask->nBits) {
        return ZUB_EINVAL;
    }
    return find_next(bitmask, start);
}

int32_t zubBitmaskFindPrevOne(const zubBitmask_t *bitmask, uint32_t start)
{
    if (bitmask == nullptr || start >= bitmask->nBits) {
        return ZUB_EINVAL;
    }
    return find_prev(bitmask, start);
}

} // extern "C"
