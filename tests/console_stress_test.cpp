// Console life-cycle stress, built for ThreadSanitizer (stage 30) as well as
// the ordinary suites: many cycles of create, start, feed lines, stop and
// destroy, rotating through every way a console thread ends and through
// every pair of control calls made from two threads at once, with the open
// descriptors and the console's live blocks counted after every cycle.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "console_support.h"
#include "test_support.h"
#include "zub/console.h"

using namespace zubtest; // NOLINT(google-build-using-namespace)

namespace {

#if defined(__arm__)
constexpr int kCycles = 200; // qemu: thread creation is slow there
#else
constexpr int kCycles = 2000;
#endif

std::atomic<int> g_lines{0};
std::atomic<bool> g_inHandler{false};
std::atomic<bool> g_stopping{false};

int count_handler(vklState_t *, uintptr_t, char **, int32_t)
{
    g_lines.fetch_add(1);
    return 0;
}

// Holds the console thread inside a handler until the stop has begun.
int slow_handler(vklState_t *, uintptr_t, char **, int32_t)
{
    g_inHandler = true;
    while (!g_stopping) {
        std::this_thread::yield();
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    return 0;
}

enum class Ending { StopByte, EndOfInput, FromHandler, MidHandler, DestroyRunning, Count };

} // namespace

TEST(ConsoleStress, CyclesThroughEveryEndingWithoutLeaks)
{
    CountingAllocator allocator;
    const int savedInput = dup(0);
    const size_t descriptors = openDescriptors();
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        const auto ending = static_cast<Ending>(cycle % static_cast<int>(Ending::Count));
        SCOPED_TRACE(testing::Message()
                     << "cycle " << cycle << " ending " << static_cast<int>(ending));
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        ASSERT_EQ(dup2(fds[0], 0), 0);
        close(fds[0]);
        g_lines = 0;
        g_inHandler = false;
        g_stopping = false;

        vklStateConfig_t config = {};
        config.allocator = allocator.record();
        config.inputSize = 1 + cycle % 37; // reads of many sizes
        config.lineSize = 64;
        vklState_t *console = vklStateCreate(&config);
        ASSERT_NE(console, nullptr);
        ASSERT_EQ(vklAddSimpleCommand(console, "n", count_handler, 0, 0), 0);
        ASSERT_EQ(vklAddSimpleCommand(console, "quit", quitHandler, 0, 0), 0);
        ASSERT_EQ(vklAddSimpleCommand(console, "slow", slow_handler, 0, 0), 0);
        ASSERT_EQ(vklStateStart(console), 0);

        const int lines = 1 + cycle % 7;
        std::string text;
        for (int i = 0; i < lines; ++i) {
            text += "n " + std::to_string(i) + "\n";
        }
        text += ending == Ending::FromHandler  ? "quit\nn never\n"
                : ending == Ending::MidHandler ? "slow\n"
                                               : "";
        ASSERT_EQ(write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));

        switch (ending) {
        case Ending::StopByte:
            ASSERT_TRUE(eventually([&] { return g_lines == lines; }));
            EXPECT_EQ(_vklTerminateConsoleThread(console), 0);
            EXPECT_EQ(console->buffer, nullptr);
            break;
        case Ending::EndOfInput:
            close(fds[1]);
            fds[1] = -1;
            ASSERT_TRUE(flagComes(console, VKL_FLAG_INPUT_ENDED));
            EXPECT_EQ(g_lines, lines);
            break;
        case Ending::FromHandler:
            ASSERT_TRUE(flagComes(console, VKL_FLAG_TERMINATING));
            EXPECT_EQ(_vklTerminateConsoleThread(console), ZUB_EBUSY);
            break;
        case Ending::MidHandler:
            ASSERT_TRUE(eventually([] { return g_inHandler.load(); }));
            g_stopping = true;
            EXPECT_EQ(_vklTerminateConsoleThread(console), 0); // waits for the handler
            EXPECT_EQ(g_lines, lines);
            break;
        case Ending::DestroyRunning:
        case Ending::Count: break;
        }
        EXPECT_EQ(vklStateDestroy(console), 0);
        if (ending == Ending::FromHandler) {
            EXPECT_EQ(g_lines, lines); // nothing after the quit line
        }
        close(fds[1]);
        ASSERT_EQ(dup2(savedInput, 0), 0);
        ASSERT_EQ(openDescriptors(), descriptors) << "a descriptor leaked";
        ASSERT_EQ(allocator.liveBlocks(), 0u) << "a block leaked";
    }
    close(savedInput);
}

namespace {

// A configured thread function that returns as soon as a stop is requested
// (or after a millisecond), so that a retried Start meets a thread that has
// just returned while the stop still joins it.
std::atomic<vklState_t *> g_console{nullptr};
void *returns_soon(void *)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1);
    while ((consoleFlags(g_console) & VKL_FLAG_TERMINATING) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    return nullptr;
}

enum class Op { Start, Terminate, Destroy };

// Two controlling threads race a pair of calls; the second of a pair with
// Destroy waits until the first call has begun its stop (or returned), since
// no call may begin on a console that Destroy may already have freed.
struct Race {
    bool configured; // a thread function that returns soon, else the built-in loop
    bool started;    // started before the race
    Op first, second;
};
constexpr Race kRaces[] = {
    {false, true, Op::Terminate, Op::Terminate}, {false, true, Op::Terminate, Op::Destroy},
    {false, false, Op::Start, Op::Terminate},    {true, true, Op::Terminate, Op::Start},
    {true, true, Op::Terminate, Op::Destroy},
};

} // namespace

TEST(ConsoleStress, TwoControllersAndACommandAdderJoinAndReleaseEachStartOnce)
{
    CountingAllocator allocator;
    const int savedInput = dup(0);
    const size_t descriptors = openDescriptors();
    constexpr int kRaceCount = sizeof kRaces / sizeof kRaces[0];
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        const Race &race = kRaces[cycle % kRaceCount];
        const bool endOfInput = (cycle / kRaceCount) % 2 == 1; // the loop ends by itself
        SCOPED_TRACE(testing::Message() << "cycle " << cycle);
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        ASSERT_EQ(dup2(fds[0], 0), 0);
        close(fds[0]);
        vklStateConfig_t config = {};
        config.allocator = allocator.record();
        config.threadFunction = race.configured ? returns_soon : nullptr;
        vklState_t *console = vklStateCreate(&config);
        ASSERT_NE(console, nullptr);
        g_console = console;
        if (race.started) {
            ASSERT_EQ(vklStateStart(console), 0);
        }
        if (endOfInput) {
            close(fds[1]);
            fds[1] = -1;
        }

        std::atomic<bool> added{false}, firstReturned{false};
        std::thread adder([&, writer = fds[1]] { // names commands as the console reads them
            for (int i = 0; i < 4; ++i) {
                const std::string name = std::string("c") += std::to_string(i), line = name + '\n';
                EXPECT_EQ(vklAddSimpleCommand(console, name.c_str(), count_handler, 0, 0), 0);
                EXPECT_TRUE(writer < 0 || write(writer, line.data(), line.size()) ==
                                              static_cast<ssize_t>(line.size()));
            }
            added = true;
        });
        auto run = [&](Op op) {
            switch (op) {
            case Op::Start: { // again while a running thread refuses it
                int32_t result;
                while ((result = vklStateStart(console)) == ZUB_EBUSY && !firstReturned) {
                }
                return result;
            }
            case Op::Terminate: return _vklTerminateConsoleThread(console);
            case Op::Destroy: break;
            }
            EXPECT_TRUE(eventually([&] {
                return added &&
                       (firstReturned || (consoleFlags(console) & VKL_FLAG_TERMINATING) != 0);
            }));
            return vklStateDestroy(console);
        };
        int32_t results[2] = {1, 1};
        std::thread second([&] { results[1] = run(race.second); });
        results[0] = run(race.first);
        firstReturned = true;
        second.join();
        adder.join();
        if (race.second != Op::Destroy) {
            EXPECT_EQ(vklStateDestroy(console), 0);
        }

        const Op ops[2] = {race.first, race.second};
        for (int i = 0; i < 2; ++i) {
            const int32_t r = results[i];
            EXPECT_TRUE(ops[i] == Op::Start       ? r == 0 || r == ZUB_EBUSY
                        : ops[i] == Op::Terminate ? r == 0 || r == ZUB_ENOENT || r == ZUB_EBUSY
                                                  : r == 0)
                << "call " << i << " returned " << r;
        }
        if (race.first == Op::Terminate && race.second == Op::Terminate) {
            EXPECT_EQ(results[0] + results[1], ZUB_EBUSY) << "one stop wins, the other is told";
        }
        close(fds[1]);
        ASSERT_EQ(dup2(savedInput, 0), 0);
        ASSERT_EQ(openDescriptors(), descriptors) << "a descriptor leaked";
        ASSERT_EQ(allocator.liveBlocks(), 0u) << "a block leaked";
    }
    close(savedInput);
}
