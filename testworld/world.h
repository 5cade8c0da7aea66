// The one world that the tests, the fuzz targets and the benchmarks run the program in: the
// Win32 stand-in on a virtual clock, a simulated kelm board plugged in as the only HID
// interface, and a window with the status line and the 32 slot buttons as MainWindow. Plain
// C++ without GoogleTest, so that the fuzz targets and the benchmarks can link it too; each
// caller turns what goes wrong into its own kind of failure.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/board.h"

namespace testworld {

// The shape of a real HID interface path of the board.
constexpr char kBoardPath[] =
    "\\\\?\\hid#vid_03eb&pid_0001#6&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";

// The stand-in forgets everything (windows, handles, HID interfaces, boxes) and runs on its
// virtual clock.
void ResetStandin();
// The board as the only HID interface, at kBoardPath.
void PlugIn(sim::Board& board);

// Which buttons the window has besides the status line and the slot buttons.
enum class Buttons { SlotsOnly, WithFlashMenu };
// Creates the window with the status line (1005, "Not connected to kelm") and the 32 slot
// buttons, and with Write, Read, Erase and Abort when asked; it becomes MainWindow, the progress
// counter starts at 0.
HWND OpenMainWindow(Buttons buttons);
// Binds HID.DLL and opens the board as the CommandChannel. Returns "" or the step that failed.
std::string OpenBoardLink();
// Closes the CommandChannel, releases HID.DLL and destroys the window (when there is one);
// MainWindow is then null and window too.
void CloseBoardLinkAndWindow(HWND& window);

// What the program left behind, one line each: handles beyond those meant to stay open, reads
// still owed a completion after their thread ended, device information lists, HID.DLL loaded.
std::vector<std::string> LeftBehind(int handlesMeantOpen);

// What a run makes the board see on purpose.
struct ProtocolAllowance {
    bool violations = false;            // reports the firmware rejects (e.g. a bank past 31)
    bool flashWithoutBus = false;       // flash commands without the bus: the engineering
                                        // panel's, or the transfer routines called alone
    bool readsAfterRefusedBus = false;  // reads that go on after the bus was refused, as the
                                        // catalogue scan's do
};
// What the board saw of the host that the allowance does not cover, one line each: breaches of
// the protocol, and flash commands sent without the bus.
std::vector<std::string> ProtocolFaults(const sim::Board& board, const ProtocolAllowance& allowed);

std::string Status(HWND window);      // the status line's text
std::vector<std::string> BoxTexts();  // texts of every message box so far

// A 256-byte slot header: magic (4 bytes), name (cut so that it keeps its zero), reserved 0,
// size big-endian.
std::vector<uint8_t> SlotHeaderBytes(const char* magic, const std::string& name, uint32_t size);
// Deterministic bytes without runs of equal bytes that could hide an offset.
std::vector<uint8_t> PatternBytes(size_t length, uint32_t seed);

// A new folder under /tmp named from prefix ("/tmp/<prefix>_XXXXXX"); "" when none was made.
std::string MakeTempFolder(const std::string& prefix);
// A file's bytes; empty when it cannot be read.
std::vector<uint8_t> ReadWholeFile(const std::string& path);

}  // namespace testworld
