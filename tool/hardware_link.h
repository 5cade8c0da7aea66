// The real board over USB: hidapi on Linux and macOS, HID.DLL and SetupAPI on Windows. Each
// platform's source defines these two.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "board_link.h"
#include "outcome.h"

// Every kelm board attached (vendor 0x03EB, product 0x0001), and whether it can be opened.
std::vector<BoardListing> ListHardwareBoards();

// Opens the board at path: NoBoard, naming why, when it cannot be opened.
Outcome OpenHardwareBoard(const std::string& path, std::unique_ptr<BoardLink>& link);
