/*
 * Diagnostics interface of the platform library libzub-debug.so.
 *
 * A message is written in two steps: the level check for a debug site, then
 * the output. The library writes nothing unless the check passes, and a
 * failed check has no other effect. Both calls may come from any thread.
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
