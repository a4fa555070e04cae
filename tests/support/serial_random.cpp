#include "serial_random.h"

#include <algorithm>
#include <cstring>

namespace zubtest {

namespace {

bool isCounted(unsigned kind)
{
    return kind == ZUB_DESER_TYPE_VAR8 || kind == ZUB_DESER_TYPE_VAR16 ||
           kind == ZUB_DESER_TYPE_VAR32 || kind == ZUB_DESER_TYPE_STRING;
}

uint32_t countWidth(unsigned kind)
{
    return kind == ZUB_DESER_TYPE_VAR8    ? 1
           : kind == ZUB_DESER_TYPE_VAR32 ? 4
                                          : 2; // VAR16, STRING: 2
}

// Counts are little-endian host integers of 1, 2 or 4 bytes.
uint32_t readCount(const uint8_t *p, uint32_t width)
{
    uint32_t v = 0;
    std::memcpy(&v, p, width);
    return v;
}

// Appends n atoms of `atom` bytes, each most significant byte first.
void pushAtoms(std::vector<uint8_t> &out, const uint8_t *p, uint32_t atom, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i) {
        for (uint32_t b = atom; b-- > 0;) {
            out.push_back(p[i * atom + b]);
        }
    }
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
    tables_.resize(types_.size());
    entries_.resize(types_.size());
    for (size_t t = 0; t < types_.size(); ++t) {
        std::vector<zubEndianInfoEntry_t> &entries = entries_[t];
        for (const RandomField &f : types_[t].fields) {
            zubEndianInfoEntry_t e = ZUB_ENTRY_END;
            e.memberOffset = static_cast<uint16_t>(f.offset);
            e.argument.value = 0;
            uint32_t high = 0;
            if (isCounted(f.kind)) {
                high = f.pointerOffset - f.offset + 1024u;
                if (f.atom != 0) {
                    e.argument.value = f.atom;
                } else {
                    e.argument.table = &tables_[static_cast<size_t>(f.type)];
                }
            } else if (f.kind == ZUB_DESER_TYPE_TABLE) {
                e.argument.table = &tables_[static_cast<size_t>(f.type)];
            } else if (f.kind == ZUB_DESER_TYPE_FIXED) {
                high = f.fixedCount;
                e.argument.value = f.atom;
            } else if (f.kind == ZUB_DESER_TYPE_MODIFIER) {
                e.memberOffset = 0;
                high = f.packedHigh;
                e.argument.value = f.multiplicity;
            }
            e.packed = ZUB_ENDIAN_PACK(f.kind, high);
            entries.push_back(e);
        }
        const zubEndianInfoEntry_t end = ZUB_ENTRY_END;
        entries.push_back(end);
        tables_[t].size = types_[t].size;
        tables_[t].entries = entries.data();
    }
    nesting_ = nestingOf(0);
}

int RandomSchema::build(std::mt19937 &rng, uint32_t depthLeft)
{
    const int self = static_cast<int>(types_.size());
    types_.emplace_back(); // filled at the end: recursion may grow types_
    RandomStruct st;
    uint32_t offset = 0;
    auto place = [&](uint32_t size, uint32_t align) {
        if (pick(rng, 6) == 0) {
            offset += pick(rng, 3);
        } else {
            offset = (offset + align - 1) / align * align;
        }
        const uint32_t at = offset;
        offset += size;
        return at;
    };
    constexpr uint32_t P = sizeof(void *);

    const uint32_t fields = 1 + pick(rng, 7);
    for (uint32_t i = 0; i < fields; ++i) {
        RandomField f;
        static const unsigned kinds[] = {
            ZUB_DESER_TYPE_U8,    ZUB_DESER_TYPE_U16,     ZUB_DESER_TYPE_U32,
            ZUB_DESER_TYPE_U64,   ZUB_DESER_TYPE_TABLE,   ZUB_DESER_TYPE_VAR8,
            ZUB_DESER_TYPE_VAR16, ZUB_DESER_TYPE_VAR32,   ZUB_DESER_TYPE_STRING,
            ZUB_DESER_TYPE_FIXED, ZUB_DESER_TYPE_MODIFIER};
        f.kind = kinds[pick(rng, sizeof kinds / sizeof kinds[0])];
        if (f.kind == ZUB_DESER_TYPE_TABLE && depthLeft == 0) {
            f.kind = ZUB_DESER_TYPE_U32;
        }
        switch (f.kind) {
        case ZUB_DESER_TYPE_U8:
        case ZUB_DESER_TYPE_U16:
        case ZUB_DESER_TYPE_U32:
        case ZUB_DESER_TYPE_U64: f.offset = place(f.kind, f.kind); break;
        case ZUB_DESER_TYPE_TABLE: {
            f.type = build(rng, depthLeft - 1);
            f.offset = place(types_[static_cast<size_t>(f.type)].size, 8);
            break;
        }
        case ZUB_DESER_TYPE_FIXED:
            f.atom = kAtoms[pick(rng, 4)];
            f.fixedCount = pick(rng, 6);
            f.offset = place(f.atom * f.fixedCount, f.atom);
            break;
        case ZUB_DESER_TYPE_MODIFIER:
            // An inert modifier: bits 4-15 set, a limit every count fails.
            f.packedHigh = static_cast<uint16_t>(1 + pick(rng, 0xFFF));
            f.multiplicity = 0;
            break;
        default: { // counted
            if (pick(rng, 3) == 0) {
                RandomField m;
                m.kind = ZUB_DESER_TYPE_MODIFIER;
                m.multiplicity = kCountLimit + pick(rng, 1000);
                st.fields.push_back(m);
            }
            const uint32_t width = countWidth(f.kind);
            if (f.kind != ZUB_DESER_TYPE_STRING && depthLeft > 0 && pick(rng, 3) == 0) {
                f.type = build(rng, depthLeft - 1);
            } else {
                f.atom = f.kind == ZUB_DESER_TYPE_STRING ? 1 : kAtoms[pick(rng, 4)];
            }
            if (pick(rng, 4) == 0) {
                f.pointerOffset = place(P, P);
                f.offset = place(width, width);
            } else {
                f.offset = place(width, width);
                if (pick(rng, 4) == 0) {
                    offset += pick(rng, 9); // a gap between count and pointer
                }
                f.pointerOffset = place(P, P);
            }
            break;
        }
        }
        st.fields.push_back(f);
    }
    st.size = std::max<uint32_t>(offset, 1) + pick(rng, 3);
    types_[static_cast<size_t>(self)] = st;
    return self;
}

uint32_t RandomSchema::nestingOf(int type) const
{
    uint32_t deepest = 0;
    for (const RandomField &f : types_[static_cast<size_t>(type)].fields) {
        if (f.type >= 0) {
            deepest = std::max(deepest, 1 + nestingOf(f.type));
        }
    }
    return deepest;
}

RandomValue::RandomValue(const RandomSchema &schema, uint32_t seed,
                         const RandomValueOptions &options)
    : schema_(schema), options_(options)
{
    std::mt19937 rng(seed ^ 0x5EEDF00Du);
    root_.resize(schema.types()[0].size);
    fill(root_.data(), 0, rng);
}

uint8_t *RandomValue::newBlock(size_t bytes)
{
    blocks_.emplace_back(bytes);
    return blocks_.back().data();
}

void RandomValue::fill(uint8_t *structure, int type, std::mt19937 &rng)
{
    const RandomStruct &st = schema_.types()[static_cast<size_t>(type)];
    // Undescribed bytes (padding, gaps) hold noise that must never be sent.
    for (uint32_t i = 0; i < st.size; ++i) {
        structure[i] = static_cast<uint8_t>(rng());
    }
    for (const RandomField &f : st.fields) {
        uint8_t *member = structure + f.offset;
        if (f.kind == ZUB_DESER_TYPE_TABLE) {
            fill(member, f.type, rng);
            continue;
        }
        if (!isCounted(f.kind)) {
            continue; // integers and fixed arrays keep their noise
        }
        const uint32_t width = countWidth(f.kind);
        const uint32_t limit = f.atom != 0 ? options_.maxAtoms : options_.maxElements;
        uint32_t count = pick(rng, 4) == 0 ? 0 : pick(rng, limit + 1);
        if (width == 1) {
            count = std::min<uint32_t>(count, 255);
        }
        uint8_t *data = nullptr;
        if (count != 0) {
            const uint32_t elementSize =
                f.atom != 0 ? f.atom : schema_.types()[static_cast<size_t>(f.type)].size;
            data = newBlock(static_cast<size_t>(count) * elementSize);
            if (f.atom != 0) {
                for (uint32_t i = 0; i < count * elementSize; ++i) {
                    data[i] = static_cast<uint8_t>(rng());
                }
            } else {
                for (uint32_t i = 0; i < count; ++i) {
                    fill(data + static_cast<size_t>(i) * elementSize, f.type, rng);
                }
            }
        } else if (pick(rng, 2) == 0) {
            // Not followed for a count of 0: a pointer nobody may touch.
            data = reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(0x10));
        }
        if (count == 0 && width == 4 && options_.nullMarks && pick(rng, 2) == 0) {
            count = 0xFFFFFFFFu;
        }
        // Writes after the fill above: the noise may overlap nothing else.
        std::memcpy(member, &count, width);
        std::memcpy(structure + f.pointerOffset, &data, sizeof data);
    }
}

namespace {

void encode(const RandomSchema &schema, const uint8_t *structure, int type,
            std::vector<uint8_t> &out)
{
    for (const RandomField &f : schema.types()[static_cast<size_t>(type)].fields) {
        const uint8_t *member = structure + f.offset;
        switch (f.kind) {
        case ZUB_DESER_TYPE_U8:
        case ZUB_DESER_TYPE_U16:
        case ZUB_DESER_TYPE_U32:
        case ZUB_DESER_TYPE_U64: pushAtoms(out, member, f.kind, 1); break;
        case ZUB_DESER_TYPE_TABLE: encode(schema, member, f.type, out); break;
        case ZUB_DESER_TYPE_FIXED: pushAtoms(out, member, f.atom, f.fixedCount); break;
        case ZUB_DESER_TYPE_MODIFIER: break;
        default: {
            const uint32_t width = countWidth(f.kind);
            const uint32_t count = readCount(member, width);
            if (width == 4 && count == 0xFFFFFFFFu) {
                out.insert(out.end(), 4, 0);
                break;
            }
            pushAtoms(out, member, width, 1);
            if (count == 0) {
                break;
            }
            const uint8_t *data;
            std::memcpy(&data, structure + f.pointerOffset, sizeof data);
            if (f.atom != 0) {
                pushAtoms(out, data, f.atom, count);
            } else {
                const uint32_t size = schema.types()[static_cast<size_t>(f.type)].size;
                for (uint32_t i = 0; i < count; ++i) {
                    encode(schema, data + static_cast<size_t>(i) * size, f.type, out);
                }
            }
            break;
        }
        }
    }
}

} // namespace

std::vector<uint8_t> RandomValue::expectedStream() const
{
    std::vector<uint8_t> out;
    encode(schema_, root_.data(), 0, out);
    return out;
}

// Two values of one type are equal when they give the same stream: every
// described byte is sent, and the null mark is sent as a count of 0.
std::string RandomValue::compare(const void *other) const
{
    std::vector<uint8_t> theirs;
    encode(schema_, static_cast<const uint8_t *>(other), 0, theirs);
    const std::vector<uint8_t> ours = expectedStream();
    if (theirs == ours) {
        return "";
    }
    const auto at =
        std::mismatch(ours.begin(), ours.end(), theirs.begin(), theirs.end()).first - ours.begin();
    return "streams differ at byte " + std::to_string(at) + " of " + std::to_string(ours.size()) +
           "/" + std::to_string(theirs.size());
}

} // namespace zubtest
