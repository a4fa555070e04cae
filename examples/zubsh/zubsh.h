/* zubsh: shared declarations of the demo console program. */
#ifndef ZUBSH_H
#define ZUBSH_H

#include "zub/console.h"

/* A command: its name, its handler (0 for success, anything else for a
 * failure, which -c turns into exit status 1) and its line in help. */
typedef struct zubsh_command {
    const char *name;
    vklCommandHandler_t handler;
    const char *usage;
} zubsh_command_t;

/* Registers `count` commands; the table must outlive the console. 0 or the
 * console's error code. */
int zubsh_add(vklState_t *console, const zubsh_command_t *commands, size_t count);

/* Calls every family's registration function (modules.c). */
int zubsh_register_modules(vklState_t *console);

/* One registration function per family, in cmd_<family>.c. */
int zubsh_register_lists(vklState_t *console);
int zubsh_register_object(vklState_t *console);
int zubsh_register_serial(vklState_t *console);
int zubsh_register_time(vklState_t *console);

#endif
