// One transfer with the board, as a state machine that says which report goes next: a bus
// request or release, an erase, a CMD_READ of up to one chunk, or a CMD_WRITE and its data
// reports. Status polls are bounded by a budget that the driver's clock spends.
#pragma once

#include <cstdint>

#include "core/link_step.h"

namespace core {

enum class TransferKind { BusRequest, BusRelease, Erase, Read, Write };

struct TransferOrder {
    TransferKind kind = TransferKind::BusRequest;
    uint32_t address = 0;           // Erase: a slot's start; Read, Write: a linear address
    uint32_t length = 0;            // Read, Write: 1 to kChunkSize bytes, never past the bank's end
    uint8_t* into = nullptr;        // Read
    const uint8_t* from = nullptr;  // Write
    // No stop is taken before it: what it writes must land whole (a header half written would
    // claim an image of any size).
    bool whole = false;
};

class Transfer {
  public:
    void Start(const TransferOrder& order, uint32_t pollLimitMs);
    // The next step; Done or Failed when the transfer is over. nowMs is the driver's clock.
    LinkStep Next(uint64_t nowMs);
    void Sent(bool written);
    void Fetched(const uint8_t* report);  // nullptr: the fetch failed
    const Failure& failure() const { return failure_; }
    // Whether the last bus request was granted and no release was sent since.
    bool busHeld() const { return busHeld_; }
    uint64_t exchanges() const { return exchanges_; }

  private:
    enum class State { Command, StatusQuery, StatusAnswer, Data, Done, Failed };
    LinkStep Send();
    LinkStep Fail(FailureKind kind, const char* what);
    LinkStep Judge(uint64_t nowMs);
    const char* CommandName() const;
    const char* WaitName();

    TransferOrder order_;
    uint32_t pollLimitMs_ = 0;
    State state_ = State::Done;
    bool deadlineSet_ = false;
    uint64_t deadline_ = 0;
    uint32_t done_ = 0;  // data bytes sent or received
    bool answered_ = false;
    bool busHeld_ = false;
    uint64_t exchanges_ = 0;
    uint8_t report_[kReportSize] = {};
    uint8_t answer_[kReportSize] = {};
    std::string wait_;
    Failure failure_;
};

}  // namespace core
