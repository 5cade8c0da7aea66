// The board's command protocol: report layouts, command codes and the short commands.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>

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
constexpr size_t kBusyByte = 2;      // status answer: non-zero while an erase runs
constexpr size_t kBusStateByte = 4;  // status answer: see below

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

using OutputReport = std::array<uint8_t, kReportSize>;
using FeatureReport = std::array<uint8_t, kReportSize>;

// Where a flash command acts: a 64 KB bank and a byte offset inside it.
struct FlashAddress {
    uint8_t bank;
    uint16_t offset;
};

// Puts bank and offset (big-endian) into bytes 2-4 of a command report.
void PutFlashAddress(OutputReport& report, FlashAddress address);
// A command report cleared to zero with the command code set.
OutputReport MakeCommandReport(CommandCode command);
// One synchronous 65-byte write on the command channel; true on success.
bool SendReport(const OutputReport& report);
// One feature fetch into the buffer, report ID 0 requested; true on success.
bool FetchFeature(FeatureReport& answer);

// Each returns 1 on success, 0 after showing its own message.
int GetStatus(FeatureReport& answer);
int ResetBoard();
int EraseBank(int bank);  // only the low byte of bank is sent
int GetBus();
int ReleaseBus();
