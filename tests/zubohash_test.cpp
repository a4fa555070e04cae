#include <gtest/gtest.h>

#include "test_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

// Refused sizes and arguments, duplicates with their message, inserts,
// finds, removals and iteration over keys from a small alphabet (many
// collisions, tombstones and rebuilds) against an unordered map, with the
// slot counters and load bounds checked after every operation (the fuzz
// harness).
TEST(ZubOHash, MatchesAnUnorderedMap)
{
    EXPECT_GT(zubtest::replayHarness("zubohash", LLVMFuzzerTestOneInput, 300, 3000, 0x0A5Bu), 0u);
}
