// Serialize, then deserialize: a structure type with its description
// tables and a value of it are generated from seeds and value options taken
// from the fuzz input; the rest of the input chooses the chunk sizes of both
// walks. The stream must be the one the independent model predicts, the
// rebuilt structure must equal the original member by member, serializing
// it again must give the same stream, and releasing it must free every
// block (the leak checker sees to that).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "fuzz_input.h"
#include "serial_random.h"
#include "zub_debug_test.h"
#include "zub/serialization.h"

namespace {

constexpr uint16_t kStack = 8; // the generator nests at most 4 levels below the top

// Chunk lengths in turn from the input; 0 is an empty chunk.
struct Chunks {
    zubfuzz::Input &in;
    uint32_t next(uint32_t left) { return in.empty() ? left : std::min<uint32_t>(left, in.small(24)); }
};

std::vector<uint8_t> serialize(const zubEndianTable_t *table, const void *data, uint32_t length, Chunks &chunks)
{
    std::vector<uint8_t> out(length);
    zubDeserTableState_t stack[kStack];
    zubDeserState_t s;
    std::memset(&s, 0, sizeof s);
    s.stack = stack;
    s.stackCapacity = kStack;
    s.current.table = table;
    s.current.base = const_cast<void *>(data);
    s.state = ZUB_SIS_START_TABLE;
    FUZZ_CHECK(_zubDeserStatePushTable(&s) >= 0);
    uint32_t at = 0;
    for (int guard = 0; s.state < ZUB_SIS_DONE; ++guard) {
        FUZZ_CHECK(guard < 1000000);
        const uint32_t chunk = chunks.next(length - at);
        // Each chunk is a block of exactly its size, so a write past it shows.
        std::unique_ptr<uint8_t[]> buffer(new uint8_t[chunk]);
        s.buffer = buffer.get();
        s.bufferLength = chunk;
        s.bufferPosition = 0;
        FUZZ_CHECK(_zubSerializeTableInto(&s) == 0);
        FUZZ_CHECK(s.bufferPosition <= chunk && at + s.bufferPosition <= length);
        std::copy(buffer.get(), buffer.get() + s.bufferPosition, out.begin() + at);
        at += s.bufferPosition;
        FUZZ_CHECK(s.state == ZUB_SIS_DONE || at < length || chunk == 0 || s.bufferPosition == chunk);
    }
    FUZZ_CHECK(s.state == ZUB_SIS_DONE && at == length && s.totalBytes == length);
    return out;
}

void deserialize(const zubEndianTable_t *table, void *data, const std::vector<uint8_t> &stream, Chunks &chunks)
{
    zubDeserTableState_t stack[kStack];
    zubDeserState_t s;
    std::memset(&s, 0, sizeof s);
    s.stack = stack;
    s.stackCapacity = kStack;
    s.current.table = table;
    s.current.base = data;
    s.state = ZUB_DIS_START_TABLE;
    FUZZ_CHECK(_zubDeserStatePushTable(&s) >= 0);
    const auto length = static_cast<uint32_t>(stream.size());
    uint32_t at = 0;
    for (int guard = 0; s.state < ZUB_DIS_DONE; ++guard) {
        FUZZ_CHECK(guard < 1000000);
        const uint32_t chunk = chunks.next(length - at);
        std::unique_ptr<uint8_t[]> buffer(new uint8_t[chunk]);
        std::copy(stream.begin() + at, stream.begin() + at + chunk, buffer.get());
        s.buffer = buffer.get();
        s.bufferLength = chunk;
        s.bufferPosition = 0;
        FUZZ_CHECK(_zubDeserializeTableFrom(&s) == 0 && s.errorCode == ZUB_DES_ERR_XRUN);
        FUZZ_CHECK(s.bufferPosition <= chunk);
        at += s.bufferPosition;
        FUZZ_CHECK(s.state == ZUB_DIS_DONE || at < length || chunk == 0);
    }
    FUZZ_CHECK(s.state == ZUB_DIS_DONE && at == length && s.totalBytes == length);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zubDebugTestEnableAll();
    zubDebugTestCapture(1);
    zubfuzz::Input in(data, size);
    const uint32_t schemaSeed = in.u32(), valueSeed = in.u32();
    const uint32_t shape = in.u16();
    zubtest::RandomValueOptions valueOptions;
    valueOptions.maxElements = shape % 4;
    valueOptions.maxAtoms = (shape >> 2) % 41;
    valueOptions.nullMarks = (shape >> 8) & 1;

    zubtest::RandomSchema schema(schemaSeed);
    zubtest::RandomValue value(schema, valueSeed, valueOptions);
    const std::vector<uint8_t> expected = value.expectedStream();
    const auto length = static_cast<uint32_t>(expected.size());
    Chunks chunks{in};

    FUZZ_CHECK(serialize(schema.table(), value.data(), length, chunks) == expected);
    std::vector<uint8_t> whole(length + 1, 0xA5);
    FUZZ_CHECK(zubSimpleSerializeInto(whole.data(), length, schema.table(), value.data()) ==
               static_cast<int32_t>(length));
    FUZZ_CHECK(std::equal(expected.begin(), expected.end(), whole.begin()) && whole[length] == 0xA5);

    // The rebuilt structure lies in a block of exactly its size.
    const size_t hostSize = schema.types()[0].size;
    std::unique_ptr<uint8_t[]> copy(new uint8_t[hostSize]());
    deserialize(schema.table(), copy.get(), expected, chunks);
    const std::string difference = value.compare(copy.get());
    if (!difference.empty()) {
        std::fprintf(stderr, "%s\n", difference.c_str());
    }
    FUZZ_CHECK(difference.empty());
    FUZZ_CHECK(serialize(schema.table(), copy.get(), length, chunks) == expected);
    FUZZ_CHECK(_zubDeserMemoryDealloc(schema.table(), copy.get(), static_cast<int32_t>(schema.nesting())) == 0);
    zubDebugTestClear();
    return 0;
}
