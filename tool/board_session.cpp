// The board's command protocol as kelmtool speaks it, every status poll bounded in time.
#include "board_session.h"

#include <algorithm>
#include <cstring>

#include "catalogue/flash_layout.h"
#include "interrupt.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string Seconds(std::chrono::milliseconds limit) {
    const auto ms = limit.count();
    if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
    return std::to_string(ms) + " ms";
}

}  // namespace

void PutCommand(uint8_t* report, uint8_t command) {
    std::memset(report, 0, kReportSize);
    report[kCommandByte] = command;
}

void PutAddressAndLength(uint8_t* report, uint32_t address, uint32_t length) {
    report[kBankByte] = static_cast<uint8_t>(address / kSlotSize);
    report[kOffsetHighByte] = static_cast<uint8_t>((address % kSlotSize) >> 8);
    report[kOffsetLowByte] = static_cast<uint8_t>(address % kSlotSize);
    report[kLengthHighByte] = static_cast<uint8_t>(length >> 8);
    report[kLengthLowByte] = static_cast<uint8_t>(length);
}

Outcome BoardSession::SendCommand(uint8_t* report, const char* what) {
    if (link_.WriteReport(report)) return {};
    return Outcome::Fail(ExitCode::Failed, std::string("the board did not take ") + what +
                                               " (the link failed; is it still plugged in?)");
}

Outcome BoardSession::Status(uint8_t* answer, const char* during) {
    uint8_t report[kReportSize];
    PutCommand(report, CMD_GET_STATUS);
    KELM_TRY(SendCommand(report, "CMD_GET_STATUS"));
    std::memset(answer, 0, kReportSize);
    if (link_.GetFeature(answer)) return {};
    return Outcome::Fail(ExitCode::Failed,
                         std::string("the board did not answer a status query during ") + during);
}

Outcome BoardSession::PollTimedOut(const char* what) const {
    return Outcome::Fail(ExitCode::Failed, std::string("the board did not finish ") + what +
                                               " within " + Seconds(pollLimit_) + " (--timeout)");
}

Outcome BoardSession::SendBus(uint8_t argument, const char* what) {
    uint8_t report[kReportSize];
    PutCommand(report, CMD_BUS);
    report[kBusArgumentByte] = argument;
    return SendCommand(report, what);
}

Outcome BoardSession::Checkpoint() {
    const int signal = stop_ && holds_ == 0 ? stop_() : 0;
    if (signal == 0) return {};
    // Asked once: the release below and any clean-up after it run to their end.
    stop_ = {};
    if (busHeld_) {
        const Outcome released = ReleaseBus();
        if (!released.ok()) {
            return Outcome::Fail(InterruptCode(signal),
                                 "interrupted: nothing was changed, but " + released.message());
        }
    }
    return Outcome::Fail(InterruptCode(signal), "interrupted: nothing was changed");
}

Outcome BoardSession::TakeBus() {
    constexpr char kWhat[] = "the bus request";
    KELM_TRY(Checkpoint());
    KELM_TRY(SendBus(kBusRequest, "the bus request (CMD_BUS)"));
    const Clock::time_point deadline = Clock::now() + pollLimit_;
    uint8_t answer[kReportSize];
    for (;;) {
        KELM_TRY(Status(answer, kWhat));
        const uint8_t state = answer[kBusStateByte];
        if (state == kBusGranted) {
            busHeld_ = true;
            return {};
        }
        if ((state & kBusBusyBit) != 0) {
            return Outcome::Fail(ExitCode::Failed,
                                 "the board's bus is busy (held by the machine it is fitted to); "
                                 "try again later");
        }
        if (Clock::now() >= deadline) return PollTimedOut(kWhat);
    }
}

Outcome BoardSession::ReleaseBus() {
    constexpr char kWhat[] = "the bus release";
    KELM_TRY(SendBus(kBusRelease, "the bus release (CMD_BUS)"));
    // Sent: whatever the polls say, the board was told, and a stop does not send it again.
    busHeld_ = false;
    const Clock::time_point deadline = Clock::now() + pollLimit_;
    uint8_t answer[kReportSize];
    for (;;) {
        KELM_TRY(Status(answer, kWhat));
        if (answer[kBusStateByte] == kBusReleased) return {};
        if (Clock::now() >= deadline) return PollTimedOut(kWhat);
    }
}

Outcome BoardSession::EraseBank(int bank) {
    KELM_TRY(Checkpoint());
    const std::string what = "the erase of slot " + std::to_string(bank);
    uint8_t report[kReportSize];
    PutCommand(report, CMD_ERASE);
    report[kBankByte] = static_cast<uint8_t>(bank);
    KELM_TRY(SendCommand(report, "CMD_ERASE"));
    const Clock::time_point deadline = Clock::now() + pollLimit_;
    uint8_t answer[kReportSize];
    for (;;) {
        KELM_TRY(Status(answer, what.c_str()));
        if (answer[kBusyByte] == 0) return {};
        if (Clock::now() >= deadline) return PollTimedOut(what.c_str());
    }
}

Outcome BoardSession::Read(uint32_t address, uint8_t* out, uint32_t length) {
    while (length > 0) {
        // A transfer stays inside its bank and within the 16-bit length.
        const uint32_t bankLeft = kSlotSize - address % kSlotSize;
        const uint32_t piece = std::min({length, bankLeft, kChunkSize});
        KELM_TRY(Checkpoint());
        uint8_t report[kReportSize];
        PutCommand(report, CMD_READ);
        PutAddressAndLength(report, address, piece);
        KELM_TRY(SendCommand(report, "CMD_READ"));
        for (uint32_t done = 0; done < piece;) {
            uint8_t answer[kReportSize] = {};
            if (!link_.GetFeature(answer)) {
                return Outcome::Fail(ExitCode::Failed,
                                     "the board did not answer CMD_READ at slot " +
                                         std::to_string((address + done) / kSlotSize));
            }
            const uint32_t n = std::min<uint32_t>(piece - done, kPayloadSize);
            std::memcpy(out + done, answer + kPayloadByte, n);
            done += n;
        }
        out += piece;
        address += piece;
        length -= piece;
    }
    return {};
}

Outcome BoardSession::WriteSpan(uint32_t address, const uint8_t* data, uint32_t length) {
    KELM_TRY(Checkpoint());
    uint8_t report[kReportSize];
    PutCommand(report, CMD_WRITE);
    PutAddressAndLength(report, address, length);
    KELM_TRY(SendCommand(report, "CMD_WRITE"));
    for (uint32_t done = 0; done < length;) {
        const uint32_t n = std::min<uint32_t>(length - done, kPayloadSize);
        std::memset(report, 0, kReportSize);
        std::memcpy(report + kPayloadByte, data + done, n);
        if (!link_.WriteReport(report)) {
            return Outcome::Fail(ExitCode::Failed,
                                 "the board did not take a data report at slot " +
                                     std::to_string((address + done) / kSlotSize));
        }
        done += n;
    }
    return {};
}
