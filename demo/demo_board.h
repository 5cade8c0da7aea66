// The demo board: the simulated kelm board, its flash kept in kelm-demo-flash.bin beside the
// program, its reports paced like a USB link.
#pragma once

#include "sim/board.h"

// Created by StartDemoBoard and never deleted: the board lives as long as the process. Set on
// the dialog thread at start-up, before any other thread exists.
extern sim::Board* DemoBoard;

// Sets the board up from the flash file, or creates the file with the sample flash. When the
// file cannot be used it shows why and ends the process: the program is then still at its
// first step and holds nothing.
void StartDemoBoard();

// Closes the flash file; the board stays, unplugged, until the process ends.
void StopDemoBoard();

// The two lines of text that the board sends as input reports once a host listens.
void SendDemoGreeting();
