/* The families whose commands zubsh offers: add one line per family. */
#include <stddef.h>

#include "zubsh.h"

static int (*const modules[])(vklState_t *) = {
    zubsh_register_lists,
    zubsh_register_object,
    zubsh_register_serial,
    zubsh_register_time,
};

int zubsh_register_modules(vklState_t *console)
{
    for (size_t i = 0; i < sizeof modules / sizeof modules[0]; i++) {
        int result = modules[i](console);
        if (result != 0) {
            return result;
        }
    }
    return 0;
}
