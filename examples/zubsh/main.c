/*
 * zubsh: commands typed on standard input, read and dispatched by the
 * library's console thread. help, echo and quit live here; every family
 * adds its own commands (modules.c). Ends with status 0 at end of input or
 * after quit.
 */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include "zubsh.h"

int zubsh_add(vklState_t *console, const char *name, vklCommandHandler_t handler,
              const char *description)
{
    return vklAddSimpleCommand(console, name, handler, 0, (uintptr_t)description);
}

static int print_command(dlnode_t *node, void *argument)
{
    const vklSimpleCommand_t *command = (const vklSimpleCommand_t *)node;
    (void)argument;
    printf("  %-8s %s\n", command->node.string, (const char *)command->extra);
    return 0;
}

/* Handlers run on the console thread with the console mutex held, so the
 * registry can be walked as it stands. */
static int cmd_help(vklState_t *console, uintptr_t context, char **argv, int32_t argc)
{
    (void)context;
    (void)argv;
    (void)argc;
    printf("commands:\n");
    dlnode_forEach(&console->commands.list, print_command, NULL);
    return 0;
}

static int cmd_echo(vklState_t *console, uintptr_t context, char **argv, int32_t argc)
{
    (void)console;
    (void)context;
    for (int32_t i = 1; i < argc; i++) {
        printf(i > 1 ? " %s" : "%s", argv[i]);
    }
    printf("\n");
    return 0;
}

/* The mutex is held: setting the terminating bit ends the loop after this
 * line. */
static int cmd_quit(vklState_t *console, uintptr_t context, char **argv, int32_t argc)
{
    (void)context;
    (void)argv;
    (void)argc;
    console->flags |= VKL_FLAG_TERMINATING;
    return 0;
}

/* The console thread ends at quit or at end of input and signals neither;
 * look at its flags a few times a second. */
static void wait_for_end(vklState_t *console)
{
    const struct timespec pause = {0, 20 * 1000 * 1000};
    for (;;) {
        pthread_mutex_lock(&console->mutex);
        const uint32_t flags = console->flags;
        pthread_mutex_unlock(&console->mutex);
        if (flags & (VKL_FLAG_TERMINATING | VKL_FLAG_INPUT_ENDED)) {
            return;
        }
        nanosleep(&pause, NULL);
    }
}

int main(void)
{
    /* Unless the user chose otherwise, the console's diagnostics show only
     * input problems (unknown command, unparsable line), not every argument. */
    setenv("ZUB_DEBUG", "1:3000", 0);
    const vklStateConfig_t config = {0};
    vklState_t *console = vklStateCreate(&config);
    if (console == NULL) {
        fprintf(stderr, "zubsh: cannot create the console\n");
        return 1;
    }
    if (zubsh_add(console, "help", cmd_help, "list the commands") != 0 ||
        zubsh_add(console, "echo", cmd_echo, "print the arguments") != 0 ||
        zubsh_add(console, "quit", cmd_quit, "leave zubsh") != 0 ||
        zubsh_register_modules(console) != 0) {
        fprintf(stderr, "zubsh: cannot register the commands\n");
        vklStateDestroy(console);
        return 1;
    }
    setvbuf(stdout, NULL, _IOLBF, 0); /* each command's output shows at once */
    if (isatty(0)) {
        printf("zubsh: type help for the commands, quit or end of input to leave\n");
    }
    if (vklStateStart(console) != 0) {
        fprintf(stderr, "zubsh: cannot start the console\n");
        vklStateDestroy(console);
        return 1;
    }
    wait_for_end(console);
    /* Joins the thread, closes its pipe and releases everything. */
    vklStateDestroy(console);
    return 0;
}
