// The one model of the serialization walkers: random nested structure types
// with type description tables built at run time, random values of them,
// and, built from the structure alone, the byte stream the serializer must
// write and the bytes the byte-order conversion must leave.
//
//   zubtest::RandomSchema schema(seed);        // a random type
//   zubtest::RandomValue value(schema, seed, shape); // a random host structure
//   serialize value.data() with schema.table() ...
//   FUZZ_CHECK(bytes == value.stream());       // the stream it must give
//   deserialize into a fresh structure `copy` ...
//   FUZZ_CHECK(value.streamOf(copy) == value.stream()); // deep comparison
//
// Types use every entry kind: integers of 1, 2, 4 and 8 bytes, nested
// structures, counted arrays of atoms (1, 2, 4, 8 bytes) and of structures
// with 8-, 16- and 32-bit counts, strings, fixed arrays (fixedCount 0 to 5),
// and modifiers (limits that every generated count passes, and inert ones
// whose bits 4-15 are set). Data pointers lie before or after their counts;
// members may be unaligned and structure sizes odd. Everything is
// determined by the seed.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "zub/serialization.h"

namespace zubtest {

// One member of a generated structure, as the model sees it.
struct RandomField {
    unsigned kind = 0;   // ZUB_DESER_TYPE_*
    uint32_t offset = 0; // member offset (the count field for counted kinds)
    // The entry's bits 4-15: the fixed count, the data pointer field's
    // offset from the count field plus 1024, or for a modifier without
    // effect anything but 0.
    uint32_t high = 0;
    uint32_t atom = 0; // atom size (0: the elements are structures); a modifier's limit
    int type = -1;     // nested or element structure: index in types
};

struct RandomStruct {
    uint32_t size = 0; // at least 1; may be odd
    std::vector<RandomField> fields;
};

// The members with a trailing _ are its own.
struct RandomSchema {
    // Up to 4 levels below the top and 1 to 7 members per structure,
    // modifiers not counted.
    explicit RandomSchema(uint32_t seed);

    const zubEndianTable_t *table(int type = 0) const { return &tables_[size_t(type)]; }
    // A type's entries, in the order of its fields, for a harness that spoils them.
    zubEndianInfoEntry_t *entries(int type) { return entries_[size_t(type)].data(); }
    std::vector<RandomStruct> types;
    // Deepest nesting below the top level: a walk needs nesting + 1 records.
    uint32_t nesting = 0;

    int build(std::mt19937 &rng, uint32_t depthLeft);

    std::vector<zubEndianTable_t> tables_;
    std::vector<std::vector<zubEndianInfoEntry_t>> entries_;
};

// The members with a trailing _ are its own.
struct RandomValue {
    // shape: up to shape % 4 structures per counted array of structures
    // and (shape >> 2) % 41 atoms per array of atoms (below every limit);
    // with bit 8 set, VAR32 members with no data may hold the null mark
    // 0xFFFFFFFF, which the serializer sends as a count of 0.
    RandomValue(const RandomSchema &schema, uint32_t seed, uint32_t shape);

    // The top-level host structure; its blocks are owned by this object.
    uint8_t *data() { return root_.data(); }
    // The stream the serializer must write for this value, and the one a
    // structure of the same type gives: equal streams are equal values
    // (every described byte is sent; the null mark as a count of 0).
    std::vector<uint8_t> stream() const { return streamOf(root_.data()); }
    std::vector<uint8_t> streamOf(const void *structure) const;
    // The top-level structure's bytes with every integer member, nested
    // ones too, reversed: what the byte-order conversion makes of it.
    std::vector<uint8_t> swapped() const;

    void fill(uint8_t *structure, int type, std::mt19937 &rng);

    const RandomSchema &schema_;
    uint32_t shape_;
    std::vector<uint8_t> root_;
    std::vector<std::vector<uint8_t>> blocks_;
};

} // namespace zubtest
