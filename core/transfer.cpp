// One transfer with the board as a state machine.
#include "core/transfer.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "core/flash_layout.h"

namespace core {

namespace {

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

}  // namespace

void Transfer::Start(const TransferOrder& order, uint32_t pollLimitMs) {
    order_ = order;
    pollLimitMs_ = pollLimitMs;
    state_ = State::Command;
    deadlineSet_ = false;
    done_ = 0;
    answered_ = false;
    wait_.clear();
    failure_ = Failure();
}

const char* Transfer::CommandName() const {
    switch (order_.kind) {
        case TransferKind::BusRequest:
            return "the bus request (CMD_BUS)";
        case TransferKind::BusRelease:
            return "the bus release (CMD_BUS)";
        case TransferKind::Erase:
            return "CMD_ERASE";
        case TransferKind::Read:
            return "CMD_READ";
        case TransferKind::Write:
        default:
            return "CMD_WRITE";
    }
}

// What a status poll waits for, in the words of a failure.
const char* Transfer::WaitName() {
    switch (order_.kind) {
        case TransferKind::BusRequest:
            return "the bus request";
        case TransferKind::BusRelease:
            return "the bus release";
        case TransferKind::Erase:
        default:
            wait_ = "the erase of slot " + std::to_string(order_.address / kSlotSize);
            return wait_.c_str();
    }
}

LinkStep Transfer::Fail(FailureKind kind, const char* what) {
    state_ = State::Failed;
    failure_.kind = kind;
    failure_.what = what;
    failure_.pollLimitMs = pollLimitMs_;
    failure_.report = exchanges_;
    return {StepKind::Failed, nullptr};
}

LinkStep Transfer::Send() { return {StepKind::Send, report_}; }

LinkStep Transfer::Next(uint64_t nowMs) {
    switch (state_) {
        case State::Command:
            switch (order_.kind) {
                case TransferKind::BusRequest:
                case TransferKind::BusRelease:
                    PutCommand(report_, CMD_BUS);
                    report_[kBusArgumentByte] =
                        order_.kind == TransferKind::BusRequest ? kBusRequest : kBusRelease;
                    break;
                case TransferKind::Erase:
                    PutCommand(report_, CMD_ERASE);
                    report_[kBankByte] = static_cast<uint8_t>(order_.address / kSlotSize);
                    break;
                case TransferKind::Read:
                case TransferKind::Write:
                    PutCommand(report_, order_.kind == TransferKind::Read ? CMD_READ : CMD_WRITE);
                    PutAddressAndLength(report_, order_.address, order_.length);
                    break;
            }
            return Send();
        case State::StatusQuery:
            // The budget starts with the first query, once the command is on its way.
            if (!deadlineSet_) {
                deadline_ = nowMs + pollLimitMs_;
                deadlineSet_ = true;
            }
            PutCommand(report_, CMD_GET_STATUS);
            return Send();
        case State::StatusAnswer:
            if (!answered_) return {StepKind::Fetch, nullptr};
            return Judge(nowMs);
        case State::Data:
            if (order_.kind == TransferKind::Read) return {StepKind::Fetch, nullptr};
            {
                const uint32_t n = std::min<uint32_t>(order_.length - done_, kPayloadSize);
                std::memset(report_, 0, kReportSize);
                std::memcpy(report_ + kPayloadByte, order_.from + done_, n);
            }
            return Send();
        case State::Done:
            return {StepKind::Done, nullptr};
        case State::Failed:
        default:
            return {StepKind::Failed, nullptr};
    }
}

LinkStep Transfer::Judge(uint64_t nowMs) {
    answered_ = false;
    switch (order_.kind) {
        case TransferKind::BusRequest:
            if (answer_[kBusStateByte] == kBusGranted) {
                busHeld_ = true;
                state_ = State::Done;
                return {StepKind::Done, nullptr};
            }
            if ((answer_[kBusStateByte] & kBusBusyBit) != 0) return Fail(FailureKind::BusBusy, "");
            break;
        case TransferKind::BusRelease:
            if (answer_[kBusStateByte] == kBusReleased) {
                state_ = State::Done;
                return {StepKind::Done, nullptr};
            }
            break;
        case TransferKind::Erase:
        default:
            if (answer_[kBusyByte] == 0) {
                state_ = State::Done;
                return {StepKind::Done, nullptr};
            }
            break;
    }
    if (nowMs >= deadline_) return Fail(FailureKind::PollTimedOut, WaitName());
    state_ = State::StatusQuery;
    return Next(nowMs);
}

void Transfer::Sent(bool written) {
    ++exchanges_;
    switch (state_) {
        case State::Command:
            if (!written) {
                static_cast<void>(Fail(FailureKind::NotTaken, CommandName()));
                return;
            }
            // Sent: whatever the polls say, the board was told, and a stop does not send it again.
            if (order_.kind == TransferKind::BusRelease) busHeld_ = false;
            state_ = order_.kind == TransferKind::Read || order_.kind == TransferKind::Write
                         ? State::Data
                         : State::StatusQuery;
            return;
        case State::StatusQuery:
            if (!written) {
                static_cast<void>(Fail(FailureKind::NotTaken, "CMD_GET_STATUS"));
                return;
            }
            state_ = State::StatusAnswer;
            return;
        case State::Data: {
            if (!written) {
                static_cast<void>(Fail(FailureKind::DataNotTaken, ""));
                failure_.address = order_.address + done_;
                return;
            }
            done_ += std::min<uint32_t>(order_.length - done_, kPayloadSize);
            if (done_ >= order_.length) state_ = State::Done;
            return;
        }
        default:
            return;
    }
}

void Transfer::Fetched(const uint8_t* report) {
    ++exchanges_;
    if (state_ == State::StatusAnswer) {
        if (report == nullptr) {
            static_cast<void>(Fail(FailureKind::NoStatus, WaitName()));
            return;
        }
        std::memcpy(answer_, report, kReportSize);
        answered_ = true;
        return;
    }
    if (state_ != State::Data) return;
    if (report == nullptr) {
        static_cast<void>(Fail(FailureKind::NoReadAnswer, ""));
        failure_.address = order_.address + done_;
        return;
    }
    const uint32_t n = std::min<uint32_t>(order_.length - done_, kPayloadSize);
    std::memcpy(order_.into + done_, report + kPayloadByte, n);
    done_ += n;
    if (done_ >= order_.length) state_ = State::Done;
}

}  // namespace core
