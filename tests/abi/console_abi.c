/* Record layouts of the console. The console record's size depends on the C
 * library's pthread types; its fields up to the registry are fixed. */
#include "abi_expect.h"

#include "zub/console.h"

ZUB_ABI_SIZE(vklStateConfig_t, 28, 48);
ZUB_ABI_OFFSET(vklStateConfig_t, hashSize, 4, 8);
ZUB_ABI_OFFSET(vklStateConfig_t, threadFunction, 8, 16);
ZUB_ABI_OFFSET(vklStateConfig_t, terminateFunction, 12, 24);
ZUB_ABI_OFFSET(vklStateConfig_t, functionArgument, 16, 32);
ZUB_ABI_OFFSET(vklStateConfig_t, inputSize, 20, 40);
ZUB_ABI_OFFSET(vklStateConfig_t, lineSize, 24, 44);

/* The console record begins with the configuration's fields at the same offsets. */
ZUB_ABI_AT(vklState_t, hashSize, offsetof(vklStateConfig_t, hashSize));
ZUB_ABI_AT(vklState_t, threadFunction, offsetof(vklStateConfig_t, threadFunction));
ZUB_ABI_AT(vklState_t, terminateFunction, offsetof(vklStateConfig_t, terminateFunction));
ZUB_ABI_AT(vklState_t, functionArgument, offsetof(vklStateConfig_t, functionArgument));
ZUB_ABI_AT(vklState_t, inputSize, offsetof(vklStateConfig_t, inputSize));
ZUB_ABI_AT(vklState_t, lineSize, offsetof(vklStateConfig_t, lineSize));
ZUB_ABI_OFFSET(vklState_t, commands, 28, 48);
ZUB_ABI_OFFSET(vklState_t, flags, 76, 136);
ZUB_ABI_OFFSET(vklState_t, thread, 80, 144);
ZUB_ABI_OFFSET(vklState_t, mutex, 84, 152);
ZUB_ABI_AT(vklState_t, pipeFds, offsetof(vklState_t, mutex) + sizeof(pthread_mutex_t));
ZUB_ABI_OFFSET(vklState_t, buffer, 116, 200);
ZUB_ABI_AT(vklState_t, lineBuffer, offsetof(vklState_t, buffer) + sizeof(char *));
ZUB_ABI_AT(vklState_t, scanBuffer, offsetof(vklState_t, buffer) + 2 * sizeof(char *));
ZUB_ABI_AT(vklState_t, inputCount, offsetof(vklState_t, buffer) + 3 * sizeof(char *));
ZUB_ABI_AT(vklState_t, inputPos, offsetof(vklState_t, inputCount) + 4);
ZUB_ABI_AT(vklState_t, lineLength, offsetof(vklState_t, inputCount) + 8);
ZUB_ABI_SIZE(vklState_t, 140, 240);

ZUB_ABI_SIZE(vklSimpleCommand_t, 36, 72);
ZUB_ABI_OFFSET(vklSimpleCommand_t, handler, 24, 48);
ZUB_ABI_OFFSET(vklSimpleCommand_t, context, 28, 56);
ZUB_ABI_OFFSET(vklSimpleCommand_t, extra, 32, 64);
