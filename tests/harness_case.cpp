// The one case that a family's fuzz harness adds to its test program: the
// harness, with its plain model, over the committed corpora and a seeded
// run (ZUB_TEST_SEED). Target, runs, largest input and seed come from
// tests/CMakeLists.txt.
#include <gtest/gtest.h>

#include "test_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

TEST(Harness, HoldsOverItsCorpusAndASeededRun)
{
    EXPECT_GT(zubtest::replayHarness(ZUB_HARNESS_TARGET, LLVMFuzzerTestOneInput, ZUB_HARNESS_RUNS,
                                     ZUB_HARNESS_SIZE, ZUB_HARNESS_SEED),
              0u);
}
