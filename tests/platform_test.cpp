// The platform stand-ins: the diagnostics switches and capture, thread
// creation with a source location, and the command-line scanner.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
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
    out.result = zubCommandLineSimpleScan(argv.data(), aux.data(), reinterpret_cast<char *>(buffer.data()),
                                          bufferSize, maxArgs, line.c_str(),
                                          static_cast<int32_t>(line.size()), 0);
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
        {"", 64, 100, 0, {}},
        {" \t ", 64, 100, 0, {}},
        {R"(say "hello world" 'a b' "")", 64, 100, 4, {"say", "hello world", "a b", ""}},
        {R"(a\ b c\"d 'x\y' "q\"r" "it's")", 64, 100, 5, {"a b", "c\"d", "x\\y", "q\"r", "it's"}},
        {R"(pre"mid dle"post)", 64, 100, 1, {"premid dlepost"}},
        {"say \"open", 64, 100, -EINVAL, {}},
        {"say 'open", 64, 100, -EINVAL, {}},
        {"trailing\\", 64, 100, -EINVAL, {}},
        {"a b c", 64, 2, -E2BIG, {}},
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

TEST(Scanner, LineOfLengthBelowBufferAlwaysFits)
{
    // The console passes a scan buffer of lineSize bytes for lines of at
    // most lineSize - 1 characters: every such line fits, however split.
    for (int32_t size = 2; size < 12; size++) {
        for (int pattern = 0; pattern < (1 << (size - 1)); pattern++) {
            std::string line;
            for (int32_t i = 0; i < size - 1; i++) {
                line += (pattern >> i) & 1 ? ' ' : 'x';
            }
            EXPECT_GE(scan(line, size).result, 0) << line;
        }
    }
}

TEST(Debug, ChecksFollowTheChosenSites)
{
    zubtest::DebugCapture capture(false);
    const zubDebugSite_t level1 = {ZUB_DEBUG_SITE_WORD(1, 3000), 0, 0};
    const zubDebugSite_t level2 = {ZUB_DEBUG_SITE_WORD(2, 3000), 3, 0};
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
    EXPECT_EQ(zubDebugTestCheckCount(), 4u);
}

namespace {
void *threadBody(void *argument)
{
    *static_cast<int *>(argument) = 7;
    return nullptr;
}
} // namespace

TEST(Osal, ThreadCreationKeepsItsSourceLocation)
{
    int value = 0;
    pthread_t thread;
    ASSERT_EQ(_zubOsalPOSIX_pthread_create_line(&thread, nullptr, threadBody, &value, "some/path/file", 430), 0);
    pthread_join(thread, nullptr);
    EXPECT_EQ(value, 7);
    const char *file = nullptr;
    int line = 0;
    ASSERT_TRUE(zubOsalTestLastThreadSource(&file, &line));
    EXPECT_STREQ(file, "some/path/file");
    EXPECT_EQ(line, 430);

    zubOsalTestFailThreadCreation(1);
    EXPECT_NE(_zubOsalPOSIX_pthread_create_line(&thread, nullptr, threadBody, &value, "f", 1), 0);
}
