// Scatter-gather lists built from the fuzz input: links to further arrays,
// terminating links, empty entries and junk behind links.
// Every block and array is its own heap allocation of exactly its stated
// size, so AddressSanitizer sees any read or write past one; junk entries
// point at unmapped memory, so following one crashes. Copy, create-list
// and total length are checked against a flattened reference.
#include <deque>
#include <memory>

#include "fuzz_input.h"
#include "zub/scattergather.h"

namespace {

using Entry = zubScatterGatherEntry_t;

void *const kJunk = reinterpret_cast<void *>(uintptr_t{16});

struct List {
    std::deque<std::vector<Entry>> arrays;
    std::deque<std::vector<uint8_t>> blocks; // data blocks in list order
    std::vector<uint8_t> bytes;              // the flattened data

    List(zubfuzz::Input &in, bool source) { build(in, source, 0); }
    Entry *first() { return arrays.front().data(); }
    int32_t count() const { return static_cast<int32_t>(arrays.front().size()); }

    void build(zubfuzz::Input &in, bool source, int depth)
    {
        const uint32_t n = 1 + in.small(6);
        std::vector<Entry> &array =
            arrays.emplace_back(n, Entry{kJunk, ZUB_SG_WORD(0, ZUB_SG_LENGTH_MASK)});
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t roll = in.small(16);
            if (roll < 2 && depth < 3) {
                const size_t linked = arrays.size();
                build(in, source, depth + 1);
                array[i] = {arrays[linked].data(),
                            ZUB_SG_WORD(ZUB_SG_KIND_LINK, arrays[linked].size())};
                return; // the rest of this array is junk the walk must not touch
            }
            if (roll == 2) { // a terminating link: null (its count does not matter)
                array[i] = {nullptr, ZUB_SG_WORD(ZUB_SG_KIND_LINK, in.small(3))};
                return;
            }
            const uint32_t length = roll < 6 ? 0 : 1 + in.small(48);
            std::vector<uint8_t> &block = blocks.emplace_back(length);
            std::generate(block.begin(), block.end(), [&] { return source ? in.u8() : 0xEE; });
            array[i] = {block.data(), ZUB_SG_WORD(ZUB_SG_KIND_DATA, length)};
            bytes.insert(bytes.end(), block.begin(), block.end());
        }
    }
};

// The bytes a list describes, by a plain recursive walk (a link ends its
// array; kinds 2 and 3 add nothing).
void flatten(const Entry *array, uint32_t count, std::vector<uint8_t> &out)
{
    for (const Entry *e = array; e < array + count; ++e) {
        const auto *p = static_cast<const uint8_t *>(e->data);
        if (ZUB_SG_KIND(*e) == ZUB_SG_KIND_DATA) {
            out.insert(out.end(), p, p + ZUB_SG_LENGTH(*e));
        } else if (ZUB_SG_KIND(*e) == ZUB_SG_KIND_LINK) {
            if (p != nullptr)
                flatten(static_cast<const Entry *>(e->data), ZUB_SG_LENGTH(*e), out);
            return;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zubfuzz::Input in(data, size);
    const uint32_t offsetRoll = in.u8();
    const uint32_t offsetWord = in.u32();
    List source(in, true), to(in, false);
    const auto S = static_cast<uint32_t>(source.bytes.size());
    const auto D = static_cast<uint32_t>(to.bytes.size());
    const uint32_t offset = offsetRoll < 8    ? offsetWord
                            : offsetRoll < 64 ? 0
                                              : offsetWord % (S + 3);
    FUZZ_CHECK(zubGetTotalLength(source.first(), source.count()) == S);

    // The destination's blocks receive the source's data from the offset on,
    // as far as both reach.
    const uint32_t total = offset < S ? std::min(D, S - offset) : 0;
    int32_t count = to.count();
    zubScatterGatherCopyState_t state;
    FUZZ_CHECK(zubCopyScatterGather(to.first(), &count, source.first(), source.count(), offset,
                                    &state) == total);
    std::copy_n(source.bytes.begin() + (offset < S ? offset : 0), total, to.bytes.begin());
    std::vector<uint8_t> got; // the blocks' bytes over their original lengths
    for (const std::vector<uint8_t> &block : to.blocks)
        got.insert(got.end(), block.begin(), block.end());
    FUZZ_CHECK(got == to.bytes && count >= 0);

    // The view from the offset describes exactly the tail of the data.
    for (int32_t room = 0; room <= 2; ++room) {
        std::unique_ptr<Entry[]> view(new Entry[static_cast<size_t>(room)]);
        int32_t viewCount = room;
        const int32_t result = zubScatterGatherCreateListFrom(
            view.get(), &viewCount, source.first(), source.count(), offset);
        if (offset > S || result == -22) {
            FUZZ_CHECK(offset > S ? result == -2 && viewCount == 0 : room < 2 && viewCount == room);
            continue;
        }
        FUZZ_CHECK(result == 0 && viewCount >= 0 && viewCount <= room);
        std::vector<uint8_t> described;
        flatten(view.get(), static_cast<uint32_t>(viewCount), described);
        FUZZ_CHECK(described ==
                   std::vector<uint8_t>(source.bytes.begin() + offset, source.bytes.end()));
    }
    return 0;
}
