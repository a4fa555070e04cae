// The console's cases are those of its harness (fuzz/console_fuzz.cpp):
// the record and its result codes, failed starts, line assembly, messages,
// handler calls and every way a console ends, each counted for descriptors
// and blocks. Here the harness replays its corpus and a seeded run; under
// ThreadSanitizer that replay is the console's stress run. The harness makes
// descriptor 0 a pipe of its own, for the life of this program.
#include <gtest/gtest.h>

#include "test_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

TEST(Console, TheHarnessHoldsOverItsCorpusAndASeededRun)
{
    const int runs = sizeof(void *) == 4 ? 300 : 3000; // armhf under qemu makes threads slowly
    EXPECT_GT(zubtest::replayHarness("console", LLVMFuzzerTestOneInput, runs, 300, 0xC0u), 0u);
}
