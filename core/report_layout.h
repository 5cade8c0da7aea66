// The board's report layouts and command codes: plain constants, shared by the window program
// and the command-line tool.
#pragma once

#include <cstddef>
#include <cstdint>

// The board's USB identity.
constexpr uint16_t kBoardVendorId = 0x03EB;
constexpr uint16_t kBoardProductId = 0x0001;

constexpr size_t kReportSize = 65;  // report ID 0 + 64 bytes

// Byte offsets inside an OutputReport / FeatureReport.
constexpr size_t kReportIdByte = 0;
constexpr size_t kCommandByte = 1;
constexpr size_t kBankByte = 2;
constexpr size_t kOffsetHighByte = 3;
constexpr size_t kOffsetLowByte = 4;
constexpr size_t kLengthHighByte = 5;
constexpr size_t kLengthLowByte = 6;
constexpr size_t kBusArgumentByte = 3;  // CMD_BUS: 1 requests the bus, 0 releases it
constexpr size_t kPayloadByte = 2;      // data reports and CMD_READ answers
constexpr size_t kPayloadSize = 63;
constexpr size_t kBusyByte = 2;                 // status answer: non-zero while an erase runs
constexpr size_t kBusStateByte = 4;             // status answer: see below
constexpr uint32_t kMaxTransferLength = 65535;  // the 16-bit length of CMD_READ and CMD_WRITE

// busState values of a status answer.
constexpr uint8_t kBusGranted = 0;
constexpr uint8_t kBusReleased = 1;
constexpr uint8_t kBusBusyBit = 0x02;  // held by the other side
constexpr uint8_t kBusRequest = 1;
constexpr uint8_t kBusRelease = 0;

enum CommandCode : uint8_t {
    CMD_RESET = 1,
    CMD_ERASE = 2,
    CMD_WRITE = 3,
    CMD_READ = 4,
    CMD_GET_STATUS = 5,
    CMD_BUS = 8,
};

// Input reports: report ID, a position in the two-line text, and up to 7 characters.
constexpr size_t kInputReportSize = 9;
constexpr size_t kInputPositionByte = 1;
constexpr size_t kInputTextByte = 2;
constexpr size_t kInputPieceSize = 7;
