/*
 * Test-support interface of the libzub-debug.so stand-in. Not part of the
 * platform's interface: tests use it to choose which (level, class) sites
 * are enabled and to capture the formatted messages.
 *
 * Without calls to it, the stand-in enables what the environment variable
 * ZUB_DEBUG names (read once): a comma-separated list of LEVEL, LEVEL:CLASS,
 * "all", "none" and "backtrace"; unset means "1". A bare LEVEL enables the
 * level's sites except class 5000, the console's echo of every argument,
 * which only "LEVEL:5000" or "all" enable.
 * "none" silences everything, backtraces included, whatever else the list
 * holds; "backtrace" lets zubOsalWriteBacktrace write (it writes nothing
 * otherwise). Messages go to standard error, one per line as formatted.
 */
#ifndef ZUB_DEBUG_TEST_H
#define ZUB_DEBUG_TEST_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Disables every site (and forgets the environment's choice). */
void zubDebugTestDisableAll(void);
/* Enables every site. */
void zubDebugTestEnableAll(void);
/* Enables or disables one level; messageClass 0xFFFF means every class. */
void zubDebugTestEnable(uint16_t level, uint16_t messageClass, int enabled);
/* Goes back to the environment's (or the default) choice. */
void zubDebugTestReset(void);

/* While capturing, messages are stored instead of written to stderr. */
void zubDebugTestCapture(int on);
/* Forgets the captured messages and the check count. */
void zubDebugTestClear(void);
size_t zubDebugTestCount(void);
/* The i-th captured message (valid until the next clear), or null. */
const char *zubDebugTestMessage(size_t i);
/* The site words of the check that let the i-th message through. */
int zubDebugTestSite(size_t i, uint32_t words[3]);
/* Number of level checks made since the last clear, passed or not. */
size_t zubDebugTestCheckCount(void);

#ifdef __cplusplus
}
#endif

#endif /* ZUB_DEBUG_TEST_H */
