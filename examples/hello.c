/* The smallest program that links the library. */
#include <stdio.h>
#include <stdlib.h>

#include "zub/object.h"

int main(void)
{
    char *copy = zubSlowStrdup(NULL, "hello from libzub-vorn");
    printf("%s (root class \"%s\")\n", copy, zubObjectClass.name);
    free(copy);
    return 0;
}
