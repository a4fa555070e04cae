/*
 * Stand-in for the platform's libzub-debug.so: the level check and the
 * message output, plus a test-support interface (zub_debug_test.h).
 *
 * All state sits behind one mutex, so both calls may come from any thread.
 * The site of the last passed check is kept per thread and attached to the
 * next message of that thread.
 */
#define _GNU_SOURCE
#include <pthread.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "zub/debug.h"
#include "zub_debug_test.h"

#define EXPORT __attribute__((visibility("default")))

enum { MAX_RULES = 64, MAX_CAPTURED = 4096 };
/* The console's echo of every argument of every line: a trace that a bare
 * level leaves out; "1:5000" or "all" turn it on. */
enum { TRACE_CLASS = 5000 };

typedef struct {
    uint16_t level;
    uint16_t messageClass; /* 0xFFFF: every class */
} rule_t;

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static int configured;
static int enableAll;
static rule_t rules[MAX_RULES];
static size_t ruleCount;
static int capturing;
static char *captured[MAX_CAPTURED];
static uint32_t capturedSites[MAX_CAPTURED][3];
static size_t capturedCount;
static atomic_size_t checkCount;
/* Levels that have an enabled site (bit min(level, 30)), bit 31 for
 * "everything", QUICK_READY once configured: a check for a level without
 * rules is rejected without taking the lock, so disabled sites on hot
 * paths cost one atomic load. */
#define QUICK_ALL 0x80000000u
#define QUICK_READY 0x40000000u
static atomic_uint quickLevels;
static __thread uint32_t lastSite[3];

static void add_rule(unsigned level, unsigned messageClass)
{
    if (ruleCount < MAX_RULES) {
        rules[ruleCount].level = (uint16_t)level;
        rules[ruleCount].messageClass = (uint16_t)messageClass;
        ruleCount++;
    }
}

static unsigned level_bit(unsigned level)
{
    return 1u << (level < 29 ? level : 29);
}

/* Publishes the quick-reject view of the rules; called with the lock held. */
static void publish(void)
{
    unsigned quick = QUICK_READY | (enableAll ? QUICK_ALL : 0u);
    for (size_t i = 0; i < ruleCount; i++) {
        quick |= level_bit(rules[i].level);
    }
    atomic_store(&quickLevels, quick);
}

/* Reads ZUB_DEBUG; called with the lock held. */
static void configure_from_environment(void)
{
    const char *text = getenv("ZUB_DEBUG");
    ruleCount = 0;
    enableAll = 0;
    configured = 1;
    if (text == NULL) {
        add_rule(1, 0xFFFF);
        publish();
        return;
    }
    char copy[256];
    snprintf(copy, sizeof copy, "%s", text);
    char *save = NULL;
    int none = 0;
    for (char *item = strtok_r(copy, ",", &save); item; item = strtok_r(NULL, ",", &save)) {
        unsigned level = 0, messageClass = 0xFFFF;
        if (strcmp(item, "all") == 0) {
            enableAll = 1;
        } else if (strcmp(item, "none") == 0) {
            none = 1;
        } else if (sscanf(item, "%u:%u", &level, &messageClass) >= 1) {
            add_rule(level, messageClass);
        }
        /* "backtrace" is the OS stand-in's word (zubOsalWriteBacktrace). */
    }
    if (none) {
        /* none wins over everything else the list names. */
        ruleCount = 0;
        enableAll = 0;
    }
    publish();
}

EXPORT int zubDebugCheckLevelGetFrameAndChunk(const zubDebugSite_t *site)
{
    if (site == NULL) {
        return 0;
    }
    const unsigned level = site->levelClass >> 16;
    const unsigned messageClass = site->levelClass & 0xFFFFu;
    /* A plain relaxed increment: the count is for tests, and a locked
     * read-modify-write would cost more than the rejected check itself. */
    atomic_store_explicit(&checkCount, atomic_load_explicit(&checkCount, memory_order_relaxed) + 1,
                          memory_order_relaxed);
    const unsigned quick = atomic_load_explicit(&quickLevels, memory_order_acquire);
    if ((quick & QUICK_READY) && !(quick & QUICK_ALL) && !(quick & level_bit(level))) {
        return 0;
    }
    int pass = 0;
    pthread_mutex_lock(&lock);
    if (!configured) {
        configure_from_environment();
    }
    pass = enableAll;
    for (size_t i = 0; i < ruleCount && !pass; i++) {
        pass = rules[i].level == level &&
               (rules[i].messageClass == messageClass ||
                (rules[i].messageClass == 0xFFFF && messageClass != TRACE_CLASS));
    }
    pthread_mutex_unlock(&lock);
    if (pass) {
        lastSite[0] = site->levelClass;
        lastSite[1] = site->frame;
        lastSite[2] = site->chunk;
    }
    return pass;
}

EXPORT void zubDebugOutput0(const char *format, ...)
{
    char stackText[512];
    va_list args;
    va_start(args, format);
    int length = vsnprintf(stackText, sizeof stackText, format, args);
    va_end(args);
    if (length < 0) {
        return;
    }
    char *text = stackText;
    if ((size_t)length >= sizeof stackText) {
        text = malloc((size_t)length + 1);
        if (text == NULL) {
            return;
        }
        va_start(args, format);
        vsnprintf(text, (size_t)length + 1, format, args);
        va_end(args);
    }
    pthread_mutex_lock(&lock);
    if (capturing) {
        if (capturedCount < MAX_CAPTURED) {
            captured[capturedCount] = strdup(text);
            memcpy(capturedSites[capturedCount], lastSite, sizeof lastSite);
            capturedCount++;
        }
    } else {
        fputs(text, stderr);
        if (length == 0 || text[length - 1] != '\n') {
            fputc('\n', stderr);
        }
    }
    pthread_mutex_unlock(&lock);
    if (text != stackText) {
        free(text);
    }
}

EXPORT void zubDebugTestDisableAll(void)
{
    pthread_mutex_lock(&lock);
    configured = 1;
    enableAll = 0;
    ruleCount = 0;
    publish();
    pthread_mutex_unlock(&lock);
}

EXPORT void zubDebugTestEnableAll(void)
{
    pthread_mutex_lock(&lock);
    configured = 1;
    enableAll = 1;
    publish();
    pthread_mutex_unlock(&lock);
}

EXPORT void zubDebugTestEnable(uint16_t level, uint16_t messageClass, int enabled)
{
    pthread_mutex_lock(&lock);
    if (!configured) {
        configure_from_environment();
    }
    if (enabled) {
        add_rule(level, messageClass);
    } else {
        size_t kept = 0;
        for (size_t i = 0; i < ruleCount; i++) {
            if (!(rules[i].level == level &&
                  (messageClass == 0xFFFF || rules[i].messageClass == messageClass))) {
                rules[kept++] = rules[i];
            }
        }
        ruleCount = kept;
    }
    publish();
    pthread_mutex_unlock(&lock);
}

EXPORT void zubDebugTestReset(void)
{
    pthread_mutex_lock(&lock);
    configure_from_environment();
    pthread_mutex_unlock(&lock);
}

EXPORT void zubDebugTestCapture(int on)
{
    pthread_mutex_lock(&lock);
    capturing = on;
    pthread_mutex_unlock(&lock);
}

EXPORT void zubDebugTestClear(void)
{
    pthread_mutex_lock(&lock);
    for (size_t i = 0; i < capturedCount; i++) {
        free(captured[i]);
        captured[i] = NULL;
    }
    capturedCount = 0;
    atomic_store(&checkCount, 0);
    pthread_mutex_unlock(&lock);
}

EXPORT size_t zubDebugTestCount(void)
{
    pthread_mutex_lock(&lock);
    size_t count = capturedCount;
    pthread_mutex_unlock(&lock);
    return count;
}

EXPORT const char *zubDebugTestMessage(size_t i)
{
    pthread_mutex_lock(&lock);
    const char *text = i < capturedCount ? captured[i] : NULL;
    pthread_mutex_unlock(&lock);
    return text;
}

EXPORT int zubDebugTestSite(size_t i, uint32_t words[3])
{
    pthread_mutex_lock(&lock);
    int found = i < capturedCount;
    if (found) {
        memcpy(words, capturedSites[i], sizeof capturedSites[i]);
    }
    pthread_mutex_unlock(&lock);
    return found;
}

EXPORT size_t zubDebugTestCheckCount(void)
{
    pthread_mutex_lock(&lock);
    size_t count = atomic_load(&checkCount);
    pthread_mutex_unlock(&lock);
    return count;
}
