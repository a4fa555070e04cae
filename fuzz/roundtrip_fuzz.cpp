// Serialize, then deserialize, against the model: a structure type with its
// description tables and a value of it come from seeds and a shape in the
// input, the rest of the input gives the chunk lengths of the walks.
// The stream must be the one the model predicts, through any chunks, and
// with a stack one level short it must fail with -1000 after a part of it;
// the rebuilt structure must give the same stream; the byte-order
// conversion must reverse exactly the integers the model names (and give
// the bytes back, for the copy); the release must free every block the
// walk made, and nothing twice.
#define ZUBFUZZ_HOOKS
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "../tests/deser_test_util.h"
#include "serial_random.h"
#include "zub_debug_test.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zubDebugTestEnableAll();
    zubDebugTestCapture(1);
    zubfuzz::Input in(data, size);
    const uint32_t schemaSeed = in.u32(), valueSeed = in.u32(), shape = in.u16();
    zubtest::RandomSchema schema(schemaSeed);
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
    if (records > 1) { // an empty array is not entered: the walk may still complete
        int32_t result = 0;
        const auto cut =
            deser::Walk(schema.table(), value.data(), nullptr, records - 1).putAll(next, &result);
        FUZZ_CHECK((result == -1000 && cut.size() <= length) || (result == 0 && cut == expected));
        FUZZ_CHECK(std::equal(cut.begin(), cut.end(), expected.begin()));
    }

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

    zubDebugTestClear();
    return 0;
}
