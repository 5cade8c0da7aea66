// A kelm board plugged in and connected, for tests of the device link and everything above it.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "sim/board.h"
#include "win32/standin.h"

// SetUp: the stand-in reset (virtual clock), the board plugged in as the only HID interface,
// HID.DLL bound, the board opened (CommandChannel valid), and a window with the status line
// (1005) and the 32 slot buttons as MainWindow. The board's log starts empty.
// TearDown: channel closed, library released; fails the test when handles were left open, a
// thread ended with a read still owed a completion, the board saw a protocol breach, or it
// served a flash command to a host without the bus.
class BoardTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    std::string Status() const;  // the status line's text
    std::vector<std::string> StatusHistory() const;
    std::vector<std::string> BoxTexts() const;  // texts of every message box so far
    // Lays out flash: writes bytes at a linear address (no NOR rules).
    void Lay(size_t address, const std::vector<uint8_t>& bytes);
    // A 256-byte header: magic, name, reserved, size (big-endian), the rest zero.
    static std::vector<uint8_t> Header(const char magic[4], const std::string& name, uint32_t size);

    sim::Board board;
    HWND window = nullptr;
    // Set by a test that sends what the firmware rejects on purpose (e.g. a bank past 31).
    bool allowViolations = false;
    // Set by a test whose flash commands go out without the bus on purpose (the engineering
    // panel's, or the transfer routines called alone), or whose bus is refused (reads of a
    // range go on all the same).
    bool allowFlashWithoutBus = false;
    bool allowReadsAfterRefusedBus = false;
};
