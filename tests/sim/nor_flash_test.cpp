#include "sim/nor_flash.h"

#include <gtest/gtest.h>

#include <vector>

namespace sim::detail {
namespace {

TEST(NorFlashTest, ProgrammingOnlyClearsBits) {
    struct Case {
        uint8_t old, programmed, expected;
    };
    const Case cases[] = {
        {0xFF, 0x5A, 0x5A},  // erased cell takes the value
        {0x5A, 0xFF, 0x5A},  // programming 0xFF changes nothing
        {0x0F, 0xF0, 0x00},  // no bit comes back to 1
        {0xA5, 0x3C, 0x24}, {0x00, 0xFF, 0x00},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> flash(4, c.old);
        EXPECT_EQ(NorProgram(flash, 1, &c.programmed, 1), 1u);
        EXPECT_EQ(flash[1], c.expected) << int{c.old} << " & " << int{c.programmed};
        EXPECT_EQ(flash[0], c.old);
        EXPECT_EQ(flash[2], c.old);
    }
}

TEST(NorFlashTest, EraseSetsOnlyTheRangeToFF) {
    std::vector<uint8_t> flash(8, 0x00);
    NorErase(flash, 2, 4);
    EXPECT_EQ(flash, (std::vector<uint8_t>{0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}));
}

TEST(NorFlashTest, ProgramPastTheEndDropsTheRest) {
    std::vector<uint8_t> flash(4, 0xFF);
    const uint8_t bytes[] = {1, 2, 3};
    EXPECT_EQ(NorProgram(flash, 2, bytes, 3), 2u);
    EXPECT_EQ(flash, (std::vector<uint8_t>{0xFF, 0xFF, 1, 2}));
    EXPECT_EQ(NorProgram(flash, 4, bytes, 3), 0u);
    EXPECT_EQ(NorProgram(flash, 100, bytes, 3), 0u);
}

TEST(NorFlashTest, ReadPastTheEndFloatsHigh) {
    const std::vector<uint8_t> flash = {1, 2, 3};
    uint8_t out[4] = {};
    NorRead(flash, 1, out, 4);
    EXPECT_EQ(out[0], 2);
    EXPECT_EQ(out[1], 3);
    EXPECT_EQ(out[2], 0xFF);
    EXPECT_EQ(out[3], 0xFF);
}

}  // namespace
}  // namespace sim::detail
