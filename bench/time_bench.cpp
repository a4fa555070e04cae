// UTC time conversion against the C library. Every iteration converts 2^20
// inputs, drawn in turn from a set of 16384 distinct inputs (the argument
// /16384: the working set stays in the cache, so the conversion itself is
// measured) or from 2^20 distinct ones (/1048576: 56 MB of struct tm on a
// 64-bit host, so memory traffic weighs in for every contender). After the
// runs a table gives how many times faster the library is than gmtime_r and
// timegm, and than a plain year-by-year day count.
#include <benchmark/benchmark.h>

#include "cpu_time_reporter.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "zub/zubtime.h"

namespace {

constexpr size_t kConversions = size_t{1} << 20;
constexpr int64_t kCached = 16384;
constexpr int64_t kStreamed = int64_t{1} << 20;

std::vector<int32_t> times(int64_t distinct)
{
    std::mt19937 random(20261205);
    std::vector<int32_t> v(static_cast<size_t>(distinct));
    for (auto &t : v) {
        t = static_cast<int32_t>(random());
    }
    return v;
}

// Valid dates of 1970 to 2100 (as far as the C library's time_t reaches).
std::vector<struct tm> dates(int64_t distinct)
{
    const int64_t limit = sizeof(time_t) == 4 ? INT32_MAX : 4133980799;
    std::mt19937_64 random(20261205);
    std::vector<struct tm> v(static_cast<size_t>(distinct));
    for (auto &tm : v) {
        const time_t t = static_cast<time_t>(random() % static_cast<uint64_t>(limit + 1));
        gmtime_r(&t, &tm);
    }
    return v;
}

// Calls convert(element) for kConversions elements of `in`, in turn.
template <class Vector, class Convert>
void convertAll(Vector &in, Convert convert)
{
    for (size_t done = 0; done < kConversions; done += in.size()) {
        for (auto &element : in) {
            convert(element);
        }
    }
}

void ToBrokenDownZub(benchmark::State &state)
{
    const auto in = times(state.range(0));
    struct tm out;
    for (auto _ : state) {
        convertAll(in, [&](int32_t t) {
            benchmark::DoNotOptimize(zubTimeConvertCalendarTimeToBrokenDownTime(t, &out));
            benchmark::ClobberMemory();
        });
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kConversions));
}

void ToBrokenDownGmtime(benchmark::State &state)
{
    const auto in = times(state.range(0));
    struct tm out;
    for (auto _ : state) {
        convertAll(in, [&](int32_t t) {
            const time_t value = t;
            benchmark::DoNotOptimize(gmtime_r(&value, &out));
            benchmark::ClobberMemory();
        });
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kConversions));
}

// Valid records convert in place without change, so every pass sees the same input.
void ToCalendarZub(benchmark::State &state)
{
    auto work = dates(state.range(0));
    for (auto _ : state) {
        convertAll(work, [](struct tm &tm) {
            benchmark::DoNotOptimize(zubTimeConvertBrokenDownTimeToCalendarTime(&tm));
        });
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kConversions));
}

void ToCalendarTimegm(benchmark::State &state)
{
    auto work = dates(state.range(0));
    for (auto _ : state) {
        convertAll(work, [](struct tm &tm) { benchmark::DoNotOptimize(timegm(&tm)); });
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kConversions));
}

// The day count done one year at a time, the way a simple implementation would.
uint32_t yearByYear(const struct tm &tm)
{
    static constexpr uint16_t before[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    const int year = tm.tm_year + 1900;
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    uint32_t days = before[tm.tm_mon] + static_cast<uint32_t>(tm.tm_mday - 1) + (leap && tm.tm_mon > 1 ? 1 : 0);
    for (int y = 1970; y < year; ++y) {
        days += (y % 4 == 0 && (y % 100 != 0 || y % 400 == 0)) ? 366 : 365;
    }
    return static_cast<uint32_t>(tm.tm_sec + 60 * tm.tm_min + 3600 * tm.tm_hour) + 86400u * days;
}

void ToCalendarYearByYear(benchmark::State &state)
{
    const auto in = dates(state.range(0));
    for (auto _ : state) {
        convertAll(in, [](const struct tm &tm) { benchmark::DoNotOptimize(yearByYear(tm)); });
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kConversions));
}

BENCHMARK(ToBrokenDownZub)->Arg(kCached)->Arg(kStreamed)->Unit(benchmark::kMillisecond);
BENCHMARK(ToBrokenDownGmtime)->Arg(kCached)->Arg(kStreamed)->Unit(benchmark::kMillisecond);
BENCHMARK(ToCalendarZub)->Arg(kCached)->Arg(kStreamed)->Unit(benchmark::kMillisecond);
BENCHMARK(ToCalendarTimegm)->Arg(kCached)->Arg(kStreamed)->Unit(benchmark::kMillisecond);
BENCHMARK(ToCalendarYearByYear)->Arg(kCached)->Unit(benchmark::kMillisecond);

// Keeps the CPU time of every run for the ratio table.
using RatioReporter = bench::CpuTimeReporter;

void printRatio(const RatioReporter &reporter, const std::string &ours, const std::string &peer,
                const char *label)
{
    const auto a = reporter.times.find(ours);
    const auto b = reporter.times.find(peer);
    if (a == reporter.times.end() || b == reporter.times.end() || a->second <= 0) {
        return;
    }
    std::printf("%-52s %6.2fx\n", label, b->second / a->second);
}

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nspeed-up of the library (peer time / library time)\n");
    const std::string cached = "/" + std::to_string(kCached);
    const std::string streamed = "/" + std::to_string(kStreamed);
    printRatio(reporter, "ToBrokenDownZub" + cached, "ToBrokenDownGmtime" + cached,
               "calendar to broken-down vs gmtime_r");
    printRatio(reporter, "ToCalendarZub" + cached, "ToCalendarTimegm" + cached,
               "broken-down to calendar vs timegm");
    printRatio(reporter, "ToCalendarZub" + cached, "ToCalendarYearByYear" + cached,
               "broken-down to calendar vs year-by-year loop");
    printRatio(reporter, "ToBrokenDownZub" + streamed, "ToBrokenDownGmtime" + streamed,
               "calendar to broken-down vs gmtime_r, 2^20 distinct");
    printRatio(reporter, "ToCalendarZub" + streamed, "ToCalendarTimegm" + streamed,
               "broken-down to calendar vs timegm, 2^20 distinct");
    benchmark::Shutdown();
    return 0;
}
