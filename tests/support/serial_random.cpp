#include "serial_random.h"

#include <algorithm>
#include <cstring>

namespace zubtest {

namespace {

// Counts are little-endian host integers of 1, 2 or 4 bytes; 0: not a
// counted kind.
uint32_t countWidth(unsigned kind)
{
    return kind == ZUB_DESER_TYPE_VAR8                                     ? 1
           : kind == ZUB_DESER_TYPE_VAR32                                  ? 4
           : kind == ZUB_DESER_TYPE_VAR16 || kind == ZUB_DESER_TYPE_STRING ? 2
                                                                           : 0;
}

// Appends n atoms of `atom` bytes, each most significant byte first.
void pushAtoms(std::vector<uint8_t> &out, const uint8_t *p, uint32_t atom, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i)
        for (uint32_t b = atom; b-- > 0;)
            out.push_back(p[i * atom + b]);
}

uint32_t pick(std::mt19937 &rng, uint32_t n)
{
    return static_cast<uint32_t>(rng() % n);
}

const uint32_t kAtoms[4] = {1, 2, 4, 8};

} // namespace

RandomSchema::RandomSchema(uint32_t seed)
{
    std::mt19937 rng(seed);
    build(rng, 4);
    // Tables first, so that entries can point at them; then the entries.
    tables_.resize(types.size());
    entries_.resize(types.size());
    for (size_t t = 0; t < types.size(); ++t) {
        for (const RandomField &f : types[t].fields)
            entries_[t].push_back(ZUB_ENTRY_RAW(f.offset, ZUB_ENDIAN_PACK(f.kind, f.high),
                                                f.type < 0 ? uintptr_t{f.atom}
                                                           : uintptr_t(&tables_[size_t(f.type)])));
        entries_[t].push_back(ZUB_ENTRY_END);
        tables_[t] = {types[t].size, entries_[t].data()};
    }
}

int RandomSchema::build(std::mt19937 &rng, uint32_t depthLeft)
{
    const int self = static_cast<int>(types.size());
    nesting = std::max(nesting, 4 - depthLeft);
    types.emplace_back(); // filled at the end: recursion may grow types
    RandomStruct st;
    uint32_t offset = 0;
    // Aligned, or 0 to 2 bytes on (one time in six).
    auto place = [&](uint32_t size, uint32_t align) {
        offset = pick(rng, 6) == 0 ? offset + pick(rng, 3) : (offset + align - 1) / align * align;
        offset += size;
        return offset - size;
    };
    constexpr uint32_t P = sizeof(void *);
    static const unsigned kinds[] = {1, 2, 4, 8, 3, 6, 7, 9, 10, 11, 15};
    for (uint32_t i = 0, fields = 1 + pick(rng, 7); i < fields; ++i) {
        RandomField f;
        f.kind = kinds[pick(rng, 11)];
        if (f.kind == ZUB_DESER_TYPE_TABLE && depthLeft == 0)
            f.kind = ZUB_DESER_TYPE_U32;
        if (f.kind == 1 || f.kind == 2 || f.kind == 4 || f.kind == 8) {
            f.offset = place(f.kind, f.kind);
        } else if (f.kind == ZUB_DESER_TYPE_TABLE) {
            f.type = build(rng, depthLeft - 1);
            f.offset = place(types[size_t(f.type)].size, 8);
        } else if (f.kind == ZUB_DESER_TYPE_FIXED) {
            f.atom = kAtoms[pick(rng, 4)];
            f.high = pick(rng, 6);
            f.offset = place(f.atom * f.high, f.atom);
        } else if (f.kind == ZUB_DESER_TYPE_MODIFIER) {
            // Inert: bits 4-15 set, with a limit every count would fail.
            f.high = 1 + pick(rng, 0xFFF);
        } else {
            if (pick(rng, 3) == 0) // a limit every generated count passes
                st.fields.push_back(
                    {.kind = ZUB_DESER_TYPE_MODIFIER, .atom = 64 + pick(rng, 1000)});
            const uint32_t width = countWidth(f.kind);
            if (f.kind != ZUB_DESER_TYPE_STRING && depthLeft > 0 && pick(rng, 3) == 0)
                f.type = build(rng, depthLeft - 1);
            else
                f.atom = f.kind == ZUB_DESER_TYPE_STRING ? 1 : kAtoms[pick(rng, 4)];
            const bool pointerFirst = pick(rng, 4) == 0;
            const uint32_t pointer = pointerFirst ? place(P, P) : 0;
            f.offset = place(width, width);
            if (!pointerFirst && pick(rng, 4) == 0)
                offset += pick(rng, 9); // a gap between count and pointer
            f.high = (pointerFirst ? pointer : place(P, P)) + 1024 - f.offset;
        }
        st.fields.push_back(f);
    }
    st.size = std::max<uint32_t>(offset, 1) + pick(rng, 3);
    types[size_t(self)] = st;
    return self;
}

RandomValue::RandomValue(const RandomSchema &schema, uint32_t seed, uint32_t shape)
    : schema_(schema), shape_(shape), root_(schema.types[0].size)
{
    std::mt19937 rng(seed ^ 0x5EEDF00Du);
    fill(root_.data(), 0, rng);
}

void RandomValue::fill(uint8_t *structure, int type, std::mt19937 &rng)
{
    const RandomStruct &st = schema_.types[size_t(type)];
    // Undescribed bytes (padding, gaps) hold noise that must never be sent;
    // integers and fixed arrays keep theirs.
    for (uint32_t i = 0; i < st.size; ++i)
        structure[i] = static_cast<uint8_t>(rng());
    for (const RandomField &f : st.fields) {
        if (f.kind == ZUB_DESER_TYPE_TABLE)
            fill(structure + f.offset, f.type, rng);
        const uint32_t width = countWidth(f.kind);
        if (width == 0)
            continue;
        uint32_t count =
            pick(rng, 4) == 0 ? 0 : pick(rng, (f.atom ? (shape_ >> 2) % 41 : shape_ % 4) + 1);
        // Not followed for a count of 0: a pointer nobody may touch.
        uint8_t *data =
            count == 0 && pick(rng, 2) == 0 ? reinterpret_cast<uint8_t *>(0x10) : nullptr;
        if (count != 0) {
            const uint32_t size = f.atom ? f.atom : schema_.types[size_t(f.type)].size;
            data = blocks_.emplace_back(size_t(count) * size).data();
            for (uint32_t i = 0; f.atom == 0 && i < count; ++i)
                fill(data + size_t(i) * size, f.type, rng);
            for (uint32_t i = 0; f.atom != 0 && i < count * size; ++i)
                data[i] = static_cast<uint8_t>(rng());
        }
        if (count == 0 && width == 4 && (shape_ & 0x100) && pick(rng, 2) == 0)
            count = 0xFFFFFFFFu;
        // Written after the noise above, which may overlap nothing else.
        std::memcpy(structure + f.offset, &count, width);
        std::memcpy(structure + f.offset + f.high - 1024, &data, sizeof data);
    }
}

namespace {

void encode(const RandomSchema &schema, const uint8_t *structure, int type,
            std::vector<uint8_t> &out)
{
    for (const RandomField &f : schema.types[size_t(type)].fields) {
        const uint8_t *member = structure + f.offset;
        const uint32_t width = countWidth(f.kind);
        if (f.kind == ZUB_DESER_TYPE_TABLE)
            encode(schema, member, f.type, out);
        else if (f.kind == ZUB_DESER_TYPE_FIXED)
            pushAtoms(out, member, f.atom, f.high);
        else if (width == 0)
            pushAtoms(out, member, f.kind == ZUB_DESER_TYPE_MODIFIER ? 0 : f.kind, 1);
        if (width == 0)
            continue;
        uint32_t count = 0;
        std::memcpy(&count, member, width);
        count = count == 0xFFFFFFFFu ? 0 : count;
        pushAtoms(out, reinterpret_cast<const uint8_t *>(&count), width, 1);
        const uint8_t *data;
        std::memcpy(&data, member + f.high - 1024, sizeof data);
        for (uint32_t i = 0; i < count && f.atom == 0; ++i)
            encode(schema, data + size_t(i) * schema.types[size_t(f.type)].size, f.type, out);
        if (count != 0 && f.atom != 0)
            pushAtoms(out, data, f.atom, count);
    }
}

void reverseIntegers(const RandomSchema &schema, int type, uint8_t *structure)
{
    for (const RandomField &f : schema.types[size_t(type)].fields) {
        if (f.kind == ZUB_DESER_TYPE_TABLE)
            reverseIntegers(schema, f.type, structure + f.offset);
        if (f.kind == 1 || f.kind == 2 || f.kind == 4 || f.kind == 8)
            std::reverse(structure + f.offset, structure + f.offset + f.kind);
    }
}

} // namespace

std::vector<uint8_t> RandomValue::streamOf(const void *structure) const
{
    std::vector<uint8_t> out;
    encode(schema_, static_cast<const uint8_t *>(structure), 0, out);
    return out;
}

std::vector<uint8_t> RandomValue::swapped() const
{
    std::vector<uint8_t> out(root_);
    reverseIntegers(schema_, 0, out.data());
    return out;
}

} // namespace zubtest
