// The platform stand-ins: the diagnostics switches and capture, thread
// creation with a source location, and the command-line scanner.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "test_support.h"
#include "zub/debug.h"
#include "zub/osal.h"
#include "zub_osal_test.h"

// Splitting, quoting, escapes and the limits (a buffer of bytes and an
// argument count), each line with its expected result and arguments; the
// argument list ends in a null, the scanner writes only inside its buffer.
TEST(Osal, TheScannerSplitsQuotesEscapesAndLimitsAndThreadsKeepTheirSourceLocation)
{
    const std::tuple<const char *, int32_t, int32_t, int32_t, std::vector<std::string>> cases[] = {
        {"  say\t\"hi x\" 'a b'  \"\" p\"m n\"q ", 64, 100, 5, {"say", "hi x", "a b", "", "pm nq"}},
        {R"(a\ b c\"d 'x\y' "q\"r" "it's")", 64, 100, 5, {"a b", "c\"d", "x\\y", "q\"r", "it's"}},
        {"say \"open", 64, 100, -EINVAL, {}},
        // 4 bytes with its NUL; the buffer and the argument count both just fit.
        {"abc", 4, 100, 1, {"abc"}},
        {"abcd", 4, 100, -ENOBUFS, {}},
        {"a", 0, 1, -EINVAL, {}},
    };
    for (const auto &[line, bufferSize, maxArgs, result, args] : cases) {
        std::vector<char *> argv(size_t(maxArgs) + 1, reinterpret_cast<char *>(1));
        zubtest::GuardedBuffer buffer{size_t(bufferSize)};
        const int32_t got =
            zubCommandLineSimpleScan(argv.data(), nullptr, reinterpret_cast<char *>(buffer.data()),
                                     bufferSize, maxArgs, line, int32_t(strlen(line)), 0);
        EXPECT_TRUE(got == result && buffer.guardsIntact() && (got < 0 || !argv[size_t(got)]) &&
                    std::vector<std::string>(argv.begin(), argv.begin() + std::max(got, 0)) == args)
            << line;
    }
    char name[16] = {};
    // Only the next thread creation fails when told to; a thread is named
    // after the base name of its source file and its line (the thread waits
    // for the test to read its name).
    static pthread_rwlock_t hold = PTHREAD_RWLOCK_INITIALIZER;
    auto *body = +[](void *) -> void * { return pthread_rwlock_rdlock(&hold), nullptr; };
    pthread_t thread;
    pthread_rwlock_wrlock(&hold);
    zubOsalTestFailThreadCreation(1);
    EXPECT_NE(_zubOsalPOSIX_pthread_create_line(&thread, nullptr, body, nullptr, "f", 1), 0);
    const char *file = "some/path/file", *source = nullptr;
    ASSERT_EQ(_zubOsalPOSIX_pthread_create_line(&thread, nullptr, body, nullptr, file, 430), 0);
    int line = 0;
    EXPECT_EQ(pthread_getname_np(thread, name, sizeof name), 0);
    pthread_rwlock_unlock(&hold);
    pthread_join(thread, nullptr);
    EXPECT_TRUE(std::string(name) == "file:430" && zubOsalTestLastThreadSource(&source, &line) &&
                source == file && line == 430);
}

// A site chosen through the capture interface passes its check, and its
// captured message keeps the site.
TEST(Debug, ChosenSitesCaptureAndTheEnvironment)
{
    zubtest::DebugCapture capture(false);
    const zubDebugSite_t site = {ZUB_DEBUG_SITE_WORD(1, 3000), 3, 5};
    EXPECT_FALSE(zubDebugCheckLevelGetFrameAndChunk(&site));
    zubDebugTestEnable(1, 3000, 1);
    EXPECT_TRUE(zubDebugCheckLevelGetFrameAndChunk(&site));
    zubDebugOutput0("value %d %s\n", 42, "x");
    EXPECT_TRUE(capture.messages() == std::vector<std::string>{"value 42 x\n"} &&
                capture.site(0) == (std::vector<uint32_t>{0x00010BB8u, 3, 5}));
    // ZUB_DEBUG chooses the sites when read again on reset; messages to
    // standard error end in a newline.
    // Which of the sites 2:7, 2:8 and 3:1 pass.
    const zubDebugSite_t sites[] = {{ZUB_DEBUG_SITE_WORD(2, 7), 0, 0},
                                    {ZUB_DEBUG_SITE_WORD(2, 8), 0, 0},
                                    {ZUB_DEBUG_SITE_WORD(3, 1), 0, 0}};
    for (auto [choice, expected] : {std::pair{"2:7,3", "101"}, {"all", "111"}}) {
        setenv("ZUB_DEBUG", choice, 1);
        zubDebugTestReset();
        std::string passes;
        for (const zubDebugSite_t &chosen : sites)
            passes += zubDebugCheckLevelGetFrameAndChunk(&chosen) ? '1' : '0';
        EXPECT_EQ(passes, expected) << choice;
    }
    unsetenv("ZUB_DEBUG");
    zubDebugTestCapture(0);
    testing::internal::CaptureStderr();
    zubDebugOutput0("a");
    zubDebugOutput0("b\n");
    zubDebugOutput0("%s", "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "a\nb\n\n");
}
