// The protocol engine: runs one operation at a time, transfer by transfer, and says what the link
// must do next. It holds what outlives an operation (whether the bus is held, the poll budget,
// the exchange count), so that a driver keeps one engine per board.
//
// A stop asked by the driver (Ctrl-C, a Cancel button) is taken between two transfers, never
// inside one, and not before a transfer marked whole nor before a bus release: the bus is given
// back if it is held, and the operation fails as Stopped.
#pragma once

#include <cstdint>

#include "core/link_step.h"
#include "core/transfer.h"

namespace core {

class Operation {
  public:
    enum class Next { Transfer, Complete, Failed };
    virtual ~Operation() = default;
    // The next transfer into order, or Complete; Failed, with failure set, when the operation
    // cannot go on (a source or sink failed, a verify found a difference).
    virtual Next NextTransfer(TransferOrder& order, Failure& failure) = 0;
    // Bytes of the operation done so far, for a progress bar.
    virtual uint64_t done() const { return 0; }
};

class Engine {
  public:
    explicit Engine(uint32_t pollLimitMs) : pollLimitMs_(pollLimitMs) {}

    void Start(Operation& operation);
    // Stop before the next transfer that may be stopped. A stop asked as an operation ends (in
    // its last transfer, which is not stopped) is taken in the next one: a run of several
    // operations stops as a whole.
    void AskStop() { stopAsked_ = true; }
    // For a driver whose stops are of one operation alone (the page's Cancel of one job): the
    // stop no transfer took is forgotten.
    void ForgetStop() { stopAsked_ = false; }
    LinkStep Next(uint64_t nowMs);
    void Sent(bool written) { transfer_.Sent(written); }
    void Fetched(const uint8_t* report) { transfer_.Fetched(report); }

    const Failure& failure() const { return failure_; }
    bool busHeld() const { return transfer_.busHeld(); }
    // Between Start and the Done or Failed that ends the operation.
    bool running() const { return phase_ != Phase::Done && phase_ != Phase::Failed; }
    uint64_t exchanges() const { return transfer_.exchanges(); }

  private:
    enum class Phase { Choosing, Transferring, Releasing, Done, Failed };
    LinkStep Choose(uint64_t nowMs);
    LinkStep Fail(const Failure& failure);

    uint32_t pollLimitMs_;
    Operation* operation_ = nullptr;
    Phase phase_ = Phase::Done;
    bool stopAsked_ = false;
    Transfer transfer_;
    Failure failure_;
};

}  // namespace core
