#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "console_support.h"
#include "test_support.h"
#include "zub/console.h"
#include "zub_osal_test.h"

using namespace zubtest; // NOLINT(google-build-using-namespace)
using Lines = std::vector<std::vector<std::string>>;

namespace {

// What the handlers saw: written on the console thread under the console
// mutex, read after the test took that mutex or joined the thread.
struct Recorder {
    Lines lines;
    std::vector<uintptr_t> contexts;
    std::vector<size_t> messagesAtCall;
    vklState_t *console = nullptr;
} * g_recorder;

int record_handler(vklState_t *console, uintptr_t context, char **argv, int32_t argc)
{
    EXPECT_EQ(argv[argc], nullptr);
    g_recorder->console = console;
    g_recorder->lines.emplace_back(argv, argv + argc);
    g_recorder->contexts.push_back(context);
    g_recorder->messagesAtCall.push_back(zubDebugTestCount());
    return 0;
}

// Descriptor 0 is replaced by the read end of a pipe the test writes to.
class Console : public testing::Test {
protected:
    void SetUp() override
    {
        descriptorsBefore = openDescriptors();
        savedInput = dup(0);
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        dup2(fds[0], 0);
        close(fds[0]);
        writer = fds[1];
        g_recorder = &recorder;
        descriptorsRunning = openDescriptors();
    }
    void TearDown() override
    {
        endInput();
        dup2(savedInput, 0);
        close(savedInput);
        EXPECT_EQ(openDescriptors(), descriptorsBefore) << "a descriptor leaked";
        EXPECT_EQ(allocator.liveBlocks(), 0u) << "a block leaked";
    }
    void endInput()
    {
        close(writer); // -1 when already ended: EBADF, harmless
        writer = -1;
    }
    vklState_t *create(int32_t inputSize = 0, int32_t lineSize = 0)
    {
        vklStateConfig_t config = {};
        config.allocator = allocator.record();
        config.inputSize = inputSize;
        config.lineSize = lineSize;
        vklState_t *console = vklStateCreate(&config);
        EXPECT_EQ(vklAddSimpleCommand(console, "rec", record_handler, 42, 0), 0);
        return console;
    }
    void feed(const std::string &text)
    {
        ASSERT_EQ(write(writer, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    // Until the thread has read and worked through everything written.
    void drain(vklState_t *console)
    {
        ASSERT_TRUE(eventually([&] {
            int pending = 0;
            ioctl(0, FIONREAD, &pending);
            pthread_mutex_lock(&console->mutex);
            const bool done = pending == 0 && console->inputPos >= console->inputCount;
            pthread_mutex_unlock(&console->mutex);
            return done;
        }));
    }
    // Ends the input, waits for the thread to end by itself, then stops it.
    void finish(vklState_t *console)
    {
        endInput();
        ASSERT_TRUE(flagComes(console, VKL_FLAG_INPUT_ENDED));
        EXPECT_EQ(_vklTerminateConsoleThread(console), 0);
        EXPECT_EQ(console->buffer, nullptr);
        EXPECT_EQ(vklStateDestroy(console), 0);
    }

    CountingAllocator allocator;
    Recorder recorder;
    size_t descriptorsBefore = 0, descriptorsRunning = 0;
    int savedInput = -1, writer = -1;
};

} // namespace

TEST_F(Console, LifeCycleDefaultsAndResultCodes)
{
    for (int32_t hashSize : {0, 107, -5, 108}) {
        vklStateConfig_t config = {};
        config.hashSize = hashSize;
        vklState_t *console = vklStateCreate(&config);
        const uint32_t expected = hashSize == 108 ? 108 : 107;
        EXPECT_EQ(console->hashSize, static_cast<int32_t>(expected));
        EXPECT_EQ(console->commands.bucketCount, expected);
        vklStateDestroy(console);
    }
    vklState_t *console = create();
    EXPECT_EQ(allocator.sizes(),
              std::vector<size_t>{sizeof(vklState_t)}); // command records use calloc
    EXPECT_EQ(_vklTerminateConsoleThread(console), ZUB_ENOENT);
    ASSERT_EQ(vklStateStart(console), 0);
    EXPECT_EQ(console->inputSize, 1024);
    EXPECT_EQ(console->lineSize, 512);
    EXPECT_EQ(allocator.lastSize(), 1024u + 2 * 513u);
    EXPECT_EQ(console->scanBuffer, console->buffer + 1024 + 513);
    const char *source = nullptr;
    int line = 0;
    zubOsalTestLastThreadSource(&source, &line);
    EXPECT_STREQ(source, "common/tools/tessel/vorn/src/zubsimplecommandline");
    EXPECT_EQ(line, 430);
    EXPECT_EQ(vklStateStart(console), ZUB_EBUSY);
    EXPECT_EQ(allocator.allocations(), 2u);
    EXPECT_EQ(_vklTerminateConsoleThread(console), 0); // stopped while it waits in poll
    EXPECT_EQ(consoleFlags(console), VKL_FLAG_STARTED | VKL_FLAG_TERMINATING);
    EXPECT_EQ(_vklTerminateConsoleThread(console), ZUB_EBUSY);
    EXPECT_EQ(vklStateStart(console), ZUB_EBUSY);
    EXPECT_EQ(vklStateTerminate(console), ZUB_EINVAL); // no terminate function
    EXPECT_EQ(vklRemoveSimpleCommand(console, "rec"), ZUB_ENOSYS);
    EXPECT_EQ(vklRemoveSimpleModuleCommands(console, 0), ZUB_ENOSYS);
    EXPECT_EQ(console->commands.list.count, 1u);
    EXPECT_EQ(vklStateDestroy(console), 0);
    EXPECT_EQ(vklStateStart(nullptr), ZUB_EINVAL);
    EXPECT_EQ(vklStateCreate(nullptr), nullptr);
}

TEST_F(Console, FailedStartsLeaveNothingBehind)
{
    vklState_t *console = create();
    allocator.failAfter = 0;
    EXPECT_EQ(vklStateStart(console), ZUB_ENOMEM);
    allocator.failAfter = -1;
    zubOsalTestFailThreadCreation(1);
    EXPECT_EQ(vklStateStart(console), ZUB_ENOMEM);
    EXPECT_EQ(console->buffer, nullptr);
    EXPECT_EQ(allocator.liveBlocks(), 1u);
    EXPECT_EQ(openDescriptors(), descriptorsRunning);
    EXPECT_EQ(consoleFlags(console), 0u);
    // No descriptor left for the stop pipe: the input block goes back.
    rlimit saved, none = {0, 0};
    getrlimit(RLIMIT_NOFILE, &saved);
    none.rlim_max = saved.rlim_max;
    setrlimit(RLIMIT_NOFILE, &none);
    EXPECT_EQ(vklStateStart(console), ZUB_EFAULT);
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(allocator.liveBlocks(), 1u);
    // A block size beyond 32 bits is never requested as its wrapped remainder.
    console->inputSize = console->lineSize = INT32_MAX;
    allocator.failAbove = 0x7FFFFFFF;
    const size_t before = allocator.sizes().size();
    EXPECT_EQ(vklStateStart(console), ZUB_ENOMEM);
    for (size_t i = before; i < allocator.sizes().size(); i++) {
        EXPECT_EQ(static_cast<uint64_t>(allocator.sizes()[i]), 0x7FFFFFFFull + 2 * 0x80000000ull);
    }
    vklStateDestroy(console);
}

TEST_F(Console, LinesAreAssembledAcrossReadsAndOverLongOnesDropped)
{
    DebugCapture capture(false);
    capture.enable(1, 3000);
    vklState_t *console = create(1, 8); // lines of up to 7 characters, read byte by byte
    ASSERT_EQ(vklStateStart(console), 0);
    EXPECT_EQ(console->inputSize, 1);
    feed("rec a\nrec b\n"); // two lines in one write
    drain(console);
    for (const char *piece : {"rec x", "y", "z\n"}) { // 7 characters over three reads
        feed(piece);
        drain(console);
    }
    feed("\n   \nrec 123\nrec 1234\nrec 123456789abc"); // empty, blank, 7 characters, two over-long
    drain(console);
    feed("def\nrec ok\nrec pa"); // a partial line at the end of input
    finish(console);
    EXPECT_EQ(recorder.lines,
              (Lines{{"rec", "a"}, {"rec", "b"}, {"rec", "xyz"}, {"rec", "123"}, {"rec", "ok"}}));
    const std::string dropped =
        "zubsimplecommandline:233:_vklConsoleThread(): Input line longer than 7 characters dropped.\n";
    EXPECT_EQ(capture.messages(), (std::vector<std::string>{dropped, dropped}));
}

TEST_F(Console, MessagesHandlerArgumentsAndTheEarliestRegistration)
{
    DebugCapture capture(false);
    capture.enable(1, 5000);
    capture.enable(1, 3000);
    capture.enable(1, 1);
    vklState_t *console = create();
    EXPECT_EQ(vklAddSimpleCommand(console, "", record_handler, 0, 0), ZUB_EINVAL);
    EXPECT_EQ(vklAddSimpleCommand(console, nullptr, record_handler, 0, 0), ZUB_EINVAL);
    EXPECT_EQ(vklAddSimpleCommand(console, "x", nullptr, 0, 0), ZUB_EINVAL);
    EXPECT_EQ(vklAddSimpleCommand(nullptr, "x", record_handler, 0, 0), ZUB_EINVAL);
    EXPECT_EQ(vklAddSimpleCommand(console, "rec", quitHandler, 7, 0),
              0); // found second: never called
    ASSERT_EQ(vklStateStart(console), 0);
    feed("rec one 'two words'\n");
    drain(console);
    EXPECT_EQ(vklAddSimpleCommand(console, "late", record_handler, 5, 0), 0); // while running
    feed("nosuch x\nrec \"open\nlate\n");
    finish(console);
    EXPECT_EQ(recorder.lines, (Lines{{"rec", "one", "two words"}, {"late"}}));
    EXPECT_EQ(recorder.contexts, (std::vector<uintptr_t>{42, 5}));
    EXPECT_EQ(recorder.console, console);
    EXPECT_EQ(recorder.messagesAtCall[0], 3u); // argument messages come before the handler
    const std::string at = "zubsimplecommandline:";
    EXPECT_EQ(
        capture.messages(),
        (std::vector<std::string>{
            at + "249:_vklConsoleThread(): Argument 0: \"rec\".\n",
            at + "249:_vklConsoleThread(): Argument 1: \"one\".\n",
            at + "249:_vklConsoleThread(): Argument 2: \"two words\".\n",
            at + "249:_vklConsoleThread(): Argument 0: \"nosuch\".\n",
            at + "249:_vklConsoleThread(): Argument 1: \"x\".\n",
            at + "264:_vklConsoleThread(): Unknown command: \"nosuch\".\n",
            at + "239:_vklConsoleThread(): Unable to parse input: " + strerror(22) + " (-22).\n",
            at + "249:_vklConsoleThread(): Argument 0: \"late\".\n",
            at + "270:_vklConsoleThread(): Console thread terminating.\n",
        }));
    EXPECT_EQ(capture.site(0), (std::vector<uint32_t>{0x00011388u, 0, 0}));
    EXPECT_EQ(capture.site(5), (std::vector<uint32_t>{0x00010BB8u, 0, 0}));
    EXPECT_EQ(capture.site(8), (std::vector<uint32_t>{0x00010001u, 0, 0}));
}

TEST_F(Console, PipeBytesAndBrokenInputNeitherSpinNorStopWrongly)
{
    vklState_t *console = create();
    ASSERT_EQ(vklStateStart(console), 0);
    const unsigned char other = 0x01;
    ASSERT_EQ(write(console->pipeFds[1], &other, 1), 1); // not the stop byte
    feed("rec still\n");
    drain(console);
    EXPECT_EQ(recorder.lines, (Lines{{"rec", "still"}}));
    close(0); // invalid at the next poll
    ASSERT_EQ(write(console->pipeFds[1], &other, 1), 1);
    ASSERT_TRUE(flagComes(console, VKL_FLAG_INPUT_ENDED));
    vklStateDestroy(console);

    ASSERT_EQ(open("/", O_RDONLY | O_DIRECTORY), 0); // reads fail with EISDIR
    console = create();
    ASSERT_EQ(vklStateStart(console), 0);
    ASSERT_TRUE(flagComes(console, VKL_FLAG_INPUT_ENDED));
    EXPECT_EQ(console->inputCount, 0);
    vklStateDestroy(console);
}

TEST_F(Console, AConfiguredThreadFunctionThatReturnsCanBeStartedAgain)
{
    static std::atomic<int> runs{0};
    static std::atomic<bool> release{false};
    vklStateConfig_t config = {};
    config.allocator = allocator.record();
    config.threadFunction = [](void *) -> void * {
        runs++;
        while (!release) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return nullptr;
    };
    config.terminateFunction = [](void *) {
        release = true;
        return 0;
    };
    vklState_t *console = vklStateCreate(&config);
    ASSERT_EQ(vklStateStart(console), 0);
    EXPECT_EQ(allocator.liveBlocks(), 1u); // no input block and no pipe
    EXPECT_EQ(openDescriptors(), descriptorsRunning);
    EXPECT_EQ(vklStateStart(console), ZUB_EBUSY);
    EXPECT_EQ(vklStateTerminate(console), 0);
    ASSERT_TRUE(eventually([&] { return consoleFlags(console) == 0; }));
    release = false;
    ASSERT_EQ(vklStateStart(console), 0);
    ASSERT_TRUE(eventually([] { return runs == 2; }));
    EXPECT_EQ(vklStateDestroy(console), 0); // terminates and joins it
}

TEST_F(Console, ReleaseFillsWith55AndDestroyWithFF)
{
    vklStateConfig_t config = {};
    vklState_t own;
    ASSERT_EQ(vklStateInitialize(&own, &config), 0);
    vklAddSimpleCommand(&own, "one", record_handler, 0, 0);
    EXPECT_EQ(vklStateRelease(&own), 0); // the sanitizer build sees the records freed
    const auto *bytes = reinterpret_cast<const unsigned char *>(&own);
    EXPECT_TRUE(std::all_of(bytes, bytes + sizeof own, [](unsigned char b) { return b == 0x55; }));

    static bool destroyedFilled = false;
    zubAllocator_t checking = {
        nullptr, [](void *, size_t size, uintptr_t) { return std::malloc(size); },
        [](void *, void *block) {
            const auto *bytes = static_cast<const unsigned char *>(block);
            destroyedFilled = std::all_of(bytes, bytes + sizeof(vklState_t),
                                          [](unsigned char b) { return b == 0xFF; });
            std::free(block);
        }};
    config.allocator = &checking;
    EXPECT_EQ(vklStateDestroy(vklStateCreate(&config)), 0);
    EXPECT_TRUE(destroyedFilled);
}
