// The world a fuzz target runs the program in: the Win32 stand-in on a virtual clock, one
// simulated kelm board plugged in and opened, and a window with the status line and the 32 slot
// buttons as the main window. No GoogleTest: a broken expectation prints what broke and aborts,
// which libFuzzer reports as a crash together with the input.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/board.h"
#include "testworld/world.h"

namespace fuzzworld {

// Once per process: the DeviceLock and StopEvent of the entry point, and standard output sent
// to /dev/null (the catalogue scan prints one line per slot, which would drown libFuzzer's own
// lines and slow it down).
void Init();

// Per input: the stand-in reset, the board plugged in and idle (its flash as the target left it)
// with an empty log, HID.DLL bound, the board opened. Returns the window, which is also MainWindow.
HWND Connect(sim::Board& board);
// Closes the channel, releases HID.DLL and destroys the window; then fails when a handle or a
// device list was left open, a read was still owed after its thread ended, HID.DLL is still
// loaded, or the board saw a protocol breach.
void Disconnect(sim::Board& board, HWND window);

// Prints what broke and aborts; libFuzzer then saves the input as crash-<sha1>.
[[noreturn]] void Fail(const std::string& what);
void Check(bool condition, const std::string& what);

using testworld::BoxTexts;  // texts of the message boxes shown since Connect
using testworld::Status;    // the status line's text

// A folder of its own under /tmp for the files a target writes; removed at exit.
const std::string& TempFolder();

// Reads a little-endian number of `bytes` bytes from data at pos, zeros past the end.
uint32_t TakeNumber(const uint8_t* data, size_t size, size_t& pos, int bytes);

}  // namespace fuzzworld
