// Console life-cycle stress, built for ThreadSanitizer as well as the
// ordinary suites: many cycles of create, start, feed lines and end, each
// cycle one way a console ends, while a second thread adds commands, and the
// open descriptors and live blocks counted after every cycle.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "console_support.h"
#include "test_support.h"

using namespace zubtest; // NOLINT(google-build-using-namespace)

namespace {
#if defined(__arm__)
constexpr int kCycles = 300; // qemu: thread creation is slow there
#else
constexpr int kCycles = 3000;
#endif
std::atomic<int> g_lines{0};
int count_handler(vklState_t *, uintptr_t, char **, int32_t)
{
    g_lines++;
    return 0;
}
// A configured thread function that returns within a millisecond or at a stop.
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
// Stop byte, end of input, quit from a handler, destroy while running, two
// stops at once, a stop racing a destroy, and a configured thread function
// stopped while Start is retried.
enum Ending { StopByte, EndOfInput, Quit, Destroy, TwoStops, StopAndDestroy, Restart, Count };
} // namespace

TEST(ConsoleStress, EveryEndingWithACommandAdderLeavesNothing)
{
    CountingAllocator allocator;
    const int savedInput = dup(0);
    const size_t descriptors = openDescriptors();
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        const auto ending = static_cast<Ending>(cycle % Count);
        SCOPED_TRACE(testing::Message() << "cycle " << cycle);
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        ASSERT_EQ(dup2(fds[0], 0), 0);
        close(fds[0]);
        g_lines = 0;
        vklStateConfig_t config = {};
        config.allocator = allocator.record();
        config.inputSize = 1 + cycle % 37;
        config.threadFunction = ending == Restart ? returns_soon : nullptr;
        vklState_t *console = vklStateCreate(&config);
        g_console = console;
        ASSERT_EQ(vklAddSimpleCommand(console, "n", count_handler, 0, 0), 0);
        ASSERT_EQ(vklAddSimpleCommand(console, "quit", quitHandler, 0, 0), 0);
        ASSERT_EQ(vklStateStart(console), 0);
        const int lines = 1 + cycle % 7;
        std::string text;
        for (int i = 0; i < lines; ++i) {
            text += "n " + std::to_string(i) + "\n";
        }
        text += ending == Quit ? "quit\nn never\n" : "";
        ASSERT_EQ(write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
        std::thread adder([console] {
            for (const char *name : {"a", "b", "c"}) {
                EXPECT_EQ(vklAddSimpleCommand(console, name, count_handler, 0, 0), 0);
            }
        });
        std::atomic<int32_t> results[2] = {0, 1}; // 1: not returned yet
        auto stop = [&](int i) { results[i] = _vklTerminateConsoleThread(console); };
        if (ending == StopByte) {
            ASSERT_TRUE(eventually([&] { return g_lines == lines; }));
            stop(0);
        } else if (ending == EndOfInput) {
            close(fds[1]);
            fds[1] = -1;
            ASSERT_TRUE(flagComes(console, VKL_FLAG_INPUT_ENDED));
            EXPECT_EQ(g_lines, lines);
        } else if (ending == Quit) {
            ASSERT_TRUE(flagComes(console, VKL_FLAG_TERMINATING));
            EXPECT_EQ(_vklTerminateConsoleThread(console), ZUB_EBUSY);
        } else if (ending == TwoStops || ending == Restart) {
            std::thread second(stop, 1);
            if (ending == TwoStops) {
                stop(0);
            } else {
                while ((results[0] = vklStateStart(console)) == ZUB_EBUSY) {
                }
            }
            second.join();
        } else if (ending == StopAndDestroy) {
            std::thread second(stop, 1);
            ASSERT_TRUE(eventually([&] {
                return results[1] != 1 || (consoleFlags(console) & VKL_FLAG_TERMINATING) != 0;
            }));
            adder.join();
            EXPECT_EQ(vklStateDestroy(console), 0);
            second.join();
        }
        if (ending == TwoStops) {
            EXPECT_EQ(results[0] + results[1], ZUB_EBUSY) << "one stop wins, the other is told";
        } else {
            EXPECT_TRUE(results[0] == 0 && (results[1] == 1 || results[1] == 0 ||
                                            results[1] == ZUB_ENOENT || results[1] == ZUB_EBUSY))
                << results[0].load() << " " << results[1].load();
        }
        if (ending != StopAndDestroy) {
            adder.join();
            EXPECT_EQ(vklStateDestroy(console), 0);
        }
        if (ending == Quit) {
            EXPECT_EQ(g_lines, lines); // nothing after the quit line
        }
        close(fds[1]);
        ASSERT_EQ(dup2(savedInput, 0), 0);
        ASSERT_EQ(openDescriptors(), descriptors) << "a descriptor leaked";
        ASSERT_EQ(allocator.liveBlocks(), 0u) << "a block leaked";
    }
    close(savedInput);
}
