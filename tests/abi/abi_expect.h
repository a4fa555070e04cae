/* ZUB_ABI_EXPECT(armhf, lp64): the expected figure on the current target. */
#ifndef ZUB_ABI_EXPECT_H
#define ZUB_ABI_EXPECT_H

#include <stddef.h>
#include <stdint.h>

#if defined(__arm__)
#define ZUB_ABI_EXPECT(armhf, lp64) (armhf)
#elif UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
#define ZUB_ABI_EXPECT(armhf, lp64) (lp64)
#else
#error "layout checks know armhf and 64-bit hosts"
#endif

#endif
