// The console from one byte string. After three header bytes (input and
// line buffer sizes, and the ending) its bytes are written through a pipe
// that stands in as standard input, to a console whose input and line
// buffers are as small as the input chooses (so reads split lines
// anywhere). Three commands are registered twice, and once more from a
// second thread while the console runs; "quit" ends the console from its
// handler. The handlers note their calls among the captured messages, and
// the whole stream (site words and text) must be that of a plain reference
// that splits the bytes into lines, drops the over-long ones and scans the
// rest: all of it when the console reads to the end of its input (after a
// byte other than the stop byte on its pipe, too), a prefix of it when its
// input is closed under it, when it is stopped twice at once, destroyed
// while it runs, or stopped while Destroy runs. Before that, a Start fails
// (no block, no thread, no descriptor for the pipe) and leaves nothing
// behind. A configured thread function that returns is joined by the next
// Start, and stopping it closes nothing. No ending leaves a descriptor or a
// block behind, and the record goes back filled with 0xFF; under
// ThreadSanitizer the replay of these inputs is the console's stress run.
#include <atomic>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

#include "fuzz_input.h"
#include "zub/console.h"
#include "zub/debug.h"
#include "zub/osal.h"
#include "zub_debug_test.h"
#include "zub_osal_test.h"

namespace {

const char *const kNames[] = {"echo", "x", "quit"};
std::atomic<bool> g_quit{false}, g_failNext{false};
std::atomic<int> g_liveBlocks{0}, g_runs{0}, g_exited{0};
std::atomic<size_t> g_lastSize{0};
vklState_t *g_console = nullptr;

long openDescriptors()
{
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

uint32_t flags(vklState_t *console)
{
    pthread_mutex_lock(&console->mutex);
    const uint32_t flags = console->flags;
    return pthread_mutex_unlock(&console->mutex), flags;
}

// Polls for 20 seconds at most.
template <typename Predicate> bool eventually(Predicate predicate)
{
    for (int i = 0; i < 400000; ++i, usleep(50))
        if (predicate())
            return true;
    return false;
}

bool filled(const void *record, char fill)
{
    return std::string(static_cast<const char *>(record), sizeof(vklState_t)) ==
           std::string(sizeof(vklState_t), fill);
}

// A handler call as noted: which registration answered, then the arguments.
std::string call(uintptr_t context, char **argv, int32_t argc)
{
    std::string text = "call " + std::to_string(context);
    for (int32_t i = 0; i < argc; ++i)
        text += std::string("|") + argv[i];
    return text + "\n";
}

int record(vklState_t *console, uintptr_t context, char **argv, int32_t argc)
{
    static const zubDebugSite_t note = {ZUB_DEBUG_SITE_WORD(1, 7), 0, 0};
    FUZZ_CHECK(argc >= 1 && argv[argc] == nullptr && zubDebugCheckLevelGetFrameAndChunk(&note));
    zubDebugOutput0("%s", call(context, argv, argc).c_str());
    errno = EAGAIN; // what a handler leaves in errno must not end or hang the loop
    if (context == 0 && std::strcmp(argv[0], "quit") == 0)
        g_quit = true, console->flags |= VKL_FLAG_TERMINATING; // the handler holds the mutex
    return 0;
}

// What the console writes and calls for these bytes when it reads them all.
std::vector<std::string> reference(const char *text, size_t size, int32_t lineSize)
{
    std::vector<std::string> out; // site word, a space, the message
    const auto note = [&out](uint16_t messageClass, const std::string &text) {
        out.push_back(std::to_string(ZUB_DEBUG_SITE_WORD(1, messageClass)) + " " + text);
    };
    const auto message = [&](uint16_t messageClass, int line, const std::string &what) {
        note(messageClass, "zubsimplecommandline:" + std::to_string(line) +
                               ":_vklConsoleThread(): " + what + ".\n");
    };
    const std::string tooLong =
        "Input line longer than " + std::to_string(lineSize - 1) + " characters dropped";
    std::vector<char> scan(static_cast<size_t>(lineSize) + 1);
    char *argv[VKL_MAX_ARGUMENTS + 1];
    uint32_t aux[VKL_MAX_ARGUMENTS + 1];
    const char *line = text, *end;
    for (; (end = std::find(line, text + size, '\n')) < text + size; line = end + 1) {
        const int32_t length = static_cast<int32_t>(end - line);
        const int32_t n = length >= lineSize
                              ? (message(3000, 233, tooLong), 0)
                              : zubCommandLineSimpleScan(argv, aux, scan.data(), lineSize,
                                                         VKL_MAX_ARGUMENTS, line, length, 0);
        if (n < 0)
            message(3000, 239,
                    "Unable to parse input: " + std::string(std::strerror(-n)) + " (" +
                        std::to_string(n) + ")");
        for (int32_t i = 0; i < n; ++i)
            message(5000, 249, "Argument " + std::to_string(i) + ": \"" + argv[i] + "\"");
        if (n > 0 && std::count(std::begin(kNames), std::end(kNames), std::string(argv[0])) == 0)
            message(3000, 264, std::string("Unknown command: \"") + argv[0] + "\"");
        else if (n > 0)
            note(7, call(0, argv, n)); // class 7: the handlers' notes
        if (n > 0 && argv[0] == std::string("quit"))
            return message(1, 270, "Console thread terminating"), out; // the rest is never read
    }
    if (text + size - line >= lineSize)
        message(3000, 233, tooLong);
    return message(1, 270, "Console thread terminating"), out;
}

// The console's allocator: counts the live blocks, fails once when told
// to, and sees the record come back filled with 0xFF.
void *allocate(void *, size_t size, uintptr_t)
{
    g_lastSize = size;
    return g_failNext.exchange(false) ? nullptr : (++g_liveBlocks, std::malloc(size));
}
void release(void *, void *block)
{
    FUZZ_CHECK(block != g_console || filled(block, '\xFF'));
    g_liveBlocks -= block != nullptr;
    std::free(block);
}
zubAllocator_t g_counting = {nullptr, allocate, release};

// Its first run returns at once; its last act, a thread-local destructor,
// comes after the wrapper has left the record. Later runs await a stop.
struct LastAct {
    ~LastAct() { usleep(2000), ++g_exited; }
};
void *returnsFirst(void *)
{
    thread_local LastAct last;
    for (const bool first = ++g_runs == 1;
         !first && (flags(g_console) & VKL_FLAG_TERMINATING) == 0;)
        usleep(100);
    return nullptr;
}

// Below TwoStops the console reads until its input ends, or fails.
enum Ending { Ends, OtherByte, Closed, TwoStops, Destroy, StopDestroy, Restart };

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zubDebugTestEnableAll(), zubDebugTestCapture(1), zubDebugTestClear();
    zubfuzz::Input in(data, size);
    const uint8_t inputRoll = in.u8(), lineRoll = in.u8(), chunkSeed = in.u8();
    size_t textSize = 0;
    const auto *text = reinterpret_cast<const char *>(in.bytes(in.left(), &textSize));
    const int ending = chunkSeed % (Restart + 1);
    vklStateConfig_t config = {};
    config.allocator = &g_counting;
    config.inputSize = inputRoll < 16 ? 0 : 1 + inputRoll % 48;
    config.lineSize = lineRoll < 16 ? 0 : 1 + lineRoll % 64;
    config.threadFunction = ending == Restart ? returnsFirst : nullptr;
    const int32_t inputSize = config.inputSize ? config.inputSize : 1024;
    const int32_t lineSize = config.lineSize ? config.lineSize : 512;
    int fds[2];
    FUZZ_CHECK(pipe(fds) == 0 && (fds[0] == 0 || (dup2(fds[0], 0) == 0 && close(fds[0]) == 0)));
    const long descriptors = openDescriptors(); // with the write end
    g_quit = false, g_runs = g_exited = 0;
    vklState_t *console = g_console = vklStateCreate(&config);
    for (uintptr_t k = 0; k < 2; ++k) // the second registration of a name is never called
        for (const char *name : kNames)
            FUZZ_CHECK(vklAddSimpleCommand(console, name, record, k, 0) == 0);
    FUZZ_CHECK(vklAddSimpleCommand(console, "", record, 0, 0) == ZUB_EINVAL);
    FUZZ_CHECK(vklAddSimpleCommand(console, nullptr, record, 0, 0) == ZUB_EINVAL);
    FUZZ_CHECK(vklAddSimpleCommand(console, "x", nullptr, 0, 0) == ZUB_EINVAL);
    FUZZ_CHECK(vklAddSimpleCommand(nullptr, "x", record, 0, 0) == ZUB_EINVAL);
    FUZZ_CHECK(_vklTerminateConsoleThread(console) == ZUB_ENOENT);
    FUZZ_CHECK(vklStateStart(nullptr) == ZUB_EINVAL && vklStateCreate(nullptr) == nullptr);
    FUZZ_CHECK(vklRemoveSimpleCommand(console, "x") == ZUB_ENOSYS &&
               vklRemoveSimpleModuleCommands(console, 0) == ZUB_ENOSYS);

    // A Start that fails (no block, no thread, no descriptor for the pipe)
    // leaves no block, descriptor or started bit behind.
    const int failure = ending == Restart ? 3 : (inputRoll + lineRoll) % 4;
    rlimit saved;
    getrlimit(RLIMIT_NOFILE, &saved);
    const rlimit none = {0, saved.rlim_max};
    g_failNext = failure == 0, zubOsalTestFailThreadCreation(failure == 1);
    setrlimit(RLIMIT_NOFILE, failure == 2 ? &none : &saved);
    FUZZ_CHECK(failure == 3 || vklStateStart(console) == (failure == 2 ? ZUB_EFAULT : ZUB_ENOMEM));
    setrlimit(RLIMIT_NOFILE, &saved);
    FUZZ_CHECK(console->buffer == nullptr && flags(console) == 0 && g_liveBlocks == 1 &&
               openDescriptors() == descriptors);

    FUZZ_CHECK(vklStateStart(console) == 0);
    FUZZ_CHECK(ending == Restart || // one input block, laid out as documented
               (g_lastSize == 0u + inputSize + 2 * (lineSize + 1) &&
                console->scanBuffer == console->buffer + inputSize + lineSize + 1));
    std::thread adder([console] {
        for (const char *name : kNames)
            FUZZ_CHECK(vklAddSimpleCommand(console, name, record, 2, 0) == 0);
    });
    // The whole input fits the pipe, so the write never waits for the reader.
    // A closed input gets none: it is closed while the console waits in
    // poll, never while it reads.
    FUZZ_CHECK(ending == Closed || write(fds[1], text, textSize) == static_cast<ssize_t>(textSize));

    // A stop may find errno at EINTR from an earlier call: it writes the stop byte once.
    std::atomic<int32_t> ends[2] = {1, 1}; // 1: not returned yet
    const auto stop = [&](int i) { errno = EINTR, ends[i] = _vklTerminateConsoleThread(console); };
    std::jthread second; // joined when the run ends
    if (ending < TwoStops) {
        FUZZ_CHECK(ending != Closed || close(0) == 0);
        // Not the stop byte: the console goes on (and meets the broken input).
        FUZZ_CHECK(ending == Ends || write(console->pipeFds[1], "\x01", 1) == 1);
        close(fds[1]);
        FUZZ_CHECK(eventually(
            [&] { return flags(console) & (VKL_FLAG_INPUT_ENDED | VKL_FLAG_TERMINATING); }));
    } else if (ending == TwoStops) {
        std::jthread(stop, 1), stop(0); // the other stop is joined after this one
    } else if (ending == StopDestroy) { // Destroy once the other stop began: it waits for it
        second = std::jthread(stop, 1);
        FUZZ_CHECK(eventually([&] {
            return ends[1] != 1 || ((flags(console) & VKL_FLAG_TERMINATING) != 0 && !g_quit);
        }));
    } else if (ending == Restart) {
        // Start joins the thread that returned.
        FUZZ_CHECK(eventually([&] { return vklStateStart(console) == 0; }) && g_exited == 1);
        stop(0);
        FUZZ_CHECK(ends[0] == 0 && g_exited == 2);
    }
    // The loop ends its thread without clearing the started bit.
    FUZZ_CHECK(ending == Restart || vklStateStart(console) == ZUB_EBUSY);
    adder.join();
    FUZZ_CHECK(vklStateDestroy(console) == 0);
    close(ending < TwoStops ? -1 : fds[1]);
    FUZZ_CHECK(openDescriptors() + 1 + (ending == Closed) == descriptors && g_liveBlocks == 0);
    vklState_t own; // released in place: every byte 0x55
    FUZZ_CHECK(vklStateInitialize(&own, &config) == 0 && vklStateRelease(&own) == 0 &&
               filled(&own, 0x55));

    std::vector<std::string> seen; // frame and chunk words are 0 at every site
    for (uint32_t i = 0, words[3]; zubDebugTestSite(i, words); ++i)
        seen.push_back(std::to_string(words[1] || words[2] ? 0 : words[0]) + " " +
                       zubDebugTestMessage(i));
    const std::vector<std::string> expected = reference(text, textSize, lineSize);
    if (ending > OtherByte && !seen.empty() && seen.back() == expected.back())
        seen.pop_back();
    FUZZ_CHECK(ending <= OtherByte ? seen == expected
                                   : seen.size() < expected.size() &&
                                         std::equal(seen.begin(), seen.end(), expected.begin()));
    // Of two stops one wins and the other is told; both are told after a quit.
    const int32_t first = std::min(ends[0], ends[1]), last = std::max(ends[0], ends[1]);
    FUZZ_CHECK(ending != TwoStops ||
               (first == ZUB_EBUSY && (last == 0 || (g_quit && last == ZUB_EBUSY))));
    return 0;
}
