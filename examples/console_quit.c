/*
 * A console that runs until the user types `quit`, and how a command ends
 * its own console.
 *
 * A handler runs on the console thread with the console mutex held, so it
 * cannot stop its own console. The `quit` handler only tells the console's
 * owner (here through a condition variable; a pipe or an eventfd serve as
 * well), and the owner's thread calls _vklTerminateConsoleThread, which
 * joins the console thread, closes the stop pipe and releases the input
 * block. That works for both kinds of record: one from vklStateCreate,
 * ended with vklStateDestroy, and one in the program's own memory set up
 * with vklStateInitialize (--initialize), ended with vklStateRelease.
 *
 * At end of input (Ctrl-D) the console thread ends by itself and no handler
 * runs: the owner also looks at the input-ended bit, and the stop call then
 * only joins and releases.
 *
 * Usage: console_quit [--initialize], then type `hello NAME` or `quit`.
 * Exits with 0 when the console ended cleanly.
 */
#define _POSIX_C_SOURCE 200809L
#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "zub/console.h"

/* What the quit handler tells the owner. */
typedef struct {
    pthread_mutex_t mutex;
    pthread_cond_t changed;
    int quitting; /* under mutex */
} Owner;

static int hello(vklState_t *console, uintptr_t context, char **argv, int32_t argc)
{
    (void)console;
    (void)context;
    printf("hello %s\n", argc > 1 ? argv[1] : "world");
    return 0;
}

/* On the console thread, console mutex held: tell the owner, nothing more. */
static int quit(vklState_t *console, uintptr_t context, char **argv, int32_t argc)
{
    Owner *owner = (Owner *)context;
    (void)console;
    (void)argv;
    (void)argc;
    pthread_mutex_lock(&owner->mutex);
    owner->quitting = 1;
    pthread_cond_signal(&owner->changed);
    pthread_mutex_unlock(&owner->mutex);
    return 0;
}

static int input_ended(vklState_t *console)
{
    pthread_mutex_lock(&console->mutex);
    const int ended = (console->flags & VKL_FLAG_INPUT_ENDED) != 0;
    pthread_mutex_unlock(&console->mutex);
    return ended;
}

/* Returns 1 after `quit`, 0 at end of input, which no handler reports and
 * is looked for every 200 ms. The owner's mutex is never held while the
 * console's is taken: the handler takes them the other way round. */
static int wait_for_quit(Owner *owner, vklState_t *console)
{
    int quitting = 0;
    while (!quitting && !input_ended(console)) {
        struct timespec until;
        clock_gettime(CLOCK_REALTIME, &until);
        until.tv_nsec += 200000000L;
        if (until.tv_nsec >= 1000000000L) {
            until.tv_sec += 1;
            until.tv_nsec -= 1000000000L;
        }
        pthread_mutex_lock(&owner->mutex);
        while (!owner->quitting &&
               pthread_cond_timedwait(&owner->changed, &owner->mutex, &until) != ETIMEDOUT) {
        }
        quitting = owner->quitting;
        pthread_mutex_unlock(&owner->mutex);
    }
    /* Input may have ended after a `quit` that came before this look. */
    pthread_mutex_lock(&owner->mutex);
    quitting = owner->quitting;
    pthread_mutex_unlock(&owner->mutex);
    return quitting;
}

int main(int argc, char **argv)
{
    Owner owner = {PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER, 0};
    vklStateConfig_t config = {0}; /* malloc, 107 buckets, 1024/512 buffers */
    vklState_t record;             /* --initialize: the console lives here */
    const int own = argc > 1 && strcmp(argv[1], "--initialize") == 0;
    vklState_t *console = &record;
    if (own ? vklStateInitialize(console, &config) != 0
            : (console = vklStateCreate(&config)) == NULL) {
        fputs("console_quit: no console\n", stderr);
        return 1;
    }
    int32_t rc = vklAddSimpleCommand(console, "hello", hello, 0, 0);
    if (rc == 0) {
        rc = vklAddSimpleCommand(console, "quit", quit, (uintptr_t)&owner, 0);
    }
    if (rc == 0) {
        rc = vklStateStart(console);
    }
    int quitting = 0;
    if (rc == 0) {
        quitting = wait_for_quit(&owner, console);
        rc = _vklTerminateConsoleThread(console);
    }
    if (own) {
        vklStateRelease(console);
    } else {
        vklStateDestroy(console);
    }
    if (rc != 0) {
        fprintf(stderr, "console_quit: console failed with %d\n", (int)rc);
        return 1;
    }
    puts(quitting ? "bye" : "end of input");
    return 0;
}
