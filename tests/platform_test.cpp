// The platform stand-ins: the diagnostics switches and capture, thread
// creation with a source location, and the command-line scanner.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "test_support.h"
#include "zub/debug.h"
#include "zub/osal.h"
#include "zub_osal_test.h"

// Splitting, quoting, escapes and the limits (a buffer of bytes and an
// argument count), each line with its expected result and arguments; the
// argument list ends in a null, the scanner writes only inside its buffer.
TEST(Scanner, SplitsQuotesEscapesAndLimits)
{
    const std::tuple<const char *, int32_t, int32_t, int32_t, std::vector<std::string>> cases[] = {
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
        // 4 bytes with its NUL
        {"abc", 4, 100, 1, {"abc"}},
        {"abcd", 4, 100, -ENOBUFS, {}},
        {"ab cd", 6, 100, 2, {"ab", "cd"}},
        {"ab cd", 5, 100, -ENOBUFS, {}},
    };
    for (const auto &[line, bufferSize, maxArgs, result, args] : cases) {
        std::vector<char *> argv(size_t(maxArgs) + 1, reinterpret_cast<char *>(1));
        std::vector<uint32_t> aux(size_t(maxArgs) + 1, 0);
        zubtest::GuardedBuffer buffer{size_t(bufferSize)};
        const int32_t got = zubCommandLineSimpleScan(
            argv.data(), aux.data(), reinterpret_cast<char *>(buffer.data()), bufferSize, maxArgs,
            line, int32_t(strlen(line)), 0);
        // aux holds where each argument starts in the line.
        EXPECT_TRUE(got == result && buffer.guardsIntact() && (got < 0 || !argv[size_t(got)]) &&
                    (got <= 0 || aux[0] == strspn(line, " \t")))
            << line;
        EXPECT_EQ(std::vector<std::string>(argv.begin(), argv.begin() + std::max(got, 0)), args)
            << line;
    }
    char *argv[2];
    char buffer[8];
    EXPECT_EQ(
        (std::vector<int32_t>{zubCommandLineSimpleScan(nullptr, nullptr, buffer, 8, 1, "a", 1, 0),
                              zubCommandLineSimpleScan(argv, nullptr, nullptr, 8, 1, "a", 1, 0),
                              zubCommandLineSimpleScan(argv, nullptr, buffer, 0, 1, "a", 1, 0)}),
        std::vector<int32_t>(3, -EINVAL));
}

// The sites chosen through the capture interface pass their checks;
// captured messages keep their site, long ones whole, up to 4096 of them.
TEST(Debug, ChosenSitesPassAndCapturedMessagesKeepTheirSite)
{
    zubDebugTestEnableAll();
    zubtest::DebugCapture capture(false);
    const zubDebugSite_t level1 = {ZUB_DEBUG_SITE_WORD(1, 3000), 0, 0},
                         level2 = {ZUB_DEBUG_SITE_WORD(2, 3000), 3, 5};
    EXPECT_FALSE(zubDebugCheckLevelGetFrameAndChunk(&level1));
    capture.enable(1, 3000);
    EXPECT_TRUE(zubDebugCheckLevelGetFrameAndChunk(&level1) &&
                !zubDebugCheckLevelGetFrameAndChunk(&level2));
    zubDebugOutput0("value %d %s\n", 42, "x");
    capture.enable(2, 0xFFFF);
    EXPECT_TRUE(zubDebugCheckLevelGetFrameAndChunk(&level2));
    zubDebugOutput0("%s", std::string(4000, 'y').c_str());
    zubDebugTestEnable(1, 0xFFFF, 0);
    EXPECT_FALSE(zubDebugCheckLevelGetFrameAndChunk(&level1));
    EXPECT_EQ(capture.messages(),
              (std::vector<std::string>{"value 42 x\n", std::string(4000, 'y')}));
    uint32_t words[3];
    EXPECT_TRUE(capture.site(1) == (std::vector<uint32_t>{0x00020BB8u, 3, 5}) &&
                zubDebugTestSite(2, words) == 0 && zubDebugTestCheckCount() == 5u);
    // The capture keeps the first 4096 messages; clearing empties it.
    for (int i = 0; i < 4100; i++) {
        zubDebugOutput0("m");
    }
    EXPECT_EQ(capture.messages().size(), 4096u);
    capture.clear();
    EXPECT_TRUE(capture.messages().empty());
}

// ZUB_DEBUG chooses the sites when read again on reset ("none" wins,
// "backtrace" asks for the frames); messages to standard error end in a
// newline.
TEST(Debug, TheEnvironmentChoosesSitesAndStandardErrorLinesEndInANewline)
{
    const char *saved = std::getenv("ZUB_DEBUG");
    const std::string original = saved ? saved : "";
    // Which of the sites 2:7, 2:8, 3:1 and 1:1 pass.
    for (auto [choice, expected] : {std::pair{"2:7,3", "1010"},
                                    {"all", "1111"},
                                    {"1,backtrace", "0001"},
                                    {"all,2:7,backtrace,none", "0000"}}) {
        setenv("ZUB_DEBUG", choice, 1);
        zubDebugTestReset();
        std::string passes;
        for (uint32_t word : {ZUB_DEBUG_SITE_WORD(2, 7), ZUB_DEBUG_SITE_WORD(2, 8),
                              ZUB_DEBUG_SITE_WORD(3, 1), ZUB_DEBUG_SITE_WORD(1, 1)}) {
            const zubDebugSite_t site = {word, 0, 0};
            passes += zubDebugCheckLevelGetFrameAndChunk(&site) ? '1' : '0';
        }
        testing::internal::CaptureStderr();
        // Where the unwinder finds no frames, only the heading is written.
        const int frames = zubOsalWriteBacktrace();
        const std::string text = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(passes == expected &&
                    text.rfind("Backtrace:\n", 0) == (choice[1] == ',' ? 0 : std::string::npos) &&
                    (text.size() > 11) == (frames > 0))
            << choice << " " << passes;
    }
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
    for (auto [file, expected] : {std::pair{"some/path/file", "file:430"},
                                  {"long-base-name-of-a-file.c", "long-base-name-"}}) {
        g_finish = false;
        ASSERT_EQ(
            _zubOsalPOSIX_pthread_create_line(&thread, nullptr, waitingBody, nullptr, file, 430),
            0);
        char name[16] = {};
        const char *source = nullptr;
        int line = 0;
        EXPECT_EQ(pthread_getname_np(thread, name, sizeof name), 0);
        g_finish = true;
        pthread_join(thread, nullptr);
        EXPECT_TRUE(std::string(name) == expected && zubOsalTestLastThreadSource(&source, &line) &&
                    source == file && line == 430)
            << name;
    }
}
