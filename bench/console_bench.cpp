// Lines per second dispatched through the console from a pipe on
// descriptor 0, against a plain getline + split + lookup loop reading the
// same bytes from a pipe in the same process (the practical limit).
#include <benchmark/benchmark.h>

#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "zub/console.h"
#include "zub_debug_test.h"

namespace {

constexpr int kLines = 1000000;
constexpr int kCommands = 16;

const std::string &input()
{
    static const std::string text = [] {
        std::string out;
        char line[64];
        for (int i = 0; i < kLines; i++) {
            std::snprintf(line, sizeof line, "cmd%02d alpha %d\n", i % kCommands, i % 1000);
            out += line;
        }
        return out;
    }();
    return text;
}

// Writes the input into a fresh pipe from another thread; the read end is
// returned.
struct Feeder {
    int readFd = -1;
    std::thread thread;
    Feeder()
    {
        int fds[2];
        if (pipe(fds) != 0) {
            std::abort();
        }
        readFd = fds[0];
        const int writeFd = fds[1];
        thread = std::thread([writeFd] {
            const std::string &text = input();
            size_t at = 0;
            while (at < text.size()) {
                const ssize_t n = write(writeFd, text.data() + at, text.size() - at);
                if (n <= 0) {
                    break;
                }
                at += static_cast<size_t>(n);
            }
            close(writeFd);
        });
    }
    ~Feeder() { thread.join(); }
};

long g_dispatched = 0;
double g_consoleRate[2] = {0, 0};
double g_plainRate = 0;

int count_handler(vklState_t *, uintptr_t context, char **, int32_t argc)
{
    g_dispatched += static_cast<long>(context) + argc - 3; // context 1, argc 3
    return 0;
}

void BM_Console(benchmark::State &state)
{
    zubDebugTestDisableAll(); // checks are still made, nothing is written
    const int32_t inputSize = static_cast<int32_t>(state.range(0));
    for (auto _ : state) {
        vklStateConfig_t config = {};
        config.inputSize = inputSize;
        vklState_t *console = vklStateCreate(&config);
        char name[16];
        for (int i = 0; i < kCommands; i++) {
            std::snprintf(name, sizeof name, "cmd%02d", i);
            vklAddSimpleCommand(console, name, count_handler, 1, 0);
        }
        g_dispatched = 0;
        const int savedInput = dup(0);
        const auto begin = std::chrono::steady_clock::now();
        {
            Feeder feeder;
            dup2(feeder.readFd, 0);
            close(feeder.readFd);
            vklStateStart(console);
            for (;;) {
                pthread_mutex_lock(&console->mutex);
                const bool ended = (console->flags & VKL_FLAG_INPUT_ENDED) != 0;
                pthread_mutex_unlock(&console->mutex);
                if (ended) {
                    break;
                }
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            _vklTerminateConsoleThread(console);
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        dup2(savedInput, 0);
        close(savedInput);
        vklStateDestroy(console);
        if (g_dispatched != kLines) {
            state.SkipWithError("not every line was dispatched");
        }
        g_consoleRate[inputSize == 1024 ? 0 : 1] = kLines / seconds;
        state.SetIterationTime(seconds);
    }
    state.SetItemsProcessed(state.iterations() * kLines);
}

void BM_PlainGetlineLoop(benchmark::State &state)
{
    using Handler = int (*)(vklState_t *, uintptr_t, char **, int32_t);
    std::unordered_map<std::string_view, std::pair<Handler, uintptr_t>> commands;
    static char names[kCommands][16];
    for (int i = 0; i < kCommands; i++) {
        std::snprintf(names[i], sizeof names[i], "cmd%02d", i);
        commands.emplace(names[i], std::make_pair(&count_handler, uintptr_t{1}));
    }
    for (auto _ : state) {
        g_dispatched = 0;
        const auto begin = std::chrono::steady_clock::now();
        {
            Feeder feeder;
            FILE *in = fdopen(feeder.readFd, "r");
            char *line = nullptr;
            size_t capacity = 0;
            ssize_t length;
            char *argv[101];
            while ((length = getline(&line, &capacity, in)) > 0) {
                int32_t argc = 0;
                char *save = nullptr;
                for (char *word = strtok_r(line, " \t\n", &save); word != nullptr && argc < 100;
                     word = strtok_r(nullptr, " \t\n", &save)) {
                    argv[argc++] = word;
                }
                argv[argc] = nullptr;
                if (argc == 0) {
                    continue;
                }
                auto found = commands.find(argv[0]);
                if (found != commands.end()) {
                    found->second.first(nullptr, found->second.second, argv, argc);
                }
            }
            std::free(line);
            std::fclose(in);
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        if (g_dispatched != kLines) {
            state.SkipWithError("not every line was dispatched");
        }
        g_plainRate = kLines / seconds;
        state.SetIterationTime(seconds);
    }
    state.SetItemsProcessed(state.iterations() * kLines);
}

BENCHMARK(BM_Console)->Arg(1024)->Arg(65536)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainGetlineLoop)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    input(); // built before anything is timed
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_plainRate > 0) {
        std::printf("\n%-44s %12s %8s\n", "1,000,000 short command lines", "lines/s", "ratio");
        std::printf("%-44s %12.0f %8.2f\n", "plain getline + split + lookup", g_plainRate, 1.0);
        if (g_consoleRate[0] > 0) {
            std::printf("%-44s %12.0f %8.2f\n", "console, default 1024-byte reads", g_consoleRate[0],
                        g_consoleRate[0] / g_plainRate);
        }
        if (g_consoleRate[1] > 0) {
            std::printf("%-44s %12.0f %8.2f\n", "console, 64 KiB reads", g_consoleRate[1],
                        g_consoleRate[1] / g_plainRate);
        }
    }
    return 0;
}
