/* zubsh: shared declarations of the demo console program. */
#ifndef ZUBSH_H
#define ZUBSH_H

#include "zub/console.h"

/* Registers a command with a one-line description shown by help (kept in
 * the command record's extra field). 0 or the console's error code. */
int zubsh_add(vklState_t *console, const char *name, vklCommandHandler_t handler,
              const char *description);

/* Calls every family's registration function (modules.c). */
int zubsh_register_modules(vklState_t *console);

/* One registration function per family, in cmd_<family>.c. */
int zubsh_register_lists(vklState_t *console);
int zubsh_register_object(vklState_t *console);
int zubsh_register_serial(vklState_t *console);
int zubsh_register_time(vklState_t *console);

#endif
