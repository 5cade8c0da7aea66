// Erasing and transfers past the end of the flash are tested through the board's reports.
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
        {0xA5, 0x3C, 0x24},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> flash(3, c.old);
        EXPECT_EQ(NorProgram(flash, 1, &c.programmed, 1), 1u);
        EXPECT_EQ(flash, (std::vector<uint8_t>{c.old, c.expected, c.old}))
            << int{c.old} << " & " << int{c.programmed};
    }
}

}  // namespace
}  // namespace sim::detail
