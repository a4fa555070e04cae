/* Record layouts of the console. The console record's size depends on the C
 * library's pthread types; its fields up to the registry are fixed. */
#include "abi_expect.h"

#include "zub/console.h"

_Static_assert(sizeof(vklStateConfig_t) == ZUB_ABI_EXPECT(28, 48), "vklStateConfig_t size");
_Static_assert(offsetof(vklStateConfig_t, hashSize) == ZUB_ABI_EXPECT(4, 8),
               "vklStateConfig_t.hashSize");
_Static_assert(offsetof(vklStateConfig_t, threadFunction) == ZUB_ABI_EXPECT(8, 16),
               "vklStateConfig_t.threadFunction");
_Static_assert(offsetof(vklStateConfig_t, terminateFunction) == ZUB_ABI_EXPECT(12, 24),
               "vklStateConfig_t.terminateFunction");
_Static_assert(offsetof(vklStateConfig_t, functionArgument) == ZUB_ABI_EXPECT(16, 32),
               "vklStateConfig_t.functionArgument");
_Static_assert(offsetof(vklStateConfig_t, inputSize) == ZUB_ABI_EXPECT(20, 40),
               "vklStateConfig_t.inputSize");
_Static_assert(offsetof(vklStateConfig_t, lineSize) == ZUB_ABI_EXPECT(24, 44),
               "vklStateConfig_t.lineSize");

/* The console record begins with the configuration's fields at the same offsets. */
_Static_assert(offsetof(vklState_t, hashSize) == offsetof(vklStateConfig_t, hashSize),
               "vklState_t.hashSize");
_Static_assert(offsetof(vklState_t, threadFunction) == offsetof(vklStateConfig_t, threadFunction),
               "vklState_t.threadFunction");
_Static_assert(offsetof(vklState_t, terminateFunction) ==
                   offsetof(vklStateConfig_t, terminateFunction),
               "vklState_t.terminateFunction");
_Static_assert(offsetof(vklState_t, functionArgument) ==
                   offsetof(vklStateConfig_t, functionArgument),
               "vklState_t.functionArgument");
_Static_assert(offsetof(vklState_t, inputSize) == offsetof(vklStateConfig_t, inputSize),
               "vklState_t.inputSize");
_Static_assert(offsetof(vklState_t, lineSize) == offsetof(vklStateConfig_t, lineSize),
               "vklState_t.lineSize");
_Static_assert(offsetof(vklState_t, commands) == ZUB_ABI_EXPECT(28, 48), "vklState_t.commands");
_Static_assert(offsetof(vklState_t, flags) == ZUB_ABI_EXPECT(76, 136), "vklState_t.flags");
_Static_assert(offsetof(vklState_t, thread) == ZUB_ABI_EXPECT(80, 144), "vklState_t.thread");
_Static_assert(offsetof(vklState_t, mutex) == ZUB_ABI_EXPECT(84, 152), "vklState_t.mutex");
_Static_assert(offsetof(vklState_t, pipeFds) ==
                   offsetof(vklState_t, mutex) + sizeof(pthread_mutex_t),
               "vklState_t.pipeFds");
_Static_assert(offsetof(vklState_t, buffer) == ZUB_ABI_EXPECT(116, 200), "vklState_t.buffer");
_Static_assert(offsetof(vklState_t, lineBuffer) == offsetof(vklState_t, buffer) + sizeof(char *),
               "vklState_t.lineBuffer");
_Static_assert(offsetof(vklState_t, scanBuffer) ==
                   offsetof(vklState_t, buffer) + 2 * sizeof(char *),
               "vklState_t.scanBuffer");
_Static_assert(offsetof(vklState_t, inputCount) ==
                   offsetof(vklState_t, buffer) + 3 * sizeof(char *),
               "vklState_t.inputCount");
_Static_assert(offsetof(vklState_t, inputPos) == offsetof(vklState_t, inputCount) + 4,
               "vklState_t.inputPos");
_Static_assert(offsetof(vklState_t, lineLength) == offsetof(vklState_t, inputCount) + 8,
               "vklState_t.lineLength");
_Static_assert(sizeof(vklState_t) == ZUB_ABI_EXPECT(140, 240), "vklState_t size");

_Static_assert(sizeof(vklSimpleCommand_t) == ZUB_ABI_EXPECT(36, 72), "vklSimpleCommand_t size");
_Static_assert(offsetof(vklSimpleCommand_t, handler) == ZUB_ABI_EXPECT(24, 48),
               "vklSimpleCommand_t.handler");
_Static_assert(offsetof(vklSimpleCommand_t, context) == ZUB_ABI_EXPECT(28, 56),
               "vklSimpleCommand_t.context");
_Static_assert(offsetof(vklSimpleCommand_t, extra) == ZUB_ABI_EXPECT(32, 64),
               "vklSimpleCommand_t.extra");
