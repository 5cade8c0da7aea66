// The byte layout of command reports: the part of the command protocol that needs no board
// and no stand-in, so that it also runs in the Windows build, under Wine.
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <type_traits>

#include "device/command_protocol.h"

namespace {

static_assert(std::tuple_size<OutputReport>::value == 65, "report ID 0 and 64 bytes");
static_assert(std::is_same<OutputReport, FeatureReport>::value, "one shape for both");

void ExpectZeroBut(const OutputReport& report, std::initializer_list<size_t> named) {
    for (size_t i = 0; i < report.size(); ++i) {
        bool isNamed = false;
        for (size_t at : named) isNamed = isNamed || at == i;
        if (!isNamed) {
            EXPECT_EQ(report[i], 0) << "byte " << i;
        }
    }
}

TEST(CommandReport, CarriesOnlyItsCommandCode) {
    for (CommandCode code : {CMD_RESET, CMD_ERASE, CMD_WRITE, CMD_READ, CMD_GET_STATUS, CMD_BUS}) {
        const OutputReport report = MakeCommandReport(code);
        EXPECT_EQ(report[kReportIdByte], 0);
        EXPECT_EQ(report[kCommandByte], code);
        ExpectZeroBut(report, {kCommandByte});
    }
}

TEST(FlashAddress, BankThenOffsetBigEndian) {
    const struct {
        FlashAddress address;
        uint8_t bank, high, low;
    } cases[] = {
        {{0, 0x0000}, 0, 0x00, 0x00},     {{31, 0xFFFF}, 31, 0xFF, 0xFF},
        {{2, 0x8000}, 2, 0x80, 0x00},     {{7, 0x1234}, 7, 0x12, 0x34},
        {{255, 0x00FF}, 255, 0x00, 0xFF},
    };
    for (const auto& c : cases) {
        OutputReport report = MakeCommandReport(CMD_READ);
        PutFlashAddress(report, c.address);
        EXPECT_EQ(report[kBankByte], c.bank);
        EXPECT_EQ(report[kOffsetHighByte], c.high) << c.address.offset;
        EXPECT_EQ(report[kOffsetLowByte], c.low) << c.address.offset;
        EXPECT_EQ(report[kCommandByte], CMD_READ) << "the command stays";
        ExpectZeroBut(report, {kCommandByte, kBankByte, kOffsetHighByte, kOffsetLowByte});
    }
}

TEST(FlashAddress, OverwritesAnEarlierAddress) {
    OutputReport report = MakeCommandReport(CMD_WRITE);
    PutFlashAddress(report, {31, 0xFFFF});
    PutFlashAddress(report, {1, 0x0002});
    EXPECT_EQ(report[kBankByte], 1);
    EXPECT_EQ(report[kOffsetHighByte], 0);
    EXPECT_EQ(report[kOffsetLowByte], 2);
}

}  // namespace
