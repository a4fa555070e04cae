/*
 * zubsh: commands typed on standard input, read and dispatched by the
 * library's console thread, or given on zubsh's own command line. help,
 * echo and quit live here; every family adds its own commands (modules.c).
 *
 * Every command is registered with one dispatcher, run_command, whose
 * context is the command's zubsh_command_t: it calls the handler, keeps
 * its status for -c and shows the next prompt on a terminal.
 */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "zub/osal.h"
#include "zubsh.h"

static const char usage[] =
    "usage: zubsh [-c COMMAND]... | [COMMAND [ARGUMENT...]]\n"
    "\n"
    "Without arguments zubsh reads commands from standard input until quit or\n"
    "its end, with a prompt when it is a terminal. -c runs COMMAND (quoted as\n"
    "on the console; several -c run in turn until one fails); a bare COMMAND\n"
    "runs with its arguments as given. The exit status is then the command's:\n"
    "0 success, 1 failure, 127 unknown command.\n"
    "\n"
    "The stream inspector:\n"
    "  decode [--lib LIB] [--json] TYPE HEX...\n"
    "  decode [--lib LIB] [--json] TYPE --file PATH\n"
    "  encode [--lib LIB] TYPE VALUES... [--file PATH]\n"
    "TYPE is a predefined type (encode alone lists them) or, with --lib, the\n"
    "name of a zubEndianTable_t that the shared object LIB exports. HEX may be\n"
    "split by blanks and colons and groups may start with 0x. --file reads a\n"
    "binary capture, or writes the stream as binary (- is standard input or\n"
    "output). --json prints the decoded structure as JSON: members by offset\n"
    "and kind, nested structures and arrays. Integer VALUES may be joined by\n"
    "commas (1,2,3) to pass many in one argument.\n"
    "\n"
    "Diagnostics: ZUB_DEBUG is a comma-separated list of LEVEL, LEVEL:CLASS,\n"
    "all, none and backtrace. Unset means 1: the library's level 1 messages,\n"
    "no backtraces and no echo of each argument (1:5000 shows it); none\n"
    "silences everything.\n"
    "\n"
    "help lists the commands.\n";

/* Set before the console starts, read on its thread afterwards. */
static int prompting;
static int lastStatus;

static int run_command(vklState_t *console, uintptr_t context, char **argv, int32_t argc)
{
    const zubsh_command_t *command = (const zubsh_command_t *)context;
    lastStatus = command->handler(console, 0, argv, argc) != 0;
    if (prompting && !(console->flags & VKL_FLAG_TERMINATING)) {
        printf("zubsh> ");
        fflush(stdout);
    }
    return lastStatus;
}

int zubsh_add(vklState_t *console, const zubsh_command_t *commands, size_t count)
{
    for (size_t i = 0; i < count; i++) {
        int result =
            vklAddSimpleCommand(console, commands[i].name, run_command, (uintptr_t)&commands[i], 0);
        if (result != 0) {
            return result;
        }
    }
    return 0;
}

static int print_command(dlnode_t *node, void *argument)
{
    const vklSimpleCommand_t *record = (const vklSimpleCommand_t *)node;
    const zubsh_command_t *command = (const zubsh_command_t *)record->context;
    (void)argument;
    printf("  %-8s %s\n", command->name, command->usage);
    return 0;
}

/* Handlers run with the console mutex held, so the registry can be walked
 * as it stands. */
static int cmd_help(vklState_t *console, uintptr_t context, char **argv, int32_t argc)
{
    (void)context;
    (void)argv;
    (void)argc;
    printf("commands:\n");
    dlnode_forEach(&console->commands.list, print_command, NULL);
    printf("TYPE: a predefined type, or with --lib LIB a table the shared object LIB exports\n");
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

static const zubsh_command_t commands[] = {
    {"help", cmd_help, "list the commands"},
    {"echo", cmd_echo, "print the arguments"},
    {"quit", cmd_quit, "leave zubsh"},
};

/* Runs one command the way the console thread would: looked up in the
 * registry, its handler called with the console mutex held. */
static int run_arguments(vklState_t *console, char **argv, int32_t argc)
{
    pthread_mutex_lock(&console->mutex);
    vklSimpleCommand_t *record =
        (vklSimpleCommand_t *)strnode_HashFind(&console->commands, argv[0]);
    if (record != NULL) {
        record->handler(console, record->context, argv, argc);
    }
    pthread_mutex_unlock(&console->mutex);
    if (record == NULL) {
        fprintf(stderr, "zubsh: unknown command \"%s\"\n", argv[0]);
        return 127;
    }
    return lastStatus;
}

/* -c LINE: split with the platform's scanner, as the console splits a
 * typed line, but with no limit on the line or its arguments. */
static int run_line(vklState_t *console, const char *line)
{
    const size_t length = strlen(line);
    if (length > INT32_MAX / 2) {
        fprintf(stderr, "zubsh: the command is too long\n");
        return 1;
    }
    const int32_t most = (int32_t)(length / 2 + 1); /* arguments need a blank between them */
    char **argv = malloc((size_t)(most + 1) * sizeof *argv);
    char *scan = malloc(length + 1);
    int status = 1;
    int32_t argc = -1;
    if (argv != NULL && scan != NULL) {
        argc = zubCommandLineSimpleScan(argv, NULL, scan, (int32_t)length + 1, most, line,
                                        (int32_t)length, 0);
    }
    if (argc < 0) {
        fprintf(stderr, "zubsh: cannot split the command (%d)\n", (int)argc);
    } else {
        status = argc > 0 ? run_arguments(console, argv, argc) : 0;
    }
    free(argv);
    free(scan);
    return status;
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

/* Reads standard input on the console thread until quit or its end. */
static int run_console(vklState_t *console)
{
    prompting = isatty(0);
    if (prompting) {
        printf("zubsh: type help for the commands, quit or end of input to leave\nzubsh> ");
        fflush(stdout);
    }
    if (vklStateStart(console) != 0) {
        fprintf(stderr, "zubsh: cannot start the console\n");
        return 1;
    }
    wait_for_end(console);
    if (prompting) {
        printf("\n");
    }
    return 0;
}

int main(int argc, char **argv)
{
    if (argc > 1 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        fputs(usage, stdout);
        return 0;
    }
    const int lines = argc > 1 && strcmp(argv[1], "-c") == 0;
    for (int i = 1; i < argc && (lines || argv[i][0] == '-'); i += 2) {
        if (strcmp(argv[i], "-c") != 0 || i + 1 == argc) {
            fprintf(stderr, "%s", usage);
            return 2;
        }
    }
    /* Captures arrive as hex on one line: take lines of up to a MiB. */
    const vklStateConfig_t config = {.inputSize = 64 * 1024, .lineSize = 1024 * 1024};
    vklState_t *console = vklStateCreate(&config);
    if (console == NULL) {
        fprintf(stderr, "zubsh: cannot create the console\n");
        return 1;
    }
    if (zubsh_add(console, commands, sizeof commands / sizeof commands[0]) != 0 ||
        zubsh_register_modules(console) != 0) {
        fprintf(stderr, "zubsh: cannot register the commands\n");
        vklStateDestroy(console);
        return 1;
    }
    setvbuf(stdout, NULL, _IOLBF, 0); /* each command's output shows at once */
    int status = 0;
    if (argc == 1) {
        status = run_console(console);
    } else if (!lines) {
        status = run_arguments(console, argv + 1, argc - 1);
    }
    for (int i = 2; lines && i < argc && status == 0; i += 2) {
        status = run_line(console, argv[i]);
    }
    /* Stops the console thread if it still runs, joins it, closes its pipe
     * and releases everything. */
    vklStateDestroy(console);
    return status;
}
