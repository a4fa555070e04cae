// The platform stand-ins: the diagnostics switches and capture, thread
// creation with a source location, and the command-line scanner.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"
#include "zub/debug.h"
#include "zub/osal.h"
#include "zub_osal_test.h"

namespace {

struct Scan {
    int32_t result = 0;
    std::vector<std::string> args;
    bool terminated = false;
};

Scan scan(const std::string &line, int32_t bufferSize = 64, int32_t maxArgs = 100)
{
    std::vector<char *> argv(static_cast<size_t>(maxArgs) + 1, reinterpret_cast<char *>(1));
    std::vector<uint32_t> aux(static_cast<size_t>(maxArgs) + 1, 0);
    zubtest::GuardedBuffer buffer(static_cast<size_t>(bufferSize));
    Scan out;
    out.result = zubCommandLineSimpleScan(
        argv.data(), aux.data(), reinterpret_cast<char *>(buffer.data()), bufferSize, maxArgs,
        line.c_str(), static_cast<int32_t>(line.size()), 0);
    EXPECT_TRUE(buffer.guardsIntact()) << "scanner wrote outside its buffer for: " << line;
    for (int32_t i = 0; i < out.result; i++) {
        out.args.emplace_back(argv[static_cast<size_t>(i)]);
    }
    out.terminated = out.result >= 0 && argv[static_cast<size_t>(out.result)] == nullptr;
    return out;
}

} // namespace

// Splitting, quoting, escapes and the limits (a buffer of bytes and an
// argument count), each line with its expected result and arguments.
TEST(Scanner, SplitsQuotesEscapesAndLimits)
{
    const struct {
        const char *line;
        int32_t bufferSize, maxArgs, result;
        std::vector<std::string> args;
    } cases[] = {
        {"  echo\thello   world ", 64, 100, 3, {"echo", "hello", "world"}},
        {" \t ", 64, 100, 0, {}},
        {R"(say "hello world" 'a b' "")", 64, 100, 4, {"say", "hello world", "a b", ""}},
        {R"(a\ b c\"d 'x\y' "q\"r" "it's")", 64, 100, 5, {"a b", "c\"d", "x\\y", "q\"r", "it's"}},
        {R"(pre"mid dle"post)", 64, 100, 1, {"premid dlepost"}},
        {"say \"open", 64, 100, -EINVAL, {}},
        {"trailing\\", 64, 100, -EINVAL, {}},
        {"a b c", 64, 2, -E2BIG, {}},
        {"", 64, 0, 0, {}},
        {"a b", 64, 2, 2, {"a", "b"}},
        {"abc", 4, 100, 1, {"abc"}}, // 4 bytes with its NUL
        {"abcd", 4, 100, -ENOBUFS, {}},
        {"ab cd", 6, 100, 2, {"ab", "cd"}},
        {"ab cd", 5, 100, -ENOBUFS, {}},
    };
    for (const auto &c : cases) {
        const Scan s = scan(c.line, c.bufferSize, c.maxArgs);
        EXPECT_EQ(s.result, c.result) << c.line;
        EXPECT_EQ(s.args, c.args) << c.line;
        EXPECT_TRUE(s.result < 0 || s.terminated) << c.line;
    }
    char *argv[2];
    char buffer[8];
    EXPECT_EQ(zubCommandLineSimpleScan(nullptr, nullptr, buffer, 8, 1, "a", 1, 0), -EINVAL);
    EXPECT_EQ(zubCommandLineSimpleScan(argv, nullptr, nullptr, 8, 1, "a", 1, 0), -EINVAL);
    EXPECT_EQ(zubCommandLineSimpleScan(argv, nullptr, buffer, 0, 1, "a", 1, 0), -EINVAL);
}

// The chosen sites pass their checks, from the capture interface or from
// ZUB_DEBUG (read again on reset); messages to standard error end in a newline.
TEST(Debug, ChecksFollowTheChosenSitesAndMessagesEndInANewline)
{
    zubtest::DebugCapture capture(false);
    const zubDebugSite_t level1 = {ZUB_DEBUG_SITE_WORD(1, 3000), 0, 0},
                         level2 = {ZUB_DEBUG_SITE_WORD(2, 3000), 3, 0};
    EXPECT_EQ(zubDebugCheckLevelGetFrameAndChunk(&level1), 0);
    capture.enable(1, 3000);
    EXPECT_NE(zubDebugCheckLevelGetFrameAndChunk(&level1), 0);
    EXPECT_EQ(zubDebugCheckLevelGetFrameAndChunk(&level2), 0);
    zubDebugOutput0("value %d %s\n", 42, "x");
    capture.enable(2, 0xFFFF);
    EXPECT_NE(zubDebugCheckLevelGetFrameAndChunk(&level2), 0);
    zubDebugOutput0("second");
    ASSERT_EQ(capture.messages(), (std::vector<std::string>{"value 42 x\n", "second"}));
    EXPECT_EQ(capture.site(1), (std::vector<uint32_t>{0x00020BB8u, 3, 0}));
    uint32_t words[3];
    EXPECT_EQ(zubDebugTestSite(2, words), 0);
    EXPECT_EQ(zubDebugTestCheckCount(), 4u);
    const char *saved = std::getenv("ZUB_DEBUG");
    const std::string original = saved ? saved : "";
    auto passes = [](const char *choice) {
        setenv("ZUB_DEBUG", choice, 1);
        zubDebugTestReset();
        std::vector<int> out;
        for (uint32_t word : {ZUB_DEBUG_SITE_WORD(2, 7), ZUB_DEBUG_SITE_WORD(2, 8),
                              ZUB_DEBUG_SITE_WORD(3, 1), ZUB_DEBUG_SITE_WORD(1, 1)}) {
            const zubDebugSite_t site = {word, 0, 0};
            out.push_back(zubDebugCheckLevelGetFrameAndChunk(&site) != 0);
        }
        return out;
    };
    EXPECT_EQ(passes("2:7,3"), (std::vector<int>{1, 0, 1, 0}));
    EXPECT_EQ(passes("all"), (std::vector<int>{1, 1, 1, 1}));
    EXPECT_EQ(passes("1"), (std::vector<int>{0, 0, 0, 1}));
    saved ? setenv("ZUB_DEBUG", original.c_str(), 1) : unsetenv("ZUB_DEBUG");
    zubDebugTestCapture(0);
    zubDebugTestReset();
    testing::internal::CaptureStderr();
    zubDebugOutput0("a");
    zubDebugOutput0("b\n");
    zubDebugOutput0("%s", "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "a\nb\n\n");
}

namespace {
std::atomic<bool> g_finish{false};
void *waitingBody(void *)
{
    while (!g_finish) {
        std::this_thread::yield();
    }
    return nullptr;
}
} // namespace

// Only the next creation fails when told to; a thread is named after the
// base name of its source file and its line, cut to 15 characters.
TEST(Osal, ThreadCreationKeepsItsSourceLocationAndName)
{
    pthread_t thread;
    zubOsalTestFailThreadCreation(1);
    EXPECT_NE(_zubOsalPOSIX_pthread_create_line(&thread, nullptr, waitingBody, nullptr, "f", 1), 0);
    const std::pair<const char *, const char *> cases[] = {
        {"some/path/file", "file:430"}, {"long-base-name-of-a-file.c", "long-base-name-"}};
    for (const auto &[file, expected] : cases) {
        g_finish = false;
        ASSERT_EQ(
            _zubOsalPOSIX_pthread_create_line(&thread, nullptr, waitingBody, nullptr, file, 430),
            0);
        char name[16] = {};
        EXPECT_EQ(pthread_getname_np(thread, name, sizeof name), 0);
        g_finish = true;
        pthread_join(thread, nullptr);
        EXPECT_STREQ(name, expected);
        const char *source = nullptr;
        int line = 0;
        ASSERT_TRUE(zubOsalTestLastThreadSource(&source, &line));
        EXPECT_TRUE(source == file && line == 430);
    }
}
