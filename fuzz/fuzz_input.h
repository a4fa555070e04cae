// Shared helpers of the fuzz targets: a reader that turns the fuzz input
// into numbers and byte runs, the check that stops the run on a mismatch
// against a reference model, and the reading of corpus files for a replay.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace zubfuzz {

// Reads the input front to back; past its end every read gives zeros, so a
// target never has to check for the end before asking. The members with a
// trailing _ are its own.
struct Input {
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    size_t left() const { return empty() ? 0 : size_ - pos_; }

    uint8_t u8() { return empty() ? 0 : data_[pos_++]; }
    uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }
    uint32_t u32() { return static_cast<uint32_t>(u16()) | (static_cast<uint32_t>(u16()) << 16); }
    // A value in [0, bound); 0 for a bound of 0.
    uint32_t below(uint32_t bound) { return bound == 0 ? 0 : u32() % bound; }
    uint32_t small(uint32_t bound) { return bound == 0 ? 0 : u8() % bound; }

    // Up to `count` raw bytes (fewer at the end of the input).
    const uint8_t *bytes(size_t count, size_t *got)
    {
        *got = std::min(count, left());
        return (pos_ += *got, data_ + pos_ - *got);
    }

    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

// Appends the file, or every file of the directory in name order, to
// `inputs`; false when one cannot be read (or the path does not exist).
inline bool readInputs(const std::filesystem::path &path, std::vector<std::vector<uint8_t>> &inputs)
{
    std::error_code notDirectory;
    std::vector<std::filesystem::path> files(
        std::filesystem::directory_iterator(path, notDirectory),
        std::filesystem::directory_iterator());
    std::sort(files.begin(), files.end());
    for (const auto &file : notDirectory ? std::vector{path} : files) {
        std::ifstream in(file, std::ios::binary);
        if (!in)
            return false;
        inputs.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return true;
}

} // namespace zubfuzz

// Aborts (a crash for libFuzzer, which then saves the input) when a result
// differs from the reference.
#define FUZZ_CHECK(condition)                                                                  \
    ((condition)                                                                               \
         ? (void)0                                                                             \
         : (std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition), \
            std::abort()))
