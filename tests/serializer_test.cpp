#include <gtest/gtest.h>

#include <cstring>

#include "test_support.h"
#include "zub/serialization.h"

TEST(SerialTables, StackOperationsCopyWholeStatesAndRefuseAtTheEdges)
{
    zubDeserTableState_t stack[2], pushed[2];
    zubDeserState_t s{};
    s.stack = stack;
    s.stackCapacity = 2;
    EXPECT_TRUE(_zubDeserStatePopTable(&s) == -9 && _zubDeserStatePeekTable(&s) == -9);
    for (int i = 0; i < 2; ++i) {
        std::memset(&s.current, 0x41 + i, sizeof s.current);
        pushed[i] = s.current;
        ASSERT_EQ(_zubDeserStatePushTable(&s), 0);
    }
    EXPECT_TRUE(_zubDeserStatePushTable(&s) == -12 && s.stackDepth == 2);
    // Peek copies the top record back and keeps it; pop takes it off.
    for (auto op : {_zubDeserStatePeekTable, _zubDeserStatePopTable, _zubDeserStatePeekTable}) {
        const uint16_t depth = s.stackDepth;
        std::memset(&s.current, 0, sizeof s.current);
        EXPECT_EQ(op(&s), 0);
        const zubDeserTableState_t &x = s.current, &y = pushed[depth - 1];
        EXPECT_TRUE(x.table == y.table && x.entry == y.entry && x.count == y.count &&
                    x.index == y.index && x.multiplicity == y.multiplicity && x.base == y.base);
    }
    EXPECT_EQ(s.stackDepth, 1);
    EXPECT_STREQ(_zubDeserGetFieldName(), "ZUB_DESER_NODEBUG");
}
