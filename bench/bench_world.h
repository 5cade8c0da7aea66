// The world a benchmark runs in, as after Connect: the Win32 stand-in reset with a virtual
// clock and no history kept, one simulated kelm board plugged in as the only HID interface,
// HID.DLL bound, the board opened as the CommandChannel, and a window with the status line, the
// 32 slot buttons and the flash menu's buttons as the main window. No monitor thread runs: the
// figures are the dialog thread's alone.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/board.h"
#include "testworld/world.h"

struct World {
    sim::Board* board = nullptr;
    HWND window = nullptr;
    std::string folder;       // a temporary folder of its own for images and backups
    int unexpectedBoxes = 0;  // message boxes other than the erase question
};

// Opens the world around the board (flash as it is; the slot map from a catalogue scan).
// False, with the reason on stderr, when a step failed.
bool OpenWorld(World& world, sim::Board& board);
// Closes what OpenWorld opened. Returns "" or what went wrong: handles left open, protocol
// breaches the board saw, error boxes the program showed.
std::string CloseWorld(World& world);

// Out and Feature reports the board has seen so far.
uint64_t ReportCount(const World& world);
// UpdateWindow calls on the main window so far.
int RepaintCount(const World& world);

using testworld::PatternBytes;
using testworld::ReadWholeFile;
using testworld::SlotHeaderBytes;

// An application of `slots` slots at `slot`: header, then pattern bytes to the end of its run.
void LayApplication(sim::Board& board, int slot, int slots);
// A file of pattern bytes in the world's folder; returns its path ("" when it failed).
std::string WritePatternFile(const World& world, const std::string& name, size_t length);
