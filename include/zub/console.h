/*
 * Console command line: a thread that reads lines from standard input
 * (descriptor 0), splits each into arguments with the platform's scanner
 * and calls the handler registered under the first argument.
 *
 * Life cycle: vklStateCreate (or vklStateInitialize on caller memory),
 * vklAddSimpleCommand at any time, vklStateStart, then
 * _vklTerminateConsoleThread (or vklStateTerminate with a configured
 * terminate function) and vklStateDestroy (or vklStateRelease).
 *
 * Locking: one non-recursive mutex per console guards the flags, the
 * configuration fields the thread reads and the command registry. The
 * console thread holds it except while it waits for input, so handlers run
 * with it held and must not call vklAddSimpleCommand, vklStateStart,
 * vklStateTerminate, vklStateDestroy or _vklTerminateConsoleThread on
 * their own console. To end the console from a handler, the handler tells
 * the console's owner (a condition variable, a pipe) and the owner's thread
 * calls _vklTerminateConsoleThread, which joins the console thread, closes
 * the pipe and releases the input block, for a record of either kind (the
 * example console_quit.c). Setting VKL_FLAG_TERMINATING in console->flags
 * from a handler also ends the loop after that line, but the stop call then
 * returns -16 and only vklStateDestroy releases what Start set up: on a
 * record from vklStateInitialize the pipe and the input block leak.
 *
 * Descriptor 0 closed before Start: the stop pipe takes the lowest free
 * descriptors, so its read end becomes descriptor 0 and the loop watches its
 * own pipe as its input. It reads no command and waits for the stop byte of
 * _vklTerminateConsoleThread (or vklStateDestroy), which ends it as usual;
 * closing the pipe leaves descriptor 0 closed again. With descriptor 1
 * closed too, the write end takes it, and what the program writes to
 * standard output reaches the loop as input (a byte of it is dropped at
 * each wake-up). For a console without input, open /dev/null on descriptor
 * 0 instead: the loop meets end of input at once and ends with
 * VKL_FLAG_INPUT_ENDED.
 *
 * The stop message on the console's pipe is the single byte 0xFF.
 * vklStateRelease fills the record with 0x55, vklStateDestroy with 0xFF.
 * The record holds pointers into itself (the registry's sentinels): it must
 * not be copied or moved after initialisation.
 *
 * Choices of this implementation:
 *  - A line longer than lineSize - 1 characters is dropped whole: once the
 *    line holds lineSize - 1 characters and the next byte is not a newline,
 *    the level 1, class 3000 message
 *      "zubsimplecommandline:233:_vklConsoleThread(): Input line longer than
 *       %d characters dropped.\n"  (with lineSize - 1)
 *    is written, bytes are dropped up to and including the next newline,
 *    and lineLength reads lineSize meanwhile. Shorter lines are unaffected
 *    however the input is split into reads.
 *  - A hang-up or error reported by poll on descriptor 0 is treated like
 *    readable data (the read then returns 0 or fails). An invalid
 *    descriptor 0, end of input and a read error other than EINTR/EAGAIN
 *    all end the loop with VKL_FLAG_INPUT_ENDED set. inputCount never goes
 *    negative and the loop never spins.
 *  - A hang-up, error or invalid report on the stop pipe (which only
 *    happens when someone closed its descriptors) ends the loop like the
 *    stop byte, since the console could no longer be stopped otherwise.
 *  - vklStateStart releases the input block and closes the pipe it made
 *    when a later step fails (buffer is null again). It joins an earlier
 *    thread whose configured thread function returned before it creates a
 *    new one.
 *  - `thread` reads all zero bytes while no thread awaits joining; the
 *    caller that takes a join zeroes it under the mutex before it joins.
 *  - Two controlling threads: vklStateStart, _vklTerminateConsoleThread,
 *    vklStateTerminate, vklStateDestroy and vklAddSimpleCommand may be
 *    called on one console from different threads (a signal-handling
 *    thread stopping the console the main thread started). Whatever the
 *    interleaving, each start's thread is joined once and its pipe and
 *    input block released once, by the one caller that took them under the
 *    mutex; the other call returns its usual code (-16 for a second stop,
 *    -2 for a stop of a configured thread function that already returned).
 *    vklStateDestroy waits for a stop that another thread has begun before
 *    it frees anything; a call that reaches the console only after Destroy
 *    began is a use of a destroyed record, which the caller must prevent.
 *  - _vklTerminateConsoleThread writes, closes and releases nothing when
 *    Start set up no pipe and input block (a configured thread function);
 *    it then only joins the thread.
 *  - vklStateDestroy, after vklStateTerminate, stops a built-in loop that
 *    still runs (or joins one that ended by itself, at end of input or from
 *    a handler) and releases its pipe and block; it joins a configured
 *    thread function before it releases the record.
 *  - vklRemoveSimpleCommand(console, name) and
 *    vklRemoveSimpleModuleCommands(console, extra) always return -38.
 *  - The input block size inputSize + 2 * (lineSize + 1) is computed in
 *    64 bits; a size that does not fit size_t fails Start with -12.
 *  - A null configuration gives -22 from vklStateInitialize and null from
 *    vklStateCreate; a null console gives -22 from vklStateRelease,
 *    vklStateDestroy and _vklTerminateConsoleThread.
 *
 * The console thread ends with pthread_exit, which unwinds its stack:
 * handlers must not be noexcept C++ functions.
 *
 * Example: a complete program that serves commands until `quit`.
 *
 *     #include <stdio.h>
 *     #include <unistd.h>
 *     #include "zub/console.h"
 *     static int quitPipe[2];
 *     static int hello(vklState_t *console, uintptr_t context, char **argv, int32_t argc)
 *     {
 *         (void)console; (void)context;
 *         printf("hello %s\n", argc > 1 ? argv[1] : "world");
 *         return 0;
 *     }
 *     // Runs on the console thread with the console's mutex held: it only tells
 *     // the owner, which stops the console from its own thread.
 *     static int quit(vklState_t *console, uintptr_t context, char **argv, int32_t argc)
 *     {
 *         char byte = 'q';
 *         (void)console; (void)context; (void)argv; (void)argc;
 *         return write(quitPipe[1], &byte, 1) == 1 ? 0 : -1;
 *     }
 *     int main(void)
 *     {
 *         vklStateConfig_t config = {0}; // malloc, 107 buckets, 1024/512-byte buffers
 *         vklState_t *console;
 *         char byte;
 *         if (pipe(quitPipe) != 0 || (console = vklStateCreate(&config)) == NULL) return 1;
 *         vklAddSimpleCommand(console, "hello", hello, 0, 0);
 *         vklAddSimpleCommand(console, "quit", quit, 0, 0);
 *         if (vklStateStart(console) != 0) return 1;
 *         while (read(quitPipe[0], &byte, 1) != 1) {} // type: hello you, then quit
 *         _vklTerminateConsoleThread(console);         // joins, closes, releases
 *         vklStateDestroy(console);
 *         return 0;
 *     }
 */
#ifndef ZUB_CONSOLE_H
#define ZUB_CONSOLE_H

#include <pthread.h>

#include "zub/strlist.h"
#include "zub/types.h"

ZUB_EXTERN_C_BEGIN

/* Bits of vklState_t.flags. */
#define VKL_FLAG_STARTED 1u      /* a console thread was created */
#define VKL_FLAG_TERMINATING 2u  /* a stop was requested */
#define VKL_FLAG_INPUT_ENDED 16u /* the console loop met the end of its input */

#define VKL_MIN_HASH_SIZE 107 /* registry bucket counts of 107 and below become 107 */
/* Input buffer bytes when inputSize is 0 or below. */
#define VKL_DEFAULT_INPUT_SIZE 1024
/* Line buffer bytes when lineSize is 0 or below. */
#define VKL_DEFAULT_LINE_SIZE 512
#define VKL_MAX_ARGUMENTS 100    /* arguments per line; the vector holds one more */
#define VKL_STOP_BYTE 0xFFu      /* the stop message on the pipe */
#define VKL_RELEASED_FILL 0x55u  /* every byte after vklStateRelease */
#define VKL_DESTROYED_FILL 0xFFu /* every byte after vklStateDestroy */

/* Copied whole into the console record. */
typedef struct vklStateConfig {
    /* console record and input block; null or ZUB_ALLOCATOR_DEFAULT: malloc */
    zubAllocator_t *allocator;
    int32_t hashSize; /* registry buckets; raised to 107 when 107 or below */
    /* optional: run by the console thread instead of the built-in loop */
    void *(*threadFunction)(void *);
    int (*terminateFunction)(void *); /* optional: called by vklStateTerminate */
    void *functionArgument;           /* passed to threadFunction and terminateFunction */
    int32_t inputSize;                /* input buffer bytes; Start makes 0 or below 1024 */
    /* line buffer size, lines hold lineSize - 1 characters; Start makes 0 or below 512 */
    int32_t lineSize;
} vklStateConfig_t;

/* A console: its configuration, command registry, thread, stop pipe and buffers. */
typedef struct vklState {
    /* The seven configuration fields, as copied by vklStateInitialize. */
    zubAllocator_t *allocator;
    int32_t hashSize; /* above 107 after initialisation */
    void *(*threadFunction)(void *);
    int (*terminateFunction)(void *);
    void *functionArgument;
    int32_t inputSize; /* above 0 after a successful Start */
    int32_t lineSize;  /* above 0 after a successful Start */

    strlist_t commands;    /* registry: hashed string list of vklSimpleCommand_t */
    uint32_t flags;        /* VKL_FLAG_* bits, under mutex */
    pthread_t thread;      /* console thread; all zero bytes when none awaits joining */
    pthread_mutex_t mutex; /* default attributes; the zero fill of initialisation sets it up */
    int pipeFds[2];        /* stop pipe: read end, write end; valid while buffer is not null */
    char *buffer;          /* input block (inputSize + 2 * (lineSize + 1) bytes) or null */
    char *lineBuffer;      /* buffer + inputSize, lineSize + 1 bytes */
    char *scanBuffer;      /* lineBuffer + lineSize + 1, lineSize + 1 bytes */
    int32_t inputCount;    /* bytes the last read placed in the input buffer, never negative */
    int32_t inputPos;      /* of those, bytes consumed; 0 <= inputPos <= inputCount */
    /* characters of the line being assembled; lineSize while dropping an over-long line */
    int32_t lineLength;
} vklState_t;

/* Handler: called on the console thread, with the console mutex held, as
 * handler(console, context, argv, argc); argv[0] is the command name,
 * argv[argc] is null, argc >= 1. The result is not used. */
typedef int (*vklCommandHandler_t)(vklState_t *console, uintptr_t context, char **argv,
                                   int32_t argc);

/* A registered command: a string node named after it, and its handler. */
typedef struct vklSimpleCommand {
    strnode_t node;              /* node.string: the command name (strdup'ed, owned) */
    vklCommandHandler_t handler; /* never null */
    uintptr_t context;           /* passed to the handler */
    uintptr_t extra;             /* stored for the caller, not used by the console */
} vklSimpleCommand_t;

/* Allocates a record through config->allocator (or malloc) and initialises
 * it. Null when the allocation or the initialisation fails (the record is
 * then released again). */
ZUB_API vklState_t *vklStateCreate(const vklStateConfig_t *config);

/* Zero-fills everything after the configuration fields, copies the
 * configuration, raises hashSize to at least 107 and sets up the registry
 * with that many buckets. 0; -1 when the bucket array cannot be allocated;
 * -22 for a null argument. */
ZUB_API int32_t vklStateInitialize(vklState_t *console, const vklStateConfig_t *config);

/* Applies the size defaults, sets up the input block and the stop pipe
 * (built-in loop only) and creates the console thread. 0; -22 null
 * console; -16 already started; -12 input block or thread creation
 * failed; -14 pipe failed. A failed Start leaves nothing allocated or open
 * and the started bit clear. */
ZUB_API int32_t vklStateStart(vklState_t *console);

/* Calls the configured terminate function (read under the mutex, called
 * without it) with functionArgument and returns 0; -22 for a null console
 * or when none is configured. */
ZUB_API int32_t vklStateTerminate(vklState_t *console);

/* Releases every command record and the bucket array, then fills the whole
 * record with 0x55. No thread may run on the console. Returns 0. */
ZUB_API int32_t vklStateRelease(vklState_t *console);

/* vklStateTerminate, then ends a console thread that is left (see above),
 * vklStateRelease, fills the record with 0xFF and returns it to its
 * allocator. Returns 0. */
ZUB_API int32_t vklStateDestroy(vklState_t *console);

/* Registers `handler` under a copy of `name`, under the mutex. A name can be
 * registered several times; lookups find the earliest registration. 0; -22
 * for a null console, null or empty name or null handler; -12 when the
 * record or the name copy cannot be allocated (nothing is registered). */
ZUB_API int32_t vklAddSimpleCommand(vklState_t *console, const char *name,
                                    vklCommandHandler_t handler, uintptr_t context,
                                    uintptr_t extra);

/* Not implemented: return -38 and change nothing. */
ZUB_API int32_t vklRemoveSimpleCommand(vklState_t *console, const char *name);
ZUB_API int32_t vklRemoveSimpleModuleCommands(vklState_t *console, uintptr_t extra);

/* Start routine of the console thread: runs the configured thread function,
 * or the built-in loop with the console as argument. When a configured
 * function returns, clears the started and terminating bits and ends the
 * thread with a null result. */
ZUB_API void *_vklWrapperThread(void *console);

/* The built-in console loop. Never returns: ends its thread with a null
 * result (pthread_exit) on the stop byte, on the terminating bit or at end
 * of input (VKL_FLAG_INPUT_ENDED). */
ZUB_API void *_vklConsoleThread(void *console);

/* Stops the built-in loop: sets the terminating bit, writes the stop byte,
 * joins the thread, closes the pipe and releases the input block (buffer
 * null). 0; -2 when never started; -16 when a stop was already requested;
 * -22 for a null console. Not to be called from the console thread. */
ZUB_API int32_t _vklTerminateConsoleThread(vklState_t *console);

ZUB_EXTERN_C_END

#endif /* ZUB_CONSOLE_H */
