/*
 * OS-abstraction interface of the platform library libzub-osal-common.so:
 * backtrace output, thread creation with a source location, and the
 * command-line scanner used by the console.
 *
 * Example:
 *
 *     #include <stdio.h>
 *     #include <string.h>
 *     #include "zub/osal.h"
 *     int main(void)
 *     {
 *         const char *line = "decode 'two words' x";
 *         char *argv[9];
 *         char scan[64];
 *         int32_t i, n = zubCommandLineSimpleScan(argv, NULL, scan, sizeof scan, 8, line,
 *                                                 (int32_t)strlen(line), 0);
 *         for (i = 0; i < n; i++) printf("[%s]", argv[i]); // [decode][two words][x]
 *         return n < 0;
 *     }
 */
#ifndef ZUB_OSAL_H
#define ZUB_OSAL_H

#include <pthread.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Writes the calling thread's backtrace to the diagnostics output. */
int zubOsalWriteBacktrace(void);

/* Creates a thread as pthread_create does and records the source file and
 * line of the call. 0 on success, non-zero on failure. */
int _zubOsalPOSIX_pthread_create_line(pthread_t *thread, const pthread_attr_t *attributes,
                                      void *(*start)(void *), void *argument,
                                      const char *sourceFile, int line);

/*
 * Splits `line` (lineLength bytes, NUL-terminated) into arguments.
 * Blanks and tabs separate arguments; double and single quotes group text
 * (a quote character inside the other kind of quotes is literal); a
 * backslash outside single quotes takes the next byte literally.
 * Each argument is stored NUL-terminated in scanBuffer (scanBufferSize
 * bytes) and its pointer in argv[0..n-1]; argv[n] is set to null, so argv
 * must hold maxArguments + 1 pointers. aux, when not null, receives the
 * offset in `line` where each argument starts (maxArguments + 1 words).
 * Returns the number of arguments n, or
 *   -7  (E2BIG)   more than maxArguments arguments,
 *   -22 (EINVAL)  an unterminated quote, a trailing backslash or a bad argument,
 *   -105 (ENOBUFS) the scan buffer is too small.
 * Nothing is written past scanBufferSize bytes or maxArguments + 1 pointers.
 * `flags` is reserved and must be 0.
 */
int32_t zubCommandLineSimpleScan(char **argv, uint32_t *aux, char *scanBuffer,
                                 int32_t scanBufferSize, int32_t maxArguments, const char *line,
                                 int32_t lineLength, int32_t flags);

#ifdef __cplusplus
}
#endif

#endif /* ZUB_OSAL_H */
