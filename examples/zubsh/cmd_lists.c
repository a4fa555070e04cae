/* Lists family: "sort" puts its arguments into a string list and prints
 * them back in the list's order. */
#include <stdio.h>

#include "zub/strlist.h"
#include "zubsh.h"

static int print_node(dlnode_t *node, void *argument)
{
    int *first = argument;
    printf("%s%s", *first ? "" : " ", ((strnode_t *)node)->string);
    *first = 0;
    return 0;
}

static int cmd_sort(vklState_t *console, uintptr_t context, char **argv, int32_t argc)
{
    (void)console;
    (void)context;
    strlist_t list;
    strlist_Init(&list);
    for (int32_t i = 1; i < argc; i++) {
        if (argv[i][0] != '\0' && strnode_Create(&list, argv[i]) == NULL) {
            printf("sort: out of memory\n");
            break;
        }
    }
    int first = 1;
    dlnode_forEach(&list.list, print_node, &first);
    printf("\n");
    strnode_DeleteAll(&list);
    return 0;
}

static const zubsh_command_t commands[] = {
    {"sort", cmd_sort, "print the arguments in byte order (string list)"},
};

int zubsh_register_lists(vklState_t *console)
{
    return zubsh_add(console, commands, sizeof commands / sizeof commands[0]);
}
