/* Object family: "class" names the root class and copies the text given
 * with the library's string duplication. */
#include <stdio.h>
#include <stdlib.h>

#include "zub/object.h"
#include "zubsh.h"

static int cmd_class(vklState_t *console, uintptr_t context, char **argv, int32_t argc)
{
    (void)console;
    (void)context;
    printf("root class \"%s\"", zubObjectClass.name);
    for (int32_t i = 1; i < argc; i++) {
        char *copy = zubSlowStrdup(NULL, argv[i]);
        if (copy != NULL) {
            printf(" %s", copy);
            free(copy);
        }
    }
    printf("\n");
    return 0;
}

static const zubsh_command_t commands[] = {
    {"class", cmd_class, "name the root class, then copy the arguments"},
};

int zubsh_register_object(vklState_t *console)
{
    return zubsh_add(console, commands, sizeof commands / sizeof commands[0]);
}
