// What the protocol engine asks of whoever carries its reports, and how an operation ends when
// it fails. The engine does no I/O: a driver (kelmtool's blocking loop, the web page's async one,
// a test) sends the report it is given, fetches a feature report when asked, and hands back what
// happened.
#pragma once

#include <cstdint>
#include <string>

#include "core/report_layout.h"

namespace core {

enum class StepKind {
    Send,   // write the 65-byte output report `report`, then call Sent
    Fetch,  // fetch feature report 0 (65 bytes, byte 0 the report ID), then call Fetched
    Done,   // the operation is complete
    Failed  // the operation failed: see its Failure
};

struct LinkStep {
    StepKind kind = StepKind::Done;
    const uint8_t* report = nullptr;  // Send: kReportSize bytes, valid until the next call
};

enum class FailureKind {
    NotTaken,      // an output report was not written; what: the report's name
    NoStatus,      // a status query went unanswered; what: the wait it was part of
    PollTimedOut,  // the board did not finish what within the poll limit
    BusBusy,       // the bus is held by the machine the board is fitted to
    NoReadAnswer,  // a CMD_READ answer did not come; address: where it was reading
    DataNotTaken,  // a data report of a CMD_WRITE was not written; address: where
    Mismatch,      // a verify found address holding found where expected was wanted
    Source,        // the bytes to write or compare could not be had (the driver knows why)
    Sink,          // the bytes read could not be kept (the driver knows why)
    Stopped,       // the driver asked to stop; the bus was given back if it was held
};

struct Failure {
    FailureKind kind = FailureKind::NotTaken;
    std::string what;
    uint32_t address = 0;
    uint8_t found = 0;
    uint8_t expected = 0;
    uint32_t pollLimitMs = 0;
    uint64_t report = 0;  // the exchange it happened at, counted from 0 in this engine's life
    // Stopped: giving the bus back failed too, and how.
    bool releaseFailed = false;
    FailureKind releaseKind = FailureKind::NotTaken;
    std::string releaseWhat;
};

// The failure in plain words ("the board did not take CMD_ERASE (the link failed; is it still
// plugged in?)"). A poll that timed out names its limit but not the option that set it, and a
// source, sink or stop is for the driver to word.
std::string Describe(const Failure& failure);

// "slot 3 offset 0x0104"
std::string DescribeAddress(uint32_t address);

}  // namespace core
