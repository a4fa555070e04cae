#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"
#include "zub/console.h"
#include "zub_osal_test.h"

using zubtest::CountingAllocator;
using zubtest::DebugCapture;

namespace {

size_t open_descriptors()
{
    size_t count = 0;
    DIR *dir = opendir("/proc/self/fd");
    if (dir == nullptr) {
        return 0;
    }
    while (readdir(dir) != nullptr) {
        count++;
    }
    closedir(dir);
    return count;
}

// What the handlers saw, filled on the console thread.
struct Recorder {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::vector<std::string>> lines;
    std::vector<uintptr_t> contexts;
    std::vector<size_t> messagesAtCall;
    vklState_t *console = nullptr;

    void record(vklState_t *c, uintptr_t context, char **argv, int32_t argc)
    {
        std::lock_guard<std::mutex> lock(mutex);
        console = c;
        std::vector<std::string> words(argv, argv + argc);
        EXPECT_EQ(argv[argc], nullptr);
        lines.push_back(words);
        contexts.push_back(context);
        messagesAtCall.push_back(zubDebugTestCount());
        changed.notify_all();
    }
    size_t count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return lines.size();
    }
};

Recorder *g_recorder = nullptr;

int record_handler(vklState_t *console, uintptr_t context, char **argv, int32_t argc)
{
    g_recorder->record(console, context, argv, argc);
    return 0;
}

int other_handler(vklState_t *, uintptr_t, char **, int32_t)
{
    ADD_FAILURE() << "the later registration must not be found";
    return 0;
}

uint32_t flags_of(vklState_t *console)
{
    pthread_mutex_lock(&console->mutex);
    const uint32_t flags = console->flags;
    pthread_mutex_unlock(&console->mutex);
    return flags;
}

template <typename Predicate> bool eventually(Predicate predicate)
{
    for (int i = 0; i < 20000; i++) {
        if (predicate()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// Descriptor 0 is replaced by the read end of a pipe the test writes to.
class Console : public testing::Test {
protected:
    void SetUp() override
    {
        descriptorsBefore = open_descriptors();
        savedInput = dup(0);
        ASSERT_GE(savedInput, 0);
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        ASSERT_EQ(dup2(fds[0], 0), 0);
        close(fds[0]);
        writer = fds[1];
        g_recorder = &recorder;
        descriptorsRunning = open_descriptors();
    }

    void TearDown() override
    {
        endInput();
        dup2(savedInput, 0);
        close(savedInput);
        g_recorder = nullptr;
        EXPECT_EQ(open_descriptors(), descriptorsBefore) << "a descriptor leaked";
    }

    vklState_t *create(int32_t inputSize = 0, int32_t lineSize = 0)
    {
        vklStateConfig_t config = {};
        config.allocator = allocator.record();
        config.inputSize = inputSize;
        config.lineSize = lineSize;
        vklState_t *console = vklStateCreate(&config);
        EXPECT_NE(console, nullptr);
        EXPECT_EQ(vklAddSimpleCommand(console, "rec", record_handler, 42, 0), 0);
        return console;
    }

    void feed(const std::string &text)
    {
        ASSERT_EQ(write(writer, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }

    // Waits until the console thread has read and worked through everything
    // written so far.
    void drain(vklState_t *console)
    {
        ASSERT_TRUE(eventually([&] {
            int pending = 0;
            ioctl(0, FIONREAD, &pending);
            if (pending != 0) {
                return false;
            }
            pthread_mutex_lock(&console->mutex);
            const bool done = console->inputPos >= console->inputCount;
            pthread_mutex_unlock(&console->mutex);
            return done;
        }));
    }

    void endInput()
    {
        if (writer >= 0) {
            close(writer);
            writer = -1;
        }
    }

    // Ends the input, waits for the thread to end by itself, stops it.
    void finish(vklState_t *console)
    {
        endInput();
        ASSERT_TRUE(eventually([&] { return (flags_of(console) & VKL_FLAG_INPUT_ENDED) != 0; }));
        EXPECT_EQ(_vklTerminateConsoleThread(console), 0);
        EXPECT_EQ(console->buffer, nullptr);
    }

    std::vector<std::vector<std::string>> lines() { return recorder.lines; }

    CountingAllocator allocator;
    Recorder recorder;
    size_t descriptorsBefore = 0;  // before the test replaced descriptor 0
    size_t descriptorsRunning = 0; // with the replacement and the test's writer
    int savedInput = -1;
    int writer = -1;
};

const char *kUnknown = "zubsimplecommandline:264:_vklConsoleThread(): Unknown command: \"%s\".\n";

std::string format(const char *pattern, const std::string &word)
{
    char text[256];
    std::snprintf(text, sizeof text, pattern, word.c_str());
    return text;
}

} // namespace

TEST_F(Console, InitialisationRaisesTheBucketCountTo107)
{
    for (int32_t hashSize : {0, 107, -5, 108}) {
        vklStateConfig_t config = {};
        config.hashSize = hashSize;
        vklState_t *console = vklStateCreate(&config);
        ASSERT_NE(console, nullptr);
        const int32_t expected = hashSize == 108 ? 108 : 107;
        EXPECT_EQ(console->hashSize, expected);
        EXPECT_EQ(console->commands.bucketCount, static_cast<uint32_t>(expected));
        EXPECT_EQ(console->commands.list.nodeSize, static_cast<int32_t>(sizeof(vklSimpleCommand_t)));
        EXPECT_EQ(console->flags, 0u);
        EXPECT_EQ(vklStateDestroy(console), 0);
    }
}

TEST_F(Console, StartAppliesDefaultsAndAllocatesOneBlock)
{
    vklState_t *console = create();
    const size_t recordAndNothingElse = allocator.liveBlocks();
    EXPECT_EQ(recordAndNothingElse, 1u); // command records come from calloc
    EXPECT_EQ(allocator.lastSize(), sizeof(vklState_t));
    ASSERT_EQ(vklStateStart(console), 0);
    EXPECT_EQ(console->inputSize, 1024);
    EXPECT_EQ(console->lineSize, 512);
    EXPECT_EQ(allocator.lastSize(), 1024u + 2 * 513u);
    EXPECT_EQ(console->lineBuffer, console->buffer + 1024);
    EXPECT_EQ(console->scanBuffer, console->lineBuffer + 513);
    const char *source = nullptr;
    int line = 0;
    ASSERT_TRUE(zubOsalTestLastThreadSource(&source, &line));
    EXPECT_STREQ(source, "common/tools/tessel/vorn/src/zubsimplecommandline");
    EXPECT_EQ(line, 430);

    const size_t allocations = allocator.allocations();
    EXPECT_EQ(vklStateStart(console), ZUB_EBUSY);
    EXPECT_EQ(allocator.allocations(), allocations);

    // Stopped while it waits in poll.
    EXPECT_EQ(_vklTerminateConsoleThread(console), 0);
    EXPECT_EQ(allocator.liveBlocks(), 1u);
    EXPECT_EQ(flags_of(console), VKL_FLAG_STARTED | VKL_FLAG_TERMINATING);
    EXPECT_EQ(_vklTerminateConsoleThread(console), ZUB_EBUSY);
    EXPECT_EQ(vklStateStart(console), ZUB_EBUSY);
    EXPECT_EQ(vklStateTerminate(console), ZUB_EINVAL); // no terminate function
    EXPECT_EQ(vklStateDestroy(console), 0);
    EXPECT_EQ(allocator.liveBlocks(), 0u);
}

TEST_F(Console, FailedStartsLeaveNothingBehind)
{
    vklState_t *console = create();
    EXPECT_EQ(_vklTerminateConsoleThread(console), ZUB_ENOENT);
    allocator.failAfter = 0;
    EXPECT_EQ(vklStateStart(console), ZUB_ENOMEM);
    allocator.failAfter = -1;
    zubOsalTestFailThreadCreation(1);
    EXPECT_EQ(vklStateStart(console), ZUB_ENOMEM);
    EXPECT_EQ(console->buffer, nullptr);
    EXPECT_EQ(allocator.liveBlocks(), 1u);
    EXPECT_EQ(open_descriptors(), descriptorsRunning);
    EXPECT_EQ(flags_of(console) & VKL_FLAG_STARTED, 0u);
    EXPECT_EQ(vklStateStart(nullptr), ZUB_EINVAL);

    // The block size is computed in 64 bits: far too large is a failed
    // allocation, not a wrapped small block.
    console->inputSize = INT32_MAX;
    console->lineSize = INT32_MAX;
    allocator.failAbove = 0x7FFFFFFF;
    const size_t requestsBefore = allocator.sizes().size();
    EXPECT_EQ(vklStateStart(console), ZUB_ENOMEM);
    const std::vector<size_t> requests = allocator.sizes();
    // 64-bit hosts ask for the exact size; 32-bit targets ask for nothing.
    for (size_t i = requestsBefore; i < requests.size(); i++) {
        EXPECT_EQ(static_cast<uint64_t>(requests[i]), 0x7FFFFFFFull + 2 * 0x80000000ull);
    }
    EXPECT_EQ(vklStateDestroy(console), 0);
    EXPECT_EQ(allocator.liveBlocks(), 0u);
}

TEST_F(Console, LinesAreAssembledAcrossReadsAndDispatchedInOrder)
{
    vklState_t *console = create(8, 16);
    ASSERT_EQ(vklStateStart(console), 0);
    feed("rec a\nrec b\n"); // two lines in one write, over two reads of 8
    drain(console);
    feed("rec lo");          // one line over three writes
    drain(console);
    feed("ng li");
    drain(console);
    EXPECT_EQ(recorder.count(), 2u);
    feed("ne\n\n   \n");     // then an empty and a blank line
    drain(console);
    feed("rec 0123456789\n"); // exactly lineSize - 1 characters
    feed("rec partial");      // no newline before the end of input
    finish(console);
    EXPECT_EQ(lines(), (std::vector<std::vector<std::string>>{
                           {"rec", "a"}, {"rec", "b"}, {"rec", "long", "line"}, {"rec", "0123456789"}}));
    EXPECT_EQ(recorder.contexts, (std::vector<uintptr_t>{42, 42, 42, 42}));
    EXPECT_EQ(recorder.console, console);
    EXPECT_EQ(vklStateDestroy(console), 0);
    EXPECT_EQ(allocator.liveBlocks(), 0u);
}

TEST_F(Console, OverLongLinesAreDroppedWholeWithAMessage)
{
    DebugCapture capture(false);
    capture.enable(1, 3000);
    vklState_t *console = create(5, 8);
    ASSERT_EQ(vklStateStart(console), 0);
    feed("rec 123\n");              // 7 characters: held
    feed("rec 1234\n");             // 8: dropped
    feed("rec 123456789abcdefgh"); // dropped over several reads
    drain(console);
    feed("ijk\nrec ok\n");
    finish(console);
    EXPECT_EQ(lines(), (std::vector<std::vector<std::string>>{{"rec", "123"}, {"rec", "ok"}}));
    const std::string dropped =
        "zubsimplecommandline:233:_vklConsoleThread(): Input line longer than 7 characters dropped.\n";
    EXPECT_EQ(capture.messages(), (std::vector<std::string>{dropped, dropped}));
    vklStateDestroy(console);
}

TEST_F(Console, RandomLinesInRandomChunksMatchTheExpectedDispatches)
{
    for (unsigned seed = 1; seed <= 6; seed++) {
        std::mt19937 random(seed);
        const int32_t lineSize = 4 + static_cast<int32_t>(random() % 12);
        const int32_t inputSize = 1 + static_cast<int32_t>(random() % 20);
        recorder.lines.clear();
        if (writer < 0) {
            int fds[2];
            ASSERT_EQ(pipe(fds), 0);
            dup2(fds[0], 0);
            close(fds[0]);
            writer = fds[1];
        }
        vklState_t *console = create(inputSize, lineSize);
        ASSERT_EQ(vklStateStart(console), 0);
        std::string input;
        std::vector<std::vector<std::string>> expected;
        for (int i = 0; i < 60; i++) {
            std::string token(random() % 16, 'x');
            for (char &c : token) {
                c = static_cast<char>('a' + random() % 26);
            }
            const std::string line = "rec " + token;
            input += line + "\n";
            if (static_cast<int32_t>(line.size()) <= lineSize - 1) {
                expected.push_back(token.empty() ? std::vector<std::string>{"rec"}
                                                 : std::vector<std::string>{"rec", token});
            }
        }
        for (size_t at = 0; at < input.size();) {
            const size_t piece = std::min<size_t>(1 + random() % 9, input.size() - at);
            feed(input.substr(at, piece));
            if (random() % 2) {
                drain(console);
            }
            at += piece;
        }
        finish(console);
        EXPECT_EQ(lines(), expected) << "seed " << seed << " lineSize " << lineSize << " inputSize "
                                     << inputSize;
        vklStateDestroy(console);
    }
}

TEST_F(Console, MessagesNameTheSourceLineAndClass)
{
    DebugCapture capture(false);
    capture.enable(1, 5000);
    capture.enable(1, 3000);
    capture.enable(1, 1);
    vklState_t *console = create();
    ASSERT_EQ(vklStateStart(console), 0);
    feed("rec one 'two words'\n");
    drain(console);
    ASSERT_EQ(recorder.count(), 1u);
    EXPECT_EQ(recorder.messagesAtCall[0], 3u); // argument messages come before the handler
    feed("nosuch x\n");
    feed("rec \"open\n");
    finish(console);
    const std::string prefix = "zubsimplecommandline:";
    EXPECT_EQ(capture.messages(),
              (std::vector<std::string>{
                  prefix + "249:_vklConsoleThread(): Argument 0: \"rec\".\n",
                  prefix + "249:_vklConsoleThread(): Argument 1: \"one\".\n",
                  prefix + "249:_vklConsoleThread(): Argument 2: \"two words\".\n",
                  prefix + "249:_vklConsoleThread(): Argument 0: \"nosuch\".\n",
                  prefix + "249:_vklConsoleThread(): Argument 1: \"x\".\n",
                  format(kUnknown, "nosuch"),
                  prefix + "239:_vklConsoleThread(): Unable to parse input: " + strerror(22) + " (-22).\n",
                  prefix + "270:_vklConsoleThread(): Console thread terminating.\n",
              }));
    EXPECT_EQ(capture.site(0), (std::vector<uint32_t>{0x00011388u, 0, 0}));
    EXPECT_EQ(capture.site(5), (std::vector<uint32_t>{0x00010BB8u, 0, 0}));
    EXPECT_EQ(capture.site(7), (std::vector<uint32_t>{0x00010001u, 0, 0}));
    EXPECT_EQ(recorder.count(), 1u);
    vklStateDestroy(console);
}

TEST_F(Console, RegistrationChecksArgumentsAndTheEarliestNameWins)
{
    vklState_t *console = create();
    EXPECT_EQ(vklAddSimpleCommand(console, "", record_handler, 0, 0), ZUB_EINVAL);
    EXPECT_EQ(vklAddSimpleCommand(console, nullptr, record_handler, 0, 0), ZUB_EINVAL);
    EXPECT_EQ(vklAddSimpleCommand(console, "x", nullptr, 0, 0), ZUB_EINVAL);
    EXPECT_EQ(vklAddSimpleCommand(nullptr, "x", record_handler, 0, 0), ZUB_EINVAL);
    EXPECT_EQ(console->commands.list.count, 1u);
    EXPECT_EQ(vklAddSimpleCommand(console, "rec", other_handler, 7, 9), 0);
    EXPECT_EQ(console->commands.list.count, 2u);
    EXPECT_EQ(vklRemoveSimpleCommand(console, "rec"), ZUB_ENOSYS);
    EXPECT_EQ(vklRemoveSimpleModuleCommands(console, 0), ZUB_ENOSYS);
    EXPECT_EQ(console->commands.list.count, 2u);
    ASSERT_EQ(vklStateStart(console), 0);
    feed("rec first\n");
    drain(console);
    // Registered while the console runs: found at the next lookup.
    EXPECT_EQ(vklAddSimpleCommand(console, "late", record_handler, 5, 0), 0);
    feed("late\n");
    finish(console);
    EXPECT_EQ(lines(), (std::vector<std::vector<std::string>>{{"rec", "first"}, {"late"}}));
    EXPECT_EQ(recorder.contexts, (std::vector<uintptr_t>{42, 5}));
    vklStateDestroy(console);
}

TEST_F(Console, OtherBytesOnThePipeDoNotStopTheLoop)
{
    vklState_t *console = create();
    ASSERT_EQ(vklStateStart(console), 0);
    const unsigned char other = 0x01;
    ASSERT_EQ(write(console->pipeFds[1], &other, 1), 1);
    ASSERT_TRUE(eventually([&] {
        int pending = 1;
        ioctl(console->pipeFds[0], FIONREAD, &pending);
        return pending == 0;
    }));
    feed("rec still\n");
    drain(console);
    EXPECT_EQ(recorder.count(), 1u);
    EXPECT_EQ(flags_of(console), VKL_FLAG_STARTED);
    EXPECT_EQ(_vklTerminateConsoleThread(console), 0);
    vklStateDestroy(console);
}

namespace {
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool open = false;
};
Gate *g_gate = nullptr;

int blocking_handler(vklState_t *, uintptr_t, char **, int32_t)
{
    std::unique_lock<std::mutex> lock(g_gate->mutex);
    g_gate->entered = true;
    g_gate->changed.notify_all();
    g_gate->changed.wait(lock, [] { return g_gate->open; });
    return 0;
}

int quit_handler(vklState_t *console, uintptr_t, char **, int32_t)
{
    console->flags |= VKL_FLAG_TERMINATING; // the mutex is held already
    return 0;
}
} // namespace

TEST_F(Console, StopReachesAThreadThatIsDispatchingAHandler)
{
    Gate gate;
    g_gate = &gate;
    vklState_t *console = create();
    vklAddSimpleCommand(console, "block", blocking_handler, 0, 0);
    ASSERT_EQ(vklStateStart(console), 0);
    feed("block\nrec never\n");
    {
        std::unique_lock<std::mutex> lock(gate.mutex);
        gate.changed.wait(lock, [&] { return gate.entered; });
    }
    std::atomic<int32_t> result{1};
    std::thread stopper([&] { result = _vklTerminateConsoleThread(console); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(result.load(), 1); // waits for the handler to give up the mutex
    {
        std::lock_guard<std::mutex> lock(gate.mutex);
        gate.open = true;
        gate.changed.notify_all();
    }
    stopper.join();
    EXPECT_EQ(result.load(), 0);
    // The thread keeps the mutex while buffered input remains, so the second
    // line may or may not run before the stop takes hold.
    EXPECT_LE(recorder.count(), 1u);
    vklStateDestroy(console);
    EXPECT_EQ(allocator.liveBlocks(), 0u);
    g_gate = nullptr;
}

TEST_F(Console, DestroyStopsOrJoinsWhateverThreadIsLeft)
{
    // Running, no terminate function: destroy stops it itself.
    vklState_t *console = create();
    ASSERT_EQ(vklStateStart(console), 0);
    EXPECT_EQ(vklStateDestroy(console), 0);
    EXPECT_EQ(allocator.liveBlocks(), 0u);

    // Ended from a handler: the stop call sees the terminating bit, destroy joins.
    console = create();
    vklAddSimpleCommand(console, "quit", quit_handler, 0, 0);
    ASSERT_EQ(vklStateStart(console), 0);
    feed("quit\nrec never\n");
    ASSERT_TRUE(eventually([&] { return (flags_of(console) & VKL_FLAG_TERMINATING) != 0; }));
    EXPECT_EQ(_vklTerminateConsoleThread(console), ZUB_EBUSY);
    EXPECT_EQ(vklStateDestroy(console), 0);
    EXPECT_EQ(recorder.count(), 0u);

    // Ended at end of input, destroyed without a stop call.
    console = create();
    ASSERT_EQ(vklStateStart(console), 0);
    endInput();
    ASSERT_TRUE(eventually([&] { return (flags_of(console) & VKL_FLAG_INPUT_ENDED) != 0; }));
    EXPECT_EQ(vklStateDestroy(console), 0);
    EXPECT_EQ(allocator.liveBlocks(), 0u);
}

TEST_F(Console, InvalidStandardInputEndsTheLoopWithoutSpinning)
{
    vklState_t *console = create();
    ASSERT_EQ(vklStateStart(console), 0);
    // Closed while the thread waits: the next poll reports it invalid.
    close(0);
    const unsigned char wake = 0x01;
    ASSERT_EQ(write(console->pipeFds[1], &wake, 1), 1);
    ASSERT_TRUE(eventually([&] { return (flags_of(console) & VKL_FLAG_INPUT_ENDED) != 0; }));
    EXPECT_EQ(console->inputCount, 0);
    EXPECT_EQ(_vklTerminateConsoleThread(console), 0);
    vklStateDestroy(console);

    // A read error (a directory as standard input) ends it the same way.
    const int directory = open("/", O_RDONLY | O_DIRECTORY); // takes the free descriptor 0
    ASSERT_EQ(directory, 0);
    console = create();
    ASSERT_EQ(vklStateStart(console), 0);
    ASSERT_TRUE(eventually([&] { return (flags_of(console) & VKL_FLAG_INPUT_ENDED) != 0; }));
    EXPECT_EQ(console->inputCount, 0);
    vklStateDestroy(console);
    EXPECT_EQ(allocator.liveBlocks(), 0u);
}

namespace {
struct ThreadRun {
    std::atomic<int> runs{0};
    std::atomic<bool> release{false};
};
void *configured_thread(void *argument)
{
    auto *run = static_cast<ThreadRun *>(argument);
    run->runs++;
    while (!run->release.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return nullptr;
}
int configured_stop(void *argument)
{
    static_cast<ThreadRun *>(argument)->release = true;
    return 0;
}
} // namespace

TEST_F(Console, AConfiguredThreadFunctionThatReturnsCanBeStartedAgain)
{
    ThreadRun run;
    vklStateConfig_t config = {};
    config.allocator = allocator.record();
    config.threadFunction = configured_thread;
    config.terminateFunction = configured_stop;
    config.functionArgument = &run;
    vklState_t *console = vklStateCreate(&config);
    ASSERT_NE(console, nullptr);
    ASSERT_EQ(vklStateStart(console), 0);
    EXPECT_EQ(console->buffer, nullptr); // no input block, no pipe
    EXPECT_EQ(allocator.liveBlocks(), 1u);
    EXPECT_EQ(open_descriptors(), descriptorsRunning);
    EXPECT_EQ(vklStateStart(console), ZUB_EBUSY);
    EXPECT_EQ(vklStateTerminate(console), 0);
    ASSERT_TRUE(eventually([&] { return flags_of(console) == 0; }));
    run.release = false;
    ASSERT_EQ(vklStateStart(console), 0);
    ASSERT_TRUE(eventually([&] { return run.runs.load() == 2; }));
    EXPECT_EQ(vklStateDestroy(console), 0); // terminates and joins it
    EXPECT_EQ(allocator.liveBlocks(), 0u);
}

namespace {
// Checks the 0xFF fill of a destroyed record before freeing it.
struct FillCheckingAllocator {
    zubAllocator_t record{this, &allocate, &release};
    bool allFilled = false;
    size_t size = 0;
    static void *allocate(void *context, size_t bytes, uintptr_t)
    {
        static_cast<FillCheckingAllocator *>(context)->size = bytes;
        return std::malloc(bytes);
    }
    static void release(void *context, void *block)
    {
        auto *self = static_cast<FillCheckingAllocator *>(context);
        const auto *bytes = static_cast<const unsigned char *>(block);
        self->allFilled = std::all_of(bytes, bytes + self->size, [](unsigned char b) { return b == 0xFF; });
        std::free(block);
    }
};
} // namespace

TEST_F(Console, ReleaseFillsWith55AndDestroyWithFF)
{
    vklStateConfig_t config = {};
    vklState_t own;
    ASSERT_EQ(vklStateInitialize(&own, &config), 0);
    EXPECT_EQ(vklAddSimpleCommand(&own, "one", record_handler, 0, 0), 0);
    EXPECT_EQ(vklAddSimpleCommand(&own, "two", record_handler, 0, 0), 0);
    EXPECT_EQ(vklStateRelease(&own), 0); // the sanitizer build sees the records freed
    const auto *bytes = reinterpret_cast<const unsigned char *>(&own);
    EXPECT_TRUE(std::all_of(bytes, bytes + sizeof own, [](unsigned char b) { return b == 0x55; }));

    FillCheckingAllocator checking;
    config.allocator = &checking.record;
    vklState_t *console = vklStateCreate(&config);
    ASSERT_NE(console, nullptr);
    EXPECT_EQ(checking.size, sizeof(vklState_t));
    EXPECT_EQ(vklStateDestroy(console), 0);
    EXPECT_TRUE(checking.allFilled);
    EXPECT_EQ(vklStateInitialize(nullptr, &config), ZUB_EINVAL);
    EXPECT_EQ(vklStateCreate(nullptr), nullptr);
}
