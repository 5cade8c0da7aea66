// The board's command protocol: report layouts, command codes and the short commands.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "core/report_layout.h"

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

// Each returns true on success, false after showing its own message.
bool GetStatus(FeatureReport& answer);
bool ResetBoard();
bool EraseBank(int bank);  // only the low byte of bank is sent
bool GetBus();
bool ReleaseBus();
