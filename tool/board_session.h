// The board's command protocol as kelmtool speaks it: the same reports as the window, but every
// status poll bounded in time, and every failure returned as an outcome naming what failed.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "board_link.h"
#include "outcome.h"

class BoardSession {
  public:
    // pollLimit bounds each status poll (erase, bus request, bus release); the window waits for
    // ever, a script must not.
    BoardSession(BoardLink& link, std::chrono::milliseconds pollLimit)
        : link_(link), pollLimit_(pollLimit) {}

    Outcome TakeBus();
    Outcome ReleaseBus();
    Outcome EraseBank(int bank);
    // length bytes from a linear flash address, in CMD_READ transfers that never cross a bank.
    Outcome Read(uint32_t address, uint8_t* out, uint32_t length);
    // One CMD_WRITE of 1 to 65535 bytes at a linear address and its data reports.
    Outcome WriteSpan(uint32_t address, const uint8_t* data, uint32_t length);

    BoardLink& link() { return link_; }

  private:
    Outcome SendCommand(uint8_t* report, const char* what);
    Outcome Status(uint8_t* answer, const char* during);
    Outcome SendBus(uint8_t argument, const char* what);
    Outcome PollTimedOut(const char* what) const;

    BoardLink& link_;
    std::chrono::milliseconds pollLimit_;
};

// A report cleared to zero with the command code set, and a flash address and length in it.
void PutCommand(uint8_t* report, uint8_t command);
void PutAddressAndLength(uint8_t* report, uint32_t address, uint32_t length);
