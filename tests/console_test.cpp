#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "console_support.h"
#include "test_support.h"
#include "zub_osal_test.h"

using namespace zubtest; // NOLINT(google-build-using-namespace)
using Lines = std::vector<std::vector<std::string>>;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {
// What the handler saw, written on the console thread under the console
// mutex and read once the thread is joined.
Lines g_lines;
std::vector<uintptr_t> g_contexts;
size_t g_messagesAtFirstCall = 0;
int record_handler(vklState_t *, uintptr_t context, char **argv, int32_t argc)
{
    EXPECT_EQ(argv[argc], nullptr);
    g_messagesAtFirstCall = g_lines.empty() ? zubDebugTestCount() : g_messagesAtFirstCall;
    g_lines.emplace_back(argv, argv + argc);
    g_contexts.push_back(context);
    return 0;
}

// Descriptor 0 is the read end of a pipe the test writes to; nothing may
// be left open or allocated after a case.
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
        g_lines.clear();
        g_contexts.clear();
        descriptorsRunning = openDescriptors();
    }
    void TearDown() override
    {
        close(writer);
        dup2(savedInput, 0);
        close(savedInput);
        EXPECT_EQ(openDescriptors(), descriptorsBefore) << "a descriptor leaked";
        EXPECT_EQ(allocator.liveBlocks(), 0u) << "a block leaked";
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
    // Writes the text, ends the input and waits for the thread to end by itself.
    void feedAndFinish(vklState_t *console, const std::string &text)
    {
        ASSERT_EQ(write(writer, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(writer);
        writer = -1;
        ASSERT_TRUE(flagComes(console, VKL_FLAG_INPUT_ENDED));
        EXPECT_EQ(_vklTerminateConsoleThread(console), 0);
        EXPECT_EQ(console->buffer, nullptr);
        EXPECT_EQ(vklStateDestroy(console), 0);
    }
    CountingAllocator allocator;
    size_t descriptorsBefore = 0, descriptorsRunning = 0;
    int savedInput = -1, writer = -1;
};
} // namespace

TEST_F(Console, LifeCycleDefaultsAndResultCodes)
{
    for (int32_t hashSize : {0, -5, 108}) {
        vklStateConfig_t config = {};
        config.hashSize = hashSize;
        vklState_t *console = vklStateCreate(&config);
        EXPECT_EQ(console->commands.bucketCount, hashSize == 108 ? 108u : 107u);
        vklStateDestroy(console);
    }
    vklState_t *console = create();
    EXPECT_EQ(allocator.sizes(),
              std::vector<size_t>{sizeof(vklState_t)}); // command records use calloc
    EXPECT_EQ(_vklTerminateConsoleThread(console), ZUB_ENOENT);
    ASSERT_EQ(vklStateStart(console), 0);
    EXPECT_TRUE(console->inputSize == 1024 && console->lineSize == 512);
    EXPECT_EQ(allocator.lastSize(), 1024u + 2 * 513u);
    EXPECT_EQ(console->scanBuffer, console->buffer + 1024 + 513);
    const char *source = nullptr;
    int line = 0;
    zubOsalTestLastThreadSource(&source, &line);
    EXPECT_STREQ(source, "common/tools/tessel/vorn/src/zubsimplecommandline");
    EXPECT_EQ(line, 430);
    EXPECT_EQ(vklStateStart(console), ZUB_EBUSY);
    EXPECT_EQ(_vklTerminateConsoleThread(console), 0); // stopped while it waits in poll
    EXPECT_EQ(consoleFlags(console), VKL_FLAG_STARTED | VKL_FLAG_TERMINATING);
    EXPECT_EQ(
        (std::vector<int32_t>{_vklTerminateConsoleThread(console), vklStateStart(console),
                              vklStateTerminate(console), vklRemoveSimpleCommand(console, "rec"),
                              vklRemoveSimpleModuleCommands(console, 0), vklStateStart(nullptr)}),
        (std::vector<int32_t>{ZUB_EBUSY, ZUB_EBUSY, ZUB_EINVAL, ZUB_ENOSYS, ZUB_ENOSYS,
                              ZUB_EINVAL}));
    EXPECT_EQ(allocator.allocations(), 2u);
    EXPECT_EQ(console->commands.list.count, 1u);
    EXPECT_EQ(vklStateDestroy(console), 0);
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
    EXPECT_EQ(allocator.sizes().size() - before, sizeof(size_t) == 8 ? 1u : 0u);
    EXPECT_EQ(static_cast<uint64_t>(allocator.lastSize()),
              sizeof(size_t) == 8 ? 0x7FFFFFFFull + 2 * 0x80000000ull : 1024u + 2 * 513u);
    vklStateDestroy(console);
}

// Line assembly, scanning and dispatch are the harness's; here the
// messages, the handler's arguments and the earliest registration winning.
TEST_F(Console, MessagesHandlerArgumentsAndTheEarliestRegistration)
{
    DebugCapture capture(false);
    for (uint16_t messageClass : {5000, 3000, 1}) {
        capture.enable(1, messageClass);
    }
    vklState_t *console = create(1, 12); // lines of up to 11 characters, read byte by byte
    EXPECT_EQ((std::vector<int32_t>{vklAddSimpleCommand(console, "", record_handler, 0, 0),
                                    vklAddSimpleCommand(console, nullptr, record_handler, 0, 0),
                                    vklAddSimpleCommand(console, "x", nullptr, 0, 0),
                                    vklAddSimpleCommand(nullptr, "x", record_handler, 0, 0),
                                    vklAddSimpleCommand(console, "rec", quitHandler, 7, 0)}),
              (std::vector<int32_t>{ZUB_EINVAL, ZUB_EINVAL, ZUB_EINVAL, ZUB_EINVAL, 0}));
    ASSERT_EQ(vklStateStart(console), 0);
    EXPECT_EQ(vklAddSimpleCommand(console, "late", record_handler, 5, 0), 0); // while running
    feedAndFinish(console, "\n   \nrec 1 'a b'\nno x\nrec \"o\nrec 123456789\nlate\n");
    EXPECT_EQ(g_lines, (Lines{{"rec", "1", "a b"}, {"late"}}));
    EXPECT_EQ(g_contexts, (std::vector<uintptr_t>{42, 5}));
    EXPECT_EQ(g_messagesAtFirstCall, 3u); // argument messages come before the handler
    const std::string at = "zubsimplecommandline:", in = "_vklConsoleThread(): ";
    EXPECT_EQ(
        capture.messages(),
        (std::vector<std::string>{
            at + "249:" + in + "Argument 0: \"rec\".\n", at + "249:" + in + "Argument 1: \"1\".\n",
            at + "249:" + in + "Argument 2: \"a b\".\n", at + "249:" + in + "Argument 0: \"no\".\n",
            at + "249:" + in + "Argument 1: \"x\".\n",
            at + "264:" + in + "Unknown command: \"no\".\n",
            at + "239:" + in + "Unable to parse input: " + strerror(22) + " (-22).\n",
            at + "233:" + in + "Input line longer than 11 characters dropped.\n",
            at + "249:" + in + "Argument 0: \"late\".\n",
            at + "270:" + in + "Console thread terminating.\n"}));
    EXPECT_EQ(capture.site(0), (std::vector<uint32_t>{0x00011388u, 0, 0}));
    EXPECT_EQ(capture.site(5), (std::vector<uint32_t>{0x00010BB8u, 0, 0}));
    EXPECT_EQ(capture.site(9), (std::vector<uint32_t>{0x00010001u, 0, 0}));
}

TEST_F(Console, PipeBytesAndBrokenInputNeitherSpinNorStopWrongly)
{
    vklState_t *console = create();
    ASSERT_EQ(vklStateStart(console), 0);
    const unsigned char other = 0x01; // not the stop byte
    ASSERT_EQ(write(console->pipeFds[1], &other, 1), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(consoleFlags(console), VKL_FLAG_STARTED);
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

// A configured thread function that returns: its thread's last act (a
// thread-local destructor, after the record is left) must be over when a
// new Start returns, so Start joined it; no input block, no pipe, and the
// stop closes nothing.
TEST_F(Console, AConfiguredThreadFunctionThatReturnsIsJoinedByTheNextStart)
{
    static std::atomic<int> runs{0}, exited{0};
    static std::atomic<bool> release{false};
    struct LastAct {
        ~LastAct()
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            exited++;
        }
    };
    vklStateConfig_t config = {};
    config.allocator = allocator.record();
    config.threadFunction = [](void *) -> void * {
        thread_local LastAct last;
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
    EXPECT_EQ(allocator.liveBlocks(), 1u);
    EXPECT_EQ(vklStateStart(console), ZUB_EBUSY);
    EXPECT_EQ(vklStateTerminate(console), 0);
    ASSERT_TRUE(eventually([&] { return consoleFlags(console) == 0; }));
    release = false;
    ASSERT_EQ(vklStateStart(console), 0);
    EXPECT_EQ(exited, 1);
    ASSERT_TRUE(eventually([] { return runs == 2; }));
    EXPECT_EQ(vklStateDestroy(console), 0); // terminates and joins it
    EXPECT_EQ(exited, 2);
    EXPECT_EQ(openDescriptors(), descriptorsRunning);
    EXPECT_NE(fcntl(0, F_GETFD), -1);
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

// Bytes written in chunks to consoles with small input and line buffers:
// the handler calls against a plain line splitter (the fuzz harness).
TEST(ConsoleHarness, HandlerCallsMatchThePlainLineSplitter)
{
    const size_t descriptors = openDescriptors();
    const int savedInput = dup(0);
    EXPECT_GT(replayHarness("console", LLVMFuzzerTestOneInput, 100, 300, 0xC0u), 0u);
    dup2(savedInput, 0);
    close(savedInput);
    EXPECT_EQ(openDescriptors(), descriptors);
}
