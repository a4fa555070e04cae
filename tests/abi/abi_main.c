/* Runs the header and layout checks: they are compile-time assertions, so
 * reaching main means they held for this target. */
#include <stdio.h>

int zub_headers_c(void);
int zub_headers_cpp(void);

int main(void)
{
    int status = zub_headers_c() | zub_headers_cpp();
    printf("headers compile as C99 and C++; record layouts hold for this target\n");
    return status;
}
