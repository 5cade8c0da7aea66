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

// A 256-byte slot header: magic, name, reserved 0, size big-endian.
std::vector<uint8_t> SlotHeaderBytes(const char (&magic)[4], const std::string& name,
                                     uint32_t size);
// Deterministic bytes without runs that could hide an offset.
std::vector<uint8_t> PatternBytes(size_t length, uint32_t seed);
// An application of `slots` slots at `slot`: header, then pattern bytes to the end of its run.
void LayApplication(sim::Board& board, int slot, int slots);
// A file of pattern bytes in the world's folder; returns its path ("" when it failed).
std::string WritePatternFile(const World& world, const std::string& name, size_t length);
// A file's bytes ("" and empty when it cannot be read).
std::vector<uint8_t> ReadWholeFile(const std::string& path);
