// Helpers of the console tests: the open descriptors of the process, the
// console's flags read under its mutex, a bounded wait, and a handler that
// ends the console thread.
#pragma once

#include <dirent.h>

#include <chrono>
#include <cstddef>
#include <thread>

#include "zub/console.h"

namespace zubtest {

inline size_t openDescriptors()
{
    size_t count = 0;
    DIR *dir = opendir("/proc/self/fd");
    for (; readdir(dir) != nullptr; count++) {
    }
    closedir(dir);
    return count;
}

inline uint32_t consoleFlags(vklState_t *console)
{
    pthread_mutex_lock(&console->mutex);
    const uint32_t flags = console->flags;
    pthread_mutex_unlock(&console->mutex);
    return flags;
}

// Polls `predicate` for up to 20 seconds; its last answer.
template <typename Predicate> bool eventually(Predicate predicate)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    return true;
}

inline bool flagComes(vklState_t *console, uint32_t flag)
{
    return eventually([&] { return (consoleFlags(console) & flag) != 0; });
}

inline int quitHandler(vklState_t *console, uintptr_t, char **, int32_t)
{
    console->flags |= VKL_FLAG_TERMINATING; // the mutex is held already
    return 0;
}

} // namespace zubtest
