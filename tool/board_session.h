// The board's command protocol as kelmtool speaks it: the same reports as the window, but every
// status poll bounded in time, and every failure returned as an outcome naming what failed.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "board_link.h"
#include "outcome.h"

class BoardSession {
  public:
    // The signal that asks the session to stop, or 0 (see interrupt.h).
    using StopSignal = std::function<int()>;

    // pollLimit bounds each status poll (erase, bus request, bus release); the window waits for
    // ever, a script must not. stop is asked before every transfer begins (a bus request, an
    // erase, a read, a write): when it names a signal, the bus is given back if it is held and
    // the transfer fails with the signal's exit code, saying nothing was changed (a command that
    // did change something says what).
    BoardSession(BoardLink& link, std::chrono::milliseconds pollLimit, StopSignal stop = {})
        : link_(link), pollLimit_(pollLimit), stop_(std::move(stop)) {}

    // While one lives, no transfer is refused for a stop: what it guards is written whole.
    class Uninterrupted {
      public:
        explicit Uninterrupted(BoardSession& session) : session_(session) { ++session_.holds_; }
        ~Uninterrupted() { --session_.holds_; }
        Uninterrupted(const Uninterrupted&) = delete;
        Uninterrupted& operator=(const Uninterrupted&) = delete;

      private:
        BoardSession& session_;
    };

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
    Outcome Checkpoint();

    BoardLink& link_;
    std::chrono::milliseconds pollLimit_;
    StopSignal stop_;
    int holds_ = 0;         // Uninterrupted scopes alive
    bool busHeld_ = false;  // granted and not yet given back
};

// A report cleared to zero with the command code set, and a flash address and length in it.
void PutCommand(uint8_t* report, uint8_t command);
void PutAddressAndLength(uint8_t* report, uint32_t address, uint32_t length);
