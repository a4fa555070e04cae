// Console command line: console record, command registry and the console
// thread.
//
// The console thread holds the console mutex at all times except while it
// waits in poll on two descriptors: standard input and the read end of the
// stop pipe. Input is read in chunks into the input buffer; a pass of the
// loop assembles at most one line from it into the line buffer (memchr for
// the newline, one memcpy) and dispatches it: scan into the scan buffer,
// look the first argument up in the hashed registry, call the handler.
// inputCount, inputPos and lineLength live in the record, so a line may span
// any number of reads and a read may hold any number of lines.
//
// Stopping: _vklTerminateConsoleThread sets the terminating bit under the
// mutex, then writes the stop byte without it, so it reaches a thread that
// waits in poll as well as a working one, which sees the bit at the end of
// its pass. The thread ends with pthread_exit and never clears the started
// bit.
//
// Several controlling threads: Start, the stop and Destroy may race one
// another. Under the mutex exactly one caller takes what a start left to
// stop: it copies the thread handle and zeroes the record's (so no other
// caller can take the same join), with the pipe and the input block. It
// joins, closes and releases after the mutex, from its copies, and finally
// clears buffer under the mutex again. A zero handle with a stop still
// owed to the record (see stop_in_progress) makes Destroy wait for that
// caller before it frees the record.
#include "zub/console.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include <libgen.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include "internal/alloc.h"
#include "internal/diag.h"
#include "zub/osal.h"

namespace {

// Source path recorded with the thread and named (by its base name) in the
// console's messages; the line numbers below are part of those messages.
constexpr char kSourcePath[] = "common/tools/tessel/vorn/src/zubsimplecommandline";
constexpr int kThreadCreateLine = 430;
constexpr int kLineTooLongLine = 233;
constexpr int kParseErrorLine = 239;
constexpr int kArgumentLine = 249;
constexpr int kUnknownCommandLine = 264;
constexpr int kTerminatingLine = 270;
constexpr char kLoopName[] = "_vklConsoleThread";

constexpr uint16_t kClassEnd = 1;
constexpr uint16_t kClassInput = 3000;
constexpr uint16_t kClassArgument = 5000;

// basename may modify its argument, so it works on a fresh copy each time.
using PathScratch = char[sizeof kSourcePath];
const char *source_base_name(PathScratch &scratch)
{
    std::memcpy(scratch, kSourcePath, sizeof kSourcePath);
    return basename(scratch);
}

void lock(vklState_t *console)
{
    pthread_mutex_lock(&console->mutex);
}

void unlock(vklState_t *console)
{
    pthread_mutex_unlock(&console->mutex);
}

bool has_thread(const vklState_t *console)
{
    pthread_t none;
    std::memset(&none, 0, sizeof none);
    return std::memcmp(&console->thread, &none, sizeof none) != 0;
}

// What a start left to stop, taken by one caller under the mutex and
// finished by it after the mutex: the thread to join and, for the built-in
// loop, its pipe and input block.
struct Stop {
    pthread_t thread;
    bool joinable;
    char *block; // null: nothing to write, close or release
    int readFd;
    int writeFd;
    zubAllocator_t *allocator;
};

// Mutex held. Takes the join (zeroing the record's handle) and, with it,
// the pipe and block; buffer stays set until they are gone, since the
// thread may still read into it.
Stop take_stop(vklState_t *console)
{
    Stop stop{};
    stop.joinable = has_thread(console);
    if (!stop.joinable) {
        return stop;
    }
    stop.thread = console->thread;
    std::memset(&console->thread, 0, sizeof console->thread);
    stop.block = console->buffer;
    stop.readFd = console->pipeFds[0];
    stop.writeFd = console->pipeFds[1];
    stop.allocator = console->allocator;
    return stop;
}

// Mutex held. Another caller took the join and has not finished: a
// built-in loop's block is not yet released, or a configured thread
// function has not yet returned (its wrapper clears the started bit as the
// last thing it does with the record).
bool stop_in_progress(const vklState_t *console)
{
    return !has_thread(console) && (console->flags & VKL_FLAG_STARTED) != 0 &&
           (console->buffer != nullptr || console->threadFunction != nullptr);
}

// Wakes the thread (when it has a pipe), joins it and releases the pipe and
// the input block. Runs without the mutex, after the terminating bit is
// set, on the copies taken under it; it touches the record only to clear
// buffer at the end, which tells a waiting Destroy that it is done.
void finish_stop(vklState_t *console, const Stop &stop)
{
    if (stop.block != nullptr) {
        const unsigned char message = VKL_STOP_BYTE;
        while (write(stop.writeFd, &message, 1) < 0 && errno == EINTR) {
        }
    }
    if (stop.joinable) {
        pthread_join(stop.thread, nullptr);
    }
    if (stop.block != nullptr) {
        close(stop.readFd);
        close(stop.writeFd);
        zub::detail::release(stop.allocator, stop.block);
        lock(console);
        console->buffer = nullptr;
        unlock(console);
    }
}

// ---- the console loop ----------------------------------------------------

enum class Wait { Stop, Data, Nothing };

void dispatch(vklState_t *console, int32_t length, char **argv, uint32_t *aux)
{
    argv[0] = nullptr;
    const int32_t n = zubCommandLineSimpleScan(argv, aux, console->scanBuffer, console->lineSize,
                                               VKL_MAX_ARGUMENTS, console->lineBuffer, length, 0);
    PathScratch scratch;
    if (n < 0) {
        const int error = static_cast<int>(0u - static_cast<uint32_t>(n));
        ZUB_DIAG(1, kClassInput, 0, "%s:%d:%s(): Unable to parse input: %s (%d).\n",
                 source_base_name(scratch), kParseErrorLine, kLoopName, strerror(error), n);
        return;
    }
    if (n == 0 || argv[0] == nullptr) {
        return;
    }
    for (int32_t i = 0; i < n; i++) {
        ZUB_DIAG(1, kClassArgument, 0, "%s:%d:%s(): Argument %d: \"%s\".\n",
                 source_base_name(scratch), kArgumentLine, kLoopName, static_cast<int>(i), argv[i]);
    }
    strnode_t *found = strnode_HashFind(&console->commands, argv[0]);
    if (found == nullptr) {
        ZUB_DIAG(1, kClassInput, 0, "%s:%d:%s(): Unknown command: \"%s\".\n",
                 source_base_name(scratch), kUnknownCommandLine, kLoopName, argv[0]);
        return;
    }
    auto *command = reinterpret_cast<vklSimpleCommand_t *>(found);
    command->handler(console, command->context, argv, n);
}

// Takes at most one line out of the buffered input. lineLength == lineSize
// marks an over-long line whose bytes are dropped up to the next newline.
void assemble(vklState_t *console, char **argv, uint32_t *aux)
{
    const char *in = console->buffer + console->inputPos;
    const int32_t available = console->inputCount - console->inputPos;
    if (console->lineLength >= console->lineSize) {
        const auto *newline =
            static_cast<const char *>(std::memchr(in, '\n', static_cast<size_t>(available)));
        if (newline != nullptr) {
            console->inputPos += static_cast<int32_t>(newline - in) + 1;
            console->lineLength = 0;
        } else {
            console->inputPos = console->inputCount;
        }
        return;
    }
    const int32_t room = console->lineSize - console->lineLength;
    const int32_t examined = available < room ? available : room;
    char *line = console->lineBuffer + console->lineLength;
    const auto *newline =
        static_cast<const char *>(std::memchr(in, '\n', static_cast<size_t>(examined)));
    if (newline != nullptr) {
        const auto taken = static_cast<int32_t>(newline - in);
        std::memcpy(line, in, static_cast<size_t>(taken));
        line[taken] = '\0';
        console->inputPos += taken + 1;
        dispatch(console, console->lineLength + taken, argv, aux);
        console->lineLength = 0;
        return;
    }
    if (examined == room) {
        // lineSize characters without a newline: the line cannot be held.
        PathScratch scratch;
        ZUB_DIAG(1, kClassInput, 0, "%s:%d:%s(): Input line longer than %d characters dropped.\n",
                 source_base_name(scratch), kLineTooLongLine, kLoopName,
                 static_cast<int>(console->lineSize - 1));
        console->inputPos += examined;
        console->lineLength = console->lineSize;
        return;
    }
    std::memcpy(line, in, static_cast<size_t>(examined));
    line[examined] = '\0';
    console->inputPos += examined;
    console->lineLength += examined;
}

// Releases the mutex while poll waits, takes it again whatever poll gave.
Wait wait_for_input(vklState_t *console)
{
    pollfd fds[2] = {{0, POLLIN, 0}, {console->pipeFds[0], POLLIN, 0}};
    unlock(console);
    const int ready = poll(fds, 2, -1);
    lock(console);
    if (ready <= 0) {
        return Wait::Nothing;
    }
    if (fds[1].revents & POLLIN) {
        unsigned char message = 0;
        if (read(console->pipeFds[0], &message, 1) == 1 && message == VKL_STOP_BYTE) {
            return Wait::Stop;
        }
    } else if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
        return Wait::Stop; // the stop pipe is gone: nothing could stop us any more
    }
    const short input = fds[0].revents;
    if (input & POLLNVAL) {
        console->flags |= VKL_FLAG_INPUT_ENDED;
        return Wait::Stop;
    }
    if ((input & (POLLIN | POLLHUP | POLLERR)) == 0) {
        return Wait::Nothing;
    }
    const ssize_t got = read(0, console->buffer, static_cast<size_t>(console->inputSize));
    if (got > 0) {
        console->inputCount = static_cast<int32_t>(got);
        console->inputPos = 0;
        return Wait::Data;
    }
    if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
        return Wait::Nothing;
    }
    // End of input, or a read error that would repeat forever.
    console->inputCount = 0;
    console->inputPos = 0;
    console->flags |= VKL_FLAG_INPUT_ENDED;
    return Wait::Stop;
}

[[noreturn]] void console_loop(vklState_t *console)
{
    char *argv[VKL_MAX_ARGUMENTS + 1];
    uint32_t aux[VKL_MAX_ARGUMENTS + 1];
    lock(console);
    while ((console->flags & VKL_FLAG_TERMINATING) == 0) {
        std::memset(aux, 0, sizeof aux);
        if (console->inputPos < console->inputCount) {
            assemble(console, argv, aux);
        } else {
            const Wait waited = wait_for_input(console);
            if (waited == Wait::Stop) {
                break;
            }
            if (waited == Wait::Data) {
                assemble(console, argv, aux);
            }
        }
    }
    PathScratch scratch;
    ZUB_DIAG(1, kClassEnd, 0, "%s:%d:%s(): Console thread terminating.\n",
             source_base_name(scratch), kTerminatingLine, kLoopName);
    unlock(console);
    pthread_exit(nullptr);
}

// ---- life cycle ----------------------------------------------------------

// Mutex held, started bit clear.
int32_t start_locked(vklState_t *console)
{
    if (console->inputSize <= 0) {
        console->inputSize = VKL_DEFAULT_INPUT_SIZE;
    }
    if (console->lineSize <= 0) {
        console->lineSize = VKL_DEFAULT_LINE_SIZE;
    }
    const bool builtIn = console->threadFunction == nullptr;
    if (builtIn) {
        const uint64_t bytes = static_cast<uint64_t>(console->inputSize) +
                               2 * (static_cast<uint64_t>(console->lineSize) + 1);
        auto *block = static_cast<char *>(zub::detail::allocate(console->allocator, bytes));
        if (block == nullptr) {
            return ZUB_ENOMEM;
        }
        console->buffer = block;
        console->lineBuffer = block + console->inputSize;
        console->scanBuffer = console->lineBuffer + static_cast<size_t>(console->lineSize) + 1;
        console->inputCount = 0;
        console->inputPos = 0;
        console->lineLength = 0;
        if (pipe(console->pipeFds) != 0) {
            zub::detail::release(console->allocator, block);
            console->buffer = nullptr;
            return ZUB_EFAULT;
        }
    }
    if (_zubOsalPOSIX_pthread_create_line(&console->thread, nullptr, _vklWrapperThread, console,
                                          kSourcePath, kThreadCreateLine) != 0) {
        std::memset(&console->thread, 0, sizeof console->thread);
        if (builtIn) {
            close(console->pipeFds[0]);
            close(console->pipeFds[1]);
            zub::detail::release(console->allocator, console->buffer);
            console->buffer = nullptr;
        }
        return ZUB_ENOMEM;
    }
    console->flags |= VKL_FLAG_STARTED;
    return 0;
}

int32_t start(vklState_t *console)
{
    lock(console);
    if (console->flags & VKL_FLAG_STARTED) {
        unlock(console);
        return ZUB_EBUSY;
    }
    // An earlier configured thread function returned: its thread has left
    // the record for good and only awaits joining, after the mutex.
    const Stop earlier = take_stop(console);
    const int32_t result = start_locked(console);
    unlock(console);
    finish_stop(console, earlier);
    return result;
}

int32_t terminate_loop(vklState_t *console)
{
    lock(console);
    if ((console->flags & VKL_FLAG_STARTED) == 0) {
        unlock(console);
        return ZUB_ENOENT;
    }
    if (console->flags & VKL_FLAG_TERMINATING) {
        unlock(console);
        return ZUB_EBUSY;
    }
    console->flags |= VKL_FLAG_TERMINATING;
    const Stop stop = take_stop(console);
    unlock(console);
    finish_stop(console, stop);
    return 0;
}

// Whatever thread is left after vklStateTerminate: a built-in loop still
// running or ended by itself, or a configured thread function. When another
// thread is stopping it, waits until that caller is done with the record.
void stop_leftover_thread(vklState_t *console)
{
    lock(console);
    while (stop_in_progress(console)) {
        unlock(console);
        const timespec pause = {0, 100 * 1000};
        nanosleep(&pause, nullptr);
        lock(console);
    }
    const Stop stop = take_stop(console);
    if (stop.block != nullptr) {
        console->flags |= VKL_FLAG_TERMINATING;
    }
    unlock(console);
    finish_stop(console, stop);
}

int32_t add_command(vklState_t *console, const char *name, vklCommandHandler_t handler,
                    uintptr_t context, uintptr_t extra)
{
    lock(console);
    strnode_t *node = strnode_New(&console->commands);
    if (node == nullptr) {
        unlock(console);
        return ZUB_ENOMEM;
    }
    node->string = strdup(name);
    if (node->string == nullptr) {
        std::free(node);
        unlock(console);
        return ZUB_ENOMEM;
    }
    auto *command = reinterpret_cast<vklSimpleCommand_t *>(node);
    command->handler = handler;
    command->context = context;
    command->extra = extra;
    strnode_Insert(&console->commands, node);
    unlock(console);
    return 0;
}

} // namespace

extern "C" {

vklState_t *vklStateCreate(const vklStateConfig_t *config)
{
    if (config == nullptr) {
        return nullptr;
    }
    auto *console =
        static_cast<vklState_t *>(zub::detail::allocate(config->allocator, sizeof(vklState_t)));
    if (console == nullptr) {
        return nullptr;
    }
    if (vklStateInitialize(console, config) < 0) {
        zub::detail::release(config->allocator, console);
        return nullptr;
    }
    return console;
}

int32_t vklStateInitialize(vklState_t *console, const vklStateConfig_t *config)
{
    if (console == nullptr || config == nullptr) {
        return ZUB_EINVAL;
    }
    constexpr size_t kFirstOwnField = offsetof(vklState_t, commands);
    std::memset(reinterpret_cast<unsigned char *>(console) + kFirstOwnField, 0,
                sizeof(vklState_t) - kFirstOwnField);
    console->allocator = config->allocator;
    console->hashSize = config->hashSize > VKL_MIN_HASH_SIZE ? config->hashSize : VKL_MIN_HASH_SIZE;
    console->threadFunction = config->threadFunction;
    console->terminateFunction = config->terminateFunction;
    console->functionArgument = config->functionArgument;
    console->inputSize = config->inputSize;
    console->lineSize = config->lineSize;
    const int32_t result =
        strlist_InitHash(&console->commands, static_cast<uint32_t>(console->hashSize));
    console->commands.list.nodeSize = static_cast<int32_t>(sizeof(vklSimpleCommand_t));
    return result;
}

int32_t vklStateStart(vklState_t *console)
{
    if (console == nullptr) {
        return ZUB_EINVAL;
    }
    return start(console);
}

int32_t vklStateTerminate(vklState_t *console)
{
    if (console == nullptr) {
        return ZUB_EINVAL;
    }
    lock(console);
    int (*function)(void *) = console->terminateFunction;
    void *argument = console->functionArgument;
    unlock(console);
    if (function == nullptr) {
        return ZUB_EINVAL;
    }
    function(argument);
    return 0;
}

int32_t vklStateRelease(vklState_t *console)
{
    if (console == nullptr) {
        return ZUB_EINVAL;
    }
    strnode_DeleteAll(&console->commands);
    strlist_DestroyData(&console->commands);
    std::memset(static_cast<void *>(console), VKL_RELEASED_FILL, sizeof *console);
    return 0;
}

int32_t vklStateDestroy(vklState_t *console)
{
    if (console == nullptr) {
        return ZUB_EINVAL;
    }
    zubAllocator_t *allocator = console->allocator;
    vklStateTerminate(console);
    stop_leftover_thread(console);
    vklStateRelease(console);
    std::memset(static_cast<void *>(console), VKL_DESTROYED_FILL, sizeof *console);
    zub::detail::release(allocator, console);
    return 0;
}

int32_t vklAddSimpleCommand(vklState_t *console, const char *name, vklCommandHandler_t handler,
                            uintptr_t context, uintptr_t extra)
{
    if (console == nullptr || name == nullptr || name[0] == '\0' || handler == nullptr) {
        return ZUB_EINVAL;
    }
    return add_command(console, name, handler, context, extra);
}

int32_t vklRemoveSimpleCommand(vklState_t *, const char *)
{
    return ZUB_ENOSYS;
}

int32_t vklRemoveSimpleModuleCommands(vklState_t *, uintptr_t)
{
    return ZUB_ENOSYS;
}

void *_vklWrapperThread(void *argument)
{
    auto *console = static_cast<vklState_t *>(argument);
    lock(console);
    void *(*function)(void *) = console->threadFunction;
    void *functionArgument = console->functionArgument;
    if (function == nullptr) {
        function = _vklConsoleThread;
        functionArgument = console;
    }
    unlock(console);
    function(functionArgument);
    lock(console);
    console->flags &= ~(VKL_FLAG_STARTED | VKL_FLAG_TERMINATING);
    unlock(console);
    return nullptr;
}

void *_vklConsoleThread(void *argument)
{
    if (argument == nullptr) {
        return nullptr;
    }
    console_loop(static_cast<vklState_t *>(argument));
}

int32_t _vklTerminateConsoleThread(vklState_t *console)
{
    if (console == nullptr) {
        return ZUB_EINVAL;
    }
    return terminate_loop(console);
}

} // extern "C"
