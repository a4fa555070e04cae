// Console line assembly and the command-line scanner: the fuzz input is
// written through a pipe that stands in as standard input, in chunks of
// varying size, to a console whose input and line buffers are as small as
// the input chooses (so reads of any size split lines anywhere). A few
// commands are registered, one of which ends the console from its handler.
// The handler calls must be exactly those of a reference that splits the
// bytes into lines, drops the over-long ones and scans the rest.
// The scanner is also run on its own with exact-size heap buffers.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include "fuzz_input.h"
#include "zub_debug_test.h"
#include "zub/console.h"
#include "zub/osal.h"

namespace {

using Call = std::vector<std::string>; // the arguments; front() names the command

std::vector<Call> g_calls;

int record(vklState_t *console, uintptr_t context, char **argv, int32_t argc)
{
    FUZZ_CHECK(argc >= 1 && argc <= VKL_MAX_ARGUMENTS && argv[argc] == nullptr);
    Call call(argv, argv + argc);
    call.front() += static_cast<char>('0' + context); // which registration answered
    g_calls.push_back(call);
    if (call.front() == "quit0") {
        console->flags |= VKL_FLAG_TERMINATING; // the handler holds the mutex
    }
    return 0;
}

const char *const kNames[] = {"echo", "x", "quit"};

// What the console must call for these bytes.
std::vector<Call> reference(const uint8_t *bytes, size_t size, int32_t lineSize)
{
    std::vector<Call> calls;
    std::vector<char> scan(static_cast<size_t>(lineSize) + 1);
    char *argv[VKL_MAX_ARGUMENTS + 1];
    uint32_t aux[VKL_MAX_ARGUMENTS + 1];
    size_t start = 0;
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] != '\n') {
            continue;
        }
        const size_t length = i - start;
        std::string line(reinterpret_cast<const char *>(bytes) + start, length);
        start = i + 1;
        if (length > static_cast<size_t>(lineSize) - 1) {
            continue;
        }
        const int32_t n = zubCommandLineSimpleScan(argv, aux, scan.data(), lineSize, VKL_MAX_ARGUMENTS,
                                                   line.c_str(), static_cast<int32_t>(length), 0);
        if (n <= 0 || argv[0] == nullptr) {
            continue;
        }
        for (const char *name : kNames) {
            if (std::strcmp(argv[0], name) == 0) {
                Call call(argv, argv + n);
                call.front() += '0';
                calls.push_back(call);
                if (call.front() == "quit0") {
                    return calls;
                }
            }
        }
    }
    return calls;
}

bool ended(vklState_t *console)
{
    pthread_mutex_lock(&console->mutex);
    const bool done = (console->flags & (VKL_FLAG_INPUT_ENDED | VKL_FLAG_TERMINATING)) != 0;
    pthread_mutex_unlock(&console->mutex);
    return done;
}

// The scanner alone: nothing written past the buffers it is given, every
// argument inside the scan buffer and NUL-terminated there.
void scan_alone(zubfuzz::Input &in, const uint8_t *bytes, size_t size)
{
    const auto scanSize = static_cast<int32_t>(in.small(80));
    const auto maxArguments = static_cast<int32_t>(in.small(12));
    std::string line(reinterpret_cast<const char *>(bytes), size);
    std::unique_ptr<char[]> scan(new char[static_cast<size_t>(scanSize)]);
    std::unique_ptr<char *[]> argv(new char *[static_cast<size_t>(maxArguments) + 1]);
    std::unique_ptr<uint32_t[]> aux(new uint32_t[static_cast<size_t>(maxArguments) + 1]);
    const int32_t n = zubCommandLineSimpleScan(argv.get(), aux.get(), scan.get(), scanSize, maxArguments,
                                               line.c_str(), static_cast<int32_t>(size), 0);
    FUZZ_CHECK(n == -7 || n == -22 || n == -105 || (n >= 0 && n <= maxArguments));
    for (int32_t i = 0; i < n; ++i) {
        FUZZ_CHECK(argv[i] >= scan.get() && argv[i] < scan.get() + scanSize);
        FUZZ_CHECK(std::memchr(argv[i], '\0', static_cast<size_t>(scan.get() + scanSize - argv[i])) != nullptr);
        FUZZ_CHECK(aux[i] <= size);
    }
    FUZZ_CHECK(n < 0 || argv[n] == nullptr);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zubDebugTestEnableAll();
    zubDebugTestCapture(1);
    zubfuzz::Input in(data, size);
    const uint32_t inputRoll = in.u8(), lineRoll = in.u8(), chunkSeed = in.u8();
    size_t textSize = 0;
    const uint8_t *text = in.bytes(in.left(), &textSize);
    zubfuzz::Input scanParameters(data, size < 2 ? size : 2);
    scan_alone(scanParameters, text, textSize);

    vklStateConfig_t config = {};
    config.inputSize = inputRoll < 16 ? 0 : static_cast<int32_t>(1 + inputRoll % 48);
    config.lineSize = lineRoll < 16 ? 0 : static_cast<int32_t>(1 + lineRoll % 64);
    const int32_t lineSize = config.lineSize == 0 ? VKL_DEFAULT_LINE_SIZE : config.lineSize;

    int fds[2];
    FUZZ_CHECK(pipe(fds) == 0);
    if (fds[0] != 0) {
        FUZZ_CHECK(dup2(fds[0], 0) == 0);
        close(fds[0]);
    }

    g_calls.clear();
    vklState_t *console = vklStateCreate(&config);
    FUZZ_CHECK(console != nullptr);
    for (uintptr_t k = 0; k < 2; ++k) { // the second registration of a name is never called
        for (const char *name : kNames) {
            FUZZ_CHECK(vklAddSimpleCommand(console, name, record, k, 0) == 0);
        }
    }
    FUZZ_CHECK(vklStateStart(console) == 0);

    // The whole input fits the pipe, so the writes never wait for the reader.
    uint32_t lcg = chunkSeed * 2654435761u + 1;
    for (size_t at = 0; at < textSize;) {
        lcg = lcg * 1664525u + 1013904223u;
        const size_t chunk = std::min<size_t>(textSize - at, 1 + (lcg >> 24) % 40);
        FUZZ_CHECK(write(fds[1], text + at, chunk) == static_cast<ssize_t>(chunk));
        at += chunk;
    }
    close(fds[1]);
    while (!ended(console)) {
        usleep(50);
    }
    FUZZ_CHECK(vklStateDestroy(console) == 0); // descriptor 0 stays open until the next pipe replaces it

    FUZZ_CHECK(g_calls == reference(text, textSize, lineSize));
    zubDebugTestClear();
    return 0;
}
