// Hierarchical bitmask: set, reset, get, set-all, reset-all and the three
// searches on masks whose size comes from the fuzz input (refused sizes
// included), checked against a plain bit vector after every operation. The
// table memory is an exact-size heap block, so a level table read or
// written past its end is caught.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz_input.h"
#include "zub_debug_test.h"
#include "zub/bitmask.h"

namespace {

// The reference: one bit per index, searched word by word.
struct Plain {
    uint32_t n;
    std::vector<uint64_t> words;

    explicit Plain(uint32_t bits) : n(bits), words((static_cast<size_t>(bits) + 63) / 64) {}
    bool get(uint32_t i) const { return (words[i / 64] >> (i % 64)) & 1u; }
    void put(uint32_t i, bool on)
    {
        const uint64_t bit = uint64_t{1} << (i % 64);
        words[i / 64] = on ? words[i / 64] | bit : words[i / 64] & ~bit;
    }
    void fill(bool on)
    {
        for (uint64_t &w : words) {
            w = on ? ~uint64_t{0} : 0;
        }
        if (on && n % 64 != 0) {
            words.back() &= (uint64_t{1} << (n % 64)) - 1;
        }
    }
    int32_t next(uint32_t start) const
    {
        for (size_t w = start / 64; w < words.size(); ++w) {
            const uint64_t bits = w == start / 64 ? words[w] & (~uint64_t{0} << (start % 64)) : words[w];
            if (bits != 0) {
                return static_cast<int32_t>(w * 64 + static_cast<size_t>(__builtin_ctzll(bits)));
            }
        }
        return -1;
    }
    int32_t prev(uint32_t start) const
    {
        for (size_t w = start / 64 + 1; w-- > 0;) {
            const uint64_t bits = w == start / 64 ? words[w] & (~uint64_t{0} >> (63 - start % 64)) : words[w];
            if (bits != 0) {
                return static_cast<int32_t>(w * 64 + 63 - static_cast<size_t>(__builtin_clzll(bits)));
            }
        }
        return -1;
    }
};

uint32_t choose_size(zubfuzz::Input &in)
{
    const uint32_t roll = in.u8();
    if (roll < 8) {
        return ZUB_BITMASK_MAX_BITS + 1 + in.small(2) + (in.small(2) ? 0 : in.u32() % 1000000); // refused
    }
    if (roll == 8) {
        return 1u + (1u << 25) + in.small(64); // five levels (4 MiB of tables: rarely)
    }
    if (roll < 40) {
        return in.below(1u << 21); // up to four levels
    }
    if (roll < 120) {
        return in.below(40000);
    }
    return in.u16() % 1200; // 0 and the one- and two-level edges
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zubDebugTestEnableAll();
    zubDebugTestCapture(1);
    zubfuzz::Input in(data, size);
    const uint32_t nBits = choose_size(in);
    const uint32_t bytes = zubBitmaskGetRequiredSize(nBits);
    const bool refused = nBits > ZUB_BITMASK_MAX_BITS;
    FUZZ_CHECK(refused == (bytes == 0 && nBits > 32));
    auto *memory = static_cast<uint32_t *>(bytes == 0 ? nullptr : std::malloc(bytes));
    zubBitmask_t mask;
    std::memset(&mask, 0x5A, sizeof mask);
    FUZZ_CHECK(zubBitmaskInitialize(&mask, nBits, memory) == (refused ? -22 : 0));
    const uint32_t valid = refused ? 0 : nBits;
    Plain plain(valid);

    uint32_t last = 0;
    while (!in.empty()) {
        const uint32_t op = in.small(16);
        const uint32_t pick = in.small(4);
        uint32_t index = pick == 0 ? in.u32() : pick == 1 ? last + in.small(66) - 33 : in.below(valid + 2);
        if (pick == 2 && valid > 64 && in.small(2)) {
            index = valid - 1 - in.small(64);
        }
        last = index;
        const bool inRange = index < valid;
        const auto mask32 = static_cast<int32_t>(1u << (index % 32));
        if (op < 5) {
            const int32_t want = inRange ? (plain.get(index) ? mask32 : 0) : -1;
            FUZZ_CHECK(zubBitmaskSetBit(&mask, index) == want);
            if (inRange) {
                plain.put(index, true);
            }
        } else if (op < 9) {
            const int32_t want = inRange ? (plain.get(index) ? mask32 : 0) : -1;
            FUZZ_CHECK(zubBitmaskResetBit(&mask, index) == want);
            if (inRange) {
                plain.put(index, false);
            }
        } else if (op == 9) {
            FUZZ_CHECK(zubBitmaskGetBit(&mask, index) == (inRange ? (plain.get(index) ? mask32 : 0) : -1));
        } else if (op == 10) {
            if (in.small(4) == 0) {
                FUZZ_CHECK(zubBitmaskSetAll(&mask) == 0);
                plain.fill(true);
            } else {
                FUZZ_CHECK(zubBitmaskResetAll(&mask) == 0);
                plain.fill(false);
            }
        } else if (op < 13) {
            FUZZ_CHECK(zubBitmaskFindNextOne(&mask, index) == (inRange ? plain.next(index) : -22));
        } else if (op < 15) {
            FUZZ_CHECK(zubBitmaskFindPrevOne(&mask, index) == (inRange ? plain.prev(index) : -22));
        } else {
            FUZZ_CHECK(zubBitmaskFindFirstOne(&mask) == (valid == 0 ? -1 : plain.next(0)));
        }
        zubDebugTestClear();
    }
    FUZZ_CHECK(mask.nBits == valid);
    FUZZ_CHECK(zubBitmaskSetBit(nullptr, 0) == -1 && zubBitmaskResetBit(nullptr, 0) == -1 && zubBitmaskGetBit(nullptr, 0) == -1);
    FUZZ_CHECK(zubBitmaskFindFirstOne(nullptr) == -1 && zubBitmaskFindNextOne(nullptr, 0) == -22 && zubBitmaskFindPrevOne(nullptr, 0) == -22);
    FUZZ_CHECK(zubBitmaskSetAll(nullptr) == -1 && zubBitmaskResetAll(nullptr) == -1);
    std::free(memory);
    zubDebugTestClear();
    return 0;
}
