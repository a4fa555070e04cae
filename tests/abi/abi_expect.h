/* ZUB_ABI_EXPECT(armhf, lp64): the expected figure on the current target;
 * ZUB_ABI_SIZE and ZUB_ABI_OFFSET assert a record's size and a field's
 * offset against it, ZUB_ABI_AT a field's offset against an expression. The
 * failure message names the record and the field. */
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

#define ZUB_ABI_SIZE(type, armhf, lp64) \
    _Static_assert(sizeof(type) == ZUB_ABI_EXPECT(armhf, lp64), #type " size")
#define ZUB_ABI_AT(type, field, offset) \
    _Static_assert(offsetof(type, field) == (offset), #type "." #field)
#define ZUB_ABI_OFFSET(type, field, armhf, lp64) \
    ZUB_ABI_AT(type, field, ZUB_ABI_EXPECT(armhf, lp64))

#endif
