// Failures in plain words.
#include <cstdio>
#include <string>

#include "core/flash_layout.h"
#include "core/link_step.h"

namespace core {

namespace {

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*x", digits, value);
    return text;
}

std::string Limit(uint32_t ms) {
    if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
    return std::to_string(ms) + " ms";
}

std::string Slot(uint32_t address) { return std::to_string(address / kSlotSize); }

}  // namespace

std::string DescribeAddress(uint32_t address) {
    return "slot " + Slot(address) + " offset " + Hex(address % kSlotSize, 4);
}

std::string Describe(const Failure& failure) {
    switch (failure.kind) {
        case FailureKind::NotTaken:
            return "the board did not take " + failure.what +
                   " (the link failed; is it still plugged in?)";
        case FailureKind::NoStatus:
            return "the board did not answer a status query during " + failure.what;
        case FailureKind::PollTimedOut:
            return "the board did not finish " + failure.what + " within " +
                   Limit(failure.pollLimitMs);
        case FailureKind::BusBusy:
            return "the board's bus is busy (held by the machine it is fitted to); try again later";
        case FailureKind::NoReadAnswer:
            return "the board did not answer CMD_READ at slot " + Slot(failure.address);
        case FailureKind::DataNotTaken:
            return "the board did not take a data report at slot " + Slot(failure.address);
        case FailureKind::Mismatch:
            return "verify failed: first difference at " + DescribeAddress(failure.address) +
                   ": flash holds " + Hex(failure.found, 2) + ", expected " +
                   Hex(failure.expected, 2);
        case FailureKind::Source:
            return "the bytes to send could not be read";
        case FailureKind::Sink:
            return "the bytes read could not be kept";
        case FailureKind::Stopped:
        default:
            return "stopped";
    }
}

}  // namespace core
