/*
 * Stand-in for the platform's libzub-osal-common.so: backtrace output,
 * thread creation with a source location, and the command-line scanner.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <execinfo.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "zub/osal.h"
#include "zub_osal_test.h"

#define EXPORT __attribute__((visibility("default")))

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static const char *lastSourceFile;
static int lastLine;
static int failCreations;

/* Whether the comma-separated list holds `word` as a whole item. */
static int list_holds(const char *list, const char *word)
{
    const size_t length = strlen(word);
    for (const char *item = list; item != NULL; item = strchr(item, ',')) {
        item += *item == ',';
        if (strncmp(item, word, length) == 0 && (item[length] == ',' || item[length] == '\0')) {
            return 1;
        }
    }
    return 0;
}

/* Backtraces only on request: a program that decodes hostile input meets
 * the library's internal-error paths for every bad message, and six lines
 * of frames each time would flood its log. ZUB_DEBUG is read at every call
 * (backtraces are rare), so the choice follows the environment. */
EXPORT int zubOsalWriteBacktrace(void)
{
    const char *debug = getenv("ZUB_DEBUG");
    if (debug == NULL || !list_holds(debug, "backtrace") || list_holds(debug, "none")) {
        return 0;
    }
    void *frames[64];
    int count = backtrace(frames, 64);
    fputs("Backtrace:\n", stderr);
    backtrace_symbols_fd(frames, count, 2);
    return count;
}

EXPORT int _zubOsalPOSIX_pthread_create_line(pthread_t *thread, const pthread_attr_t *attributes,
                                             void *(*start)(void *), void *argument,
                                             const char *sourceFile, int line)
{
    pthread_mutex_lock(&lock);
    int fail = failCreations > 0;
    if (fail) {
        failCreations--;
    }
    pthread_mutex_unlock(&lock);
    if (fail) {
        return EAGAIN;
    }
    int result = pthread_create(thread, attributes, start, argument);
    if (result != 0) {
        return result;
    }
    pthread_mutex_lock(&lock);
    lastSourceFile = sourceFile;
    lastLine = line;
    pthread_mutex_unlock(&lock);
    if (sourceFile != NULL) {
        /* Thread names hold 15 characters: the file's base name and line. */
        const char *base = strrchr(sourceFile, '/');
        char name[16];
        snprintf(name, sizeof name, "%s:%d", base ? base + 1 : sourceFile, line);
        pthread_setname_np(*thread, name);
    }
    return 0;
}

EXPORT int zubOsalTestLastThreadSource(const char **sourceFile, int *line)
{
    pthread_mutex_lock(&lock);
    int found = lastSourceFile != NULL;
    if (sourceFile) {
        *sourceFile = lastSourceFile;
    }
    if (line) {
        *line = lastLine;
    }
    pthread_mutex_unlock(&lock);
    return found;
}

EXPORT void zubOsalTestFailThreadCreation(int count)
{
    pthread_mutex_lock(&lock);
    failCreations = count;
    pthread_mutex_unlock(&lock);
}

static int is_blank(char c)
{
    return c == ' ' || c == '\t';
}

EXPORT int32_t zubCommandLineSimpleScan(char **argv, uint32_t *aux, char *scanBuffer,
                                        int32_t scanBufferSize, int32_t maxArguments,
                                        const char *line, int32_t lineLength, int32_t flags)
{
    (void)flags;
    if (argv == NULL || scanBuffer == NULL || scanBufferSize <= 0 || maxArguments < 0 ||
        lineLength < 0 || (line == NULL && lineLength > 0)) {
        return -EINVAL;
    }
    int32_t count = 0;
    int32_t out = 0; /* next free byte of scanBuffer */
    int32_t i = 0;
    for (;;) {
        while (i < lineLength && is_blank(line[i])) {
            i++;
        }
        if (i >= lineLength) {
            break;
        }
        if (count == maxArguments) {
            return -E2BIG;
        }
        char *start = scanBuffer + out;
        if (aux != NULL) {
            aux[count] = (uint32_t)i;
        }
        char quote = 0;
        while (i < lineLength && (quote || !is_blank(line[i]))) {
            char c = line[i++];
            if (quote == 0 && (c == '"' || c == '\'')) {
                quote = c;
                continue;
            }
            if (quote != 0 && c == quote) {
                quote = 0;
                continue;
            }
            if (c == '\\' && quote != '\'') {
                if (i >= lineLength) {
                    return -EINVAL;
                }
                char next = line[i];
                /* Inside double quotes only a quote or a backslash is escaped. */
                if (quote == 0 || next == '"' || next == '\\') {
                    c = next;
                    i++;
                }
            }
            /* Keep one byte for the argument's NUL. */
            if (out + 1 >= scanBufferSize) {
                return -ENOBUFS;
            }
            scanBuffer[out++] = c;
        }
        if (quote != 0) {
            return -EINVAL;
        }
        if (out >= scanBufferSize) {
            return -ENOBUFS;
        }
        scanBuffer[out++] = '\0';
        argv[count++] = start;
    }
    argv[count] = NULL;
    return count;
}
