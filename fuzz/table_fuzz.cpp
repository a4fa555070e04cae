// Fuzz target of the serialization family; the input's first byte picks
// one of two checks (odd: the round trip).
//
// The round trip: serialize, then deserialize, against the model. A
// structure type with its description tables and a value of it come from
// seeds and a shape in the input, the rest of the input gives the chunk
// lengths of the walks. The stream must be the one the model predicts,
// through any chunks; the rebuilt structure must give the same stream;
// the byte-order conversion must reverse exactly the integers the model
// names (and give the bytes back, for the copy); the release must free
// every block the walk made, and nothing twice.
//
// Hostile tables: a random type of the model (every entry kind,
// nesting, odd layouts) is spoiled in places the input names, so the walkers
// meet entries, atom sizes, counts, nestings and table ends that no fixed
// table of ours has; the layouts stay ones a caller could write.
//
// Input after the first byte: the type's seed (4 bytes), the number of
// spoiled entries, for each its type, field and the spoiling (3 bytes and
// what that spoiling reads); then the stack records (1 to 12), the chunk
// lengths, the release's depth limit; the rest is the stream, read in
// chunks, released, under the checks of deser::hostileWalk. A structure
// that contains itself (a nested entry at offset 0 naming its own table) is
// not released: its nested member lies over every other member, so that
// the release would meet one array once per level.
#define ZUBFUZZ_HOOKS

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "../tests/deser_test_util.h"
#include "serial_random.h"
#include "zub_debug_test.h"

static int roundTrip(zubfuzz::Input &in, const zubtest::RandomSchema &schema)
{
    zubDebugTestEnableAll();
    zubDebugTestCapture(1);
    const uint32_t valueSeed = in.u32(), shape = in.u16();
    zubtest::RandomValue value(schema, valueSeed, shape);
    const std::vector<uint8_t> expected = value.stream();
    const size_t length = expected.size();
    // Chunk lengths in turn from the input (0: an empty chunk); then all
    // that is left and one byte more.
    auto next = [&](size_t at) {
        return in.empty() ? uint32_t(length - std::min(at, length) + 1) : in.small(24);
    };
    const auto records = static_cast<uint16_t>(schema.nesting + 1);

    FUZZ_CHECK(zubSerializedSize(schema.table(), value.data()) == int64_t(length));
    FUZZ_CHECK(deser::Walk(schema.table(), value.data(), nullptr, records).putAll(next) ==
               expected);

    bool done = false; // and the copy gives the model's stream
    const deser::Hostile h{schema.table(), records, int32_t(schema.nesting), true, true};
    FUZZ_CHECK(deser::hostileWalk(h, expected.data(), length, next,
                                  [&](const uint8_t *copy) {
                                      done = value.streamOf(copy) == expected;
                                  }) == length &&
               done);

    const std::vector<uint8_t> swapped = value.swapped();
    zubProtocolToHost(value.data(), value.data(), schema.table());
    FUZZ_CHECK(std::equal(swapped.begin(), swapped.end(), value.data()));

    zubDebugTestClear(); // and the hostile walks as before: no capture
    zubDebugTestCapture(0);
    zubDebugTestReset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zubfuzz::Input in(data, size);
    const bool model = in.u8() & 1;
    zubtest::RandomSchema schema(in.u32());
    if (model)
        return roundTrip(in, schema);
    bool invalid = false, containsItself = false;
    for (uint32_t n = in.small(5); n-- > 0;) {
        const auto t = static_cast<int>(in.small(uint32_t(schema.types.size())));
        zubEndianInfoEntry_t &e =
            schema.entries(t)[in.small(uint32_t(schema.types[size_t(t)].fields.size()))];
        const unsigned kind = e.packed & 15u; // as spoiled so far
        const bool counted = kind == 6 || kind == 7 || kind == 9 || kind == 10;
        const uint8_t pick = in.u8();
        switch (in.small(7)) {
        case 0: { // kinds no walker takes: 0 (the byte-order end), 5, 12 to 14
            static const uint8_t kinds[] = {0, 5, 12, 13, 14};
            e = ZUB_ENTRY_RAW(e.memberOffset, ZUB_ENDIAN_PACK(kinds[pick % 5], in.u16()),
                              pick >> 4);
            invalid = true;
            break;
        }
        case 1: // an end before the last entry
            e = ZUB_ENTRY_END;
            break;
        case 2: // contains itself, over its own bytes
            e = ZUB_ENTRY_RAW(0, ZUB_DESER_TYPE_TABLE, schema.table(t));
            containsItself = true;
            break;
        case 3: // a nested entry whose argument is no table
            e = ZUB_ENTRY_RAW(e.memberOffset, ZUB_DESER_TYPE_TABLE, pick % 16);
            invalid = true;
            break;
        case 4: // any table as the element: cycles; a table as the atom of a fixed array
            if (counted || kind == ZUB_DESER_TYPE_FIXED) {
                e.argument.table = schema.table(int(pick % schema.types.size()));
                invalid |= kind == ZUB_DESER_TYPE_FIXED;
            }
            break;
        case 5: { // any atom size of a counted array, an invalid one of a fixed array
            const uintptr_t atom = pick % 16;
            const bool valid = atom == 1 || atom == 2 || atom == 4 || atom == 8;
            if (counted || (kind == ZUB_DESER_TYPE_FIXED && !valid)) {
                e.argument.value = atom;
                invalid |= !valid;
            }
            break;
        }
        default: // a limit: small, or all ones (an end for the walkers, not for the
                 // byte-order conversion); high bits make it do nothing
            e = ZUB_ENTRY_RAW(
                0, ZUB_ENDIAN_PACK(ZUB_DESER_TYPE_MODIFIER, pick & 0x80 ? 1 + pick % 15 : 0),
                pick & 0x40 ? 0xFFFFFFFFu : pick % 6);
            break;
        }
    }
    const auto capacity = static_cast<uint16_t>(1 + in.small(12));
    uint8_t chunks[3] = {in.u8(), in.u8(), in.u8()};
    chunks[0] |= chunks[1] | chunks[2] ? 0 : 1;
    const auto maxDepth = static_cast<int32_t>(in.small(capacity + 3u)) - 1;
    unsigned turn = 0;
    size_t length = 0;
    const uint8_t *stream = in.bytes(in.left(), &length);
    deser::hostileWalk({schema.table(), capacity, maxDepth, !invalid, !containsItself}, stream,
                       length, [&](size_t) { return chunks[turn++ % 3]; });
    return 0;
}
