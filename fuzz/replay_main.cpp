// Replay driver: runs a fuzz target's LLVMFuzzerTestOneInput on every file
// named on the command line, or found (sorted) in a directory named there,
// without libFuzzer. Built with ZUB_FUZZ_REPLAY for platforms libFuzzer
// does not support (armhf under qemu-user), under UndefinedBehaviorSanitizer.
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    std::vector<std::vector<uint8_t>> inputs;
    for (int i = 1; i < argc; ++i)
        if (!zubfuzz::readInputs(argv[i], inputs))
            return std::fprintf(stderr, "cannot read %s\n", argv[i]), 1;
    // A copy of exactly its size, as libFuzzer hands it over.
    for (std::vector<uint8_t> input : inputs)
        LLVMFuzzerTestOneInput(input.data(), input.size());
    std::printf("replayed %zu inputs\n", inputs.size());
    return 0;
}
