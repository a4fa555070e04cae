/*
 * Test-support interface of the libzub-osal-common.so stand-in. Not part
 * of the platform's interface.
 */
#ifndef ZUB_OSAL_TEST_H
#define ZUB_OSAL_TEST_H

#ifdef __cplusplus
extern "C" {
#endif

/* Source file and line of the last successful
 * _zubOsalPOSIX_pthread_create_line call; 0 when there was none. */
int zubOsalTestLastThreadSource(const char **sourceFile, int *line);

/* Makes the next `count` thread creations fail with EAGAIN. */
void zubOsalTestFailThreadCreation(int count);

#ifdef __cplusplus
}
#endif

#endif /* ZUB_OSAL_TEST_H */
