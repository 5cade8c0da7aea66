// The board as kelmtool reaches it: one 65-byte output report written, one 65-byte feature
// report fetched, one 9-byte input report read, whatever carries them (hidapi, Win32 HID or the
// simulated board).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/report_layout.h"

enum class InputRead { Report, Timeout, Failed };

class BoardLink {
  public:
    virtual ~BoardLink() = default;
    // report[0] is the report ID 0. False when the report could not be written.
    virtual bool WriteReport(const uint8_t* report) = 0;
    // Fetches feature report 0 into report (kReportSize bytes, byte 0 the report ID).
    virtual bool GetFeature(uint8_t* report) = 0;
    // One input report into report (kInputReportSize bytes, byte 0 the report ID).
    virtual InputRead ReadInput(uint8_t* report, int timeoutMs) = 0;
};

// A board found by enumeration, or a simulated one.
struct BoardListing {
    std::string path;
    std::string serial;
    std::string simFile;  // the simulated board's flash file; empty for a board on USB
    bool openable = false;
    std::string problem;  // why it cannot be opened
};
