// Streams at the length limit of a member.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "deser_test_util.h"
#include "test_support.h"
#include "zub/serialization.h"

using deser::Walk;
using zubtest::DebugCapture;
using Messages = std::vector<std::string>;

// Atom data of exactly 0x200000 bytes pass every walker. More end the walk
// after the count, before any of the data is read, written or allocated
// (also where the byte count does not fit 32 bits), and a call after that
// returns at once.
TEST(Walkers, AtomDataAboveTwoMebibytesEndsTheWalkAfterTheCount)
{
    const zubEndianTable_t *table = &__zub_EndianTable_zubDeserBlobUint64_t;
    std::vector<uint8_t> data(0x200008, 0x5A), out(0x200010);
    for (uint32_t count : {0x40000u, 0x40001u, 0x20000001u}) {
        const bool over = count > 0x40000u;
        zubDeserBlobUint64_t blob = {count, reinterpret_cast<uint64_t *>(data.data())};
        EXPECT_EQ(zubSerializedSize(table, &blob), over ? -1 : 0x200004);
        DebugCapture capture;
        Walk put(table, &blob);
        EXPECT_EQ(put.call(out.data(), out.size(), true), over ? -1 : 0);
        zubDeserBlobUint64_t copy = {0, reinterpret_cast<uint64_t *>(0x40)};
        Walk get(table, &copy);
        EXPECT_EQ(get.call(out.data(), over ? 6 : 0x200004, false), over ? -1 : 0);
        EXPECT_TRUE(put.call(out.data(), 8, true) == 0 && get.call(out.data(), 8, false) == 0);
        EXPECT_EQ(get.s.totalBytes + put.s.totalBytes, over ? 8u : 0x400008u);
        if (!over) {
            EXPECT_EQ(std::memcmp(copy.data, data.data(), 0x200000), 0);
            std::free(copy.data);
            continue;
        }
        EXPECT_EQ(copy.data, reinterpret_cast<uint64_t *>(0x40));
        EXPECT_EQ(capture.messages(), (Messages{"Test for \"1\"was true: \"Exceed size\"",
                                                "Test for \"s->totalBytesOfMember>0x200000\"was "
                                                "true: \"member length is unexpected\""}));
        EXPECT_EQ(capture.site(1), (std::vector<uint32_t>{0x000103E8u, 0, 0}));
    }
}
