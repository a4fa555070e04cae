// Compares zubTimeConvertCalendarTimeToBrokenDownTime with the C library's
// gmtime_r for signed 32-bit calendar times and prints the number of
// mismatches (the nine standard fields compared); exits 1 when there is any.
//
//   time_exhaustive               all 2^32 inputs, one worker per core
//   time_exhaustive --step N      every N-th input from INT32_MIN, plus the
//                                 first and last second of every day
//   time_exhaustive --workers N   N worker processes instead of one per core
//
// The full run needs a little over three CPU-minutes (gmtime_r dominates);
// on the shared two-core build machine it took 4m23s, and 12m51s under heavy
// load. The test command therefore runs --step 61 (61 is prime to 86400, so
// the sample meets every second of the day), about a sixtieth of the work.
// Run the full check by hand after a change to the conversion:
//
//   cmake --preset release && cmake --build --preset release --target time_exhaustive
//   build/release/tools/time_exhaustive
#include <sys/wait.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "zub/zubtime.h"

namespace {

constexpr size_t kComparedBytes = offsetof(struct tm, tm_isdst) + sizeof(int);
constexpr uint64_t kBlock = uint64_t{1} << 22;
constexpr uint64_t kInputs = uint64_t{1} << 32;

uint64_t mismatches = 0;

bool matches(int32_t time)
{
    struct tm ours;
    struct tm theirs;
    std::memset(&ours, 0, sizeof ours);
    std::memset(&theirs, 0, sizeof theirs);
    zubTimeConvertCalendarTimeToBrokenDownTime(time, &ours);
    const time_t t = time;
    if (gmtime_r(&t, &theirs) == nullptr) {
        return false;
    }
    return std::memcmp(&ours, &theirs, kComparedBytes) == 0;
}

void check(int32_t time)
{
    if (matches(time)) {
        return;
    }
    if (mismatches++ < 10) {
        std::printf("mismatch at %" PRId32 "\n", time);
        std::fflush(stdout);
    }
}

// Worker `index` of `workers` checks every workers-th block of indexes;
// index i stands for the time INT32_MIN + i * step.
void worker(unsigned index, unsigned workers, uint64_t count, uint64_t step)
{
    for (uint64_t first = index * kBlock; first < count; first += workers * kBlock) {
        const uint64_t last = first + kBlock < count ? first + kBlock : count;
        for (uint64_t i = first; i < last; ++i) {
            check(static_cast<int32_t>(static_cast<uint32_t>(i * step) ^ 0x80000000u));
        }
    }
}

// gmtime_r takes a process-wide lock, so threads would queue on it: the
// workers are processes. Each writes its mismatch count into a shared pipe;
// a worker that fails to report counts as one mismatch.
uint64_t runWorkers(unsigned workers, uint64_t count, uint64_t step)
{
    int results[2];
    if (pipe(results) != 0) {
        std::perror("pipe");
        return 1;
    }
    uint64_t total = 0;
    unsigned started = 0;
    for (unsigned w = 0; w < workers; ++w) {
        std::fflush(stdout);
        const pid_t child = fork();
        if (child == 0) {
            close(results[0]);
            worker(w, workers, count, step);
            std::fflush(stdout);
            const bool written = write(results[1], &mismatches, sizeof mismatches) == sizeof mismatches;
            _exit(written ? 0 : 1);
        }
        if (child < 0) {
            std::perror("fork");
            ++total;
            break;
        }
        ++started;
    }
    close(results[1]);
    unsigned reports = 0;
    uint64_t report = 0;
    while (read(results[0], &report, sizeof report) == sizeof report) {
        total += report;
        ++reports;
    }
    close(results[0]);
    for (unsigned w = 0; w < started; ++w) {
        int status = 0;
        wait(&status);
    }
    return total + (started - reports) + (workers - started);
}

} // namespace

int main(int argc, char **argv)
{
    uint64_t step = 1;
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    unsigned workers = online > 0 ? static_cast<unsigned>(online) : 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--step") == 0) {
            step = std::strtoull(argv[i + 1], nullptr, 10);
        } else if (std::strcmp(argv[i], "--workers") == 0) {
            workers = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
        }
    }
    if (step == 0 || step >= kInputs || workers == 0 || workers > 1024) {
        std::fprintf(stderr, "usage: %s [--step N] [--workers N]\n", argv[0]);
        return 2;
    }
    const uint64_t count = (kInputs + step - 1) / step;
    mismatches = runWorkers(workers, count, step);
    uint64_t checked = count;
    if (step > 1) {
        // A sample also covers both ends of every day, where the date turns.
        for (int64_t day = INT32_MIN / 86400 - 1; day <= INT32_MAX / 86400; ++day) {
            for (int64_t time : {day * 86400, day * 86400 + 86399}) {
                if (time >= INT32_MIN && time <= INT32_MAX) {
                    check(static_cast<int32_t>(time));
                    ++checked;
                }
            }
        }
    }
    std::printf("checked %" PRIu64 " inputs, mismatches: %" PRIu64 "\n", checked,
                mismatches);
    return mismatches == 0 ? 0 : 1;
}
