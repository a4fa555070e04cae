#include <gtest/gtest.h>

#include <vector>

#include "test_support.h"
#include "zub/serialization.h"

// Integers come from the source; a nested structure is converted within
// the destination; counted members and fixed arrays are neither converted
// nor copied. Only kind 0 ends the table here: an integer entry whose
// argument is the other walkers' end mark is converted, and a nested entry
// without a table is passed over. Chains convert at any depth, cycles
// return: each table is converted once, and nothing past it is touched.
TEST(ByteOrder, IntegersFromTheSourceNestedMembersWithinTheDestination)
{
    const zubEndianInfoEntry_t entries[] = {
        ZUB_ENTRY_RAW(0, ZUB_DESER_TYPE_U16, UINTPTR_MAX),
        ZUB_ENTRY_RAW(0, ZUB_DESER_TYPE_TABLE, 0),
        ZUB_ENTRY_RAW(2, ZUB_DESER_TYPE_U8, 0),
        ZUB_ENTRY_RAW(4, ZUB_DESER_TYPE_U32, 0),
        ZUB_ENTRY_RAW(8, ZUB_DESER_TYPE_TABLE, &__zub_EndianTable_zubOsalTime_t),
        ZUB_ENTRY_RAW(24, ZUB_DESER_TYPE_U64, 0),
        ZUB_ENTRY_RAW(32, ZUB_ENDIAN_PACK(ZUB_DESER_TYPE_VAR32, 1028), 4),
        ZUB_ENTRY_RAW(40, ZUB_ENDIAN_PACK(ZUB_DESER_TYPE_FIXED, 2), 2),
        ZUB_ENTRY_END};
    const zubEndianTable_t table = {48, entries};
    const std::vector<uint8_t> source = zubtest::seq(0, 48);
    std::vector<uint8_t> data = zubtest::seq(0x80, 48);
    zubProtocolToHost(data.data(), source.data(), &table);
    EXPECT_EQ(zubtest::hex(data.data(), 48),
              "01 00 02 83 07 06 05 04 8f 8e 8d 8c 8b 8a 89 88 93 92 91 90 94 95 96 97 "
              "1f 1e 1d 1c 1b 1a 19 18 a0 a1 a2 a3 a4 a5 a6 a7 a8 a9 aa ab ac ad ae af");
    // A null pointer or table leaves the data alone.
    const std::vector<uint8_t> before = data;
    zubHostToProtocol(data.data(), nullptr, &table);
    zubHostToProtocol(nullptr, data.data(), &table);
    zubHostToProtocol(data.data(), data.data(), nullptr);
    EXPECT_EQ(data, before);

    // 300 distinct tables, each a 16-bit member after its nested structure;
    // the last level's nested entry names no table.
    constexpr size_t kLevels = 300;
    std::vector<zubEndianTable_t> tables(kLevels);
    std::vector<std::vector<zubEndianInfoEntry_t>> lists(kLevels);
    for (size_t k = kLevels; k-- > 0;) {
        const auto own = static_cast<uint32_t>(2 * (kLevels - 1 - k));
        lists[k] = {ZUB_ENTRY_RAW(0, 3, k + 1 < kLevels ? &tables[k + 1] : nullptr),
                    ZUB_ENTRY_RAW(own, ZUB_DESER_TYPE_U16, 0), ZUB_ENTRY_END};
        tables[k] = {own + 2, lists[k].data()};
    }
    data = zubtest::seq(0, 2 * kLevels);
    zubtest::DebugCapture capture;
    zubProtocolToHost(data.data(), data.data(), &tables[0]);
    for (size_t i = 0; i < data.size(); ++i)
        ASSERT_EQ(data[i], uint8_t(i ^ 1));

    // A = {U16 at 0, B at 2}, B = {U16 at 0, A at 2}, and a table holding itself at 1.
    zubEndianInfoEntry_t e[3][3];
    const zubEndianTable_t t[3] = {{4, e[0]}, {4, e[1]}, {2, e[2]}};
    for (unsigned k = 0; k < 3; ++k) {
        e[k][0] = ZUB_ENTRY_RAW(0, ZUB_DESER_TYPE_U16, 0);
        e[k][1] = ZUB_ENTRY_RAW(k < 2 ? 2 : 1, ZUB_DESER_TYPE_TABLE, &t[k < 2 ? k ^ 1 : 2]);
        e[k][2] = ZUB_ENTRY_END;
    }
    uint8_t bytes[8] = {0, 1, 2, 3, 4, 5, 6, 7};
    zubProtocolToHost(bytes, bytes, &t[0]);
    EXPECT_EQ(zubtest::hex(bytes, 8), "01 00 03 02 04 05 06 07");
    zubHostToProtocol(bytes, bytes, &t[2]);
    EXPECT_EQ(zubtest::hex(bytes, 8), "00 01 03 02 04 05 06 07");
    EXPECT_TRUE(capture.messages().empty());
}
