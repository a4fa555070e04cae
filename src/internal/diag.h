// Diagnostics sites: a message is formatted and written only when the
// platform's level check passes for its site record.
#pragma once

#include "zub/debug.h"

// ZUB_DIAG(level, class, frameWord, format, ...): one message at one site.
#define ZUB_DIAG(level, messageClass, frameWord, ...)                                  \
    do {                                                                               \
        const zubDebugSite_t zubSite_ = {ZUB_DEBUG_SITE_WORD((level), (messageClass)), \
                                         (frameWord), 0u};                             \
        if (zubDebugCheckLevelGetFrameAndChunk(&zubSite_)) {                           \
            zubDebugOutput0(__VA_ARGS__);                                              \
        }                                                                              \
    } while (0)
