// kelmtool's driver of the protocol engine (core/): a blocking loop that carries the engine's
// reports over a link, gives it the clock, and turns how an operation ended into an outcome
// naming what failed. One session per board: the engine in it knows whether the bus is held.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "board_link.h"
#include "core/engine.h"
#include "outcome.h"
#include "progress.h"

class BoardSession {
  public:
    // The signal that asks the session to stop, or 0 (see interrupt.h).
    using StopSignal = std::function<int()>;

    // pollLimit bounds each status poll (erase, bus request, bus release); the window waits for
    // ever, a script must not. stop is asked between transfers: when it names a signal, the
    // engine stops before the next transfer that may be stopped, gives the bus back if it is
    // held, and the operation fails with the signal's exit code, saying nothing was changed (a
    // command that did change something says what).
    BoardSession(BoardLink& link, std::chrono::milliseconds pollLimit, StopSignal stop = {});

    Outcome TakeBus();
    Outcome ReleaseBus();
    Outcome EraseBank(int bank);
    // length bytes from a linear flash address, in CMD_READ transfers that never cross a bank.
    Outcome Read(uint32_t address, uint8_t* out, uint32_t length);
    // One CMD_WRITE of 1 to 32768 bytes at a linear address, inside one bank, and its data
    // reports.
    Outcome WriteSpan(uint32_t address, const uint8_t* data, uint32_t length);

    // Runs an operation to its end, advancing progress (if given) as it goes. A failure of the
    // operation's own source or sink comes back as Failed with no message: its driver knows why.
    Outcome Run(core::Operation& operation, Progress* progress = nullptr);
    // How the last operation that failed ended.
    const core::Failure& failure() const { return engine_.failure(); }

    BoardLink& link() { return link_; }

  private:
    Outcome Ended();

    BoardLink& link_;
    StopSignal stop_;
    core::Engine engine_;
    int signal_ = 0;  // the stop delivered to the engine
};

// A failure in the words kelmtool uses: the engine's, and for a poll the option that bounds it.
std::string Words(core::FailureKind kind, const std::string& described);
