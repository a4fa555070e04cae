/*
 * Diagnostics interface of the platform library libzub-debug.so.
 *
 * A message is written in two steps: the level check for a debug site, then
 * the output. The library writes nothing unless the check passes, and a
 * failed check has no other effect. Both calls may come from any thread.
 *
 * Off the target, platform/ builds a stand-in of this library that writes
 * the messages to standard error. It reads ZUB_DEBUG once: a
 * comma-separated list of LEVEL, LEVEL:CLASS, all, none and backtrace.
 * Unset means 1: level 1 messages only, no backtraces. none silences
 * everything, backtraces included; backtrace turns backtraces on. The
 * platform's own library takes the stand-in's place unchanged.
 *
 * Example: a message site as the library writes one.
 *
 *     #include "zub/debug.h"
 *     int main(void)
 *     {
 *         // A level 1 message of class 3000, written when ZUB_DEBUG enables it.
 *         static const zubDebugSite_t site = {ZUB_DEBUG_SITE_WORD(1, 3000), 0, 0};
 *         if (zubDebugCheckLevelGetFrameAndChunk(&site))
 *             zubDebugOutput0("%s: %d dropped\n", "input", 3);
 *         return 0;
 *     }
 */
#ifndef ZUB_DEBUG_H
#define ZUB_DEBUG_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Debug site: the first word packs the level (upper 16 bits) and the
 * message class (lower 16 bits); the other two words are site details
 * (0, except 3 in the second word at the serialization walkers' level 2
 * sites). */
typedef struct zubDebugSite {
    uint32_t levelClass; /* level << 16 | message class */
    uint32_t frame;      /* site detail */
    uint32_t chunk;      /* site detail */
} zubDebugSite_t;

/* The first word of a site from its level and message class. */
#define ZUB_DEBUG_SITE_WORD(level, messageClass) \
    ((uint32_t)(((uint32_t)(level) << 16) | (0xFFFFu & (uint32_t)(messageClass))))

/* Non-zero when a message for this site is to be written. */
int zubDebugCheckLevelGetFrameAndChunk(const zubDebugSite_t *site);

/* Writes one printf-style message. */
void zubDebugOutput0(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

#ifdef __cplusplus
}
#endif

#endif /* ZUB_DEBUG_H */
