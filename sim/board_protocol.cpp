// The board's firmware: how it takes output reports, answers feature fetches and hands out input
// reports. Every routine here runs under the board's mutex.
#include <algorithm>
#include <cstdio>
#include <string>

#include "sim/board_state.h"
#include "sim/nor_flash.h"

namespace sim::detail {
namespace {

// Byte positions in output and feature reports (byte 0 is the report ID), the firmware's own: a
// deliberate restatement of the host's layout, so that a host mistake cannot hide in both.
constexpr size_t kCommandByte = 1;
constexpr size_t kBankByte = 2;
constexpr size_t kOffsetHigh = 3;
constexpr size_t kOffsetLow = 4;
constexpr size_t kLengthHigh = 5;
constexpr size_t kLengthLow = 6;
constexpr size_t kBusModeByte = 3;  // CMD_BUS: 1 request, 0 release
constexpr size_t kDataByte = 2;     // first data byte of a data report or read answer
constexpr size_t kStatusBusyByte = 2;
constexpr size_t kStatusBusByte = 4;
constexpr uint8_t kBusRequest = 1;
constexpr uint8_t kBusRelease = 0;
constexpr uint8_t kBusHeldBit = 0x02;  // in a busState: the other side holds the bus

const char* TransferName(Transfer transfer) {
    return transfer == Transfer::Read ? "CMD_READ" : "CMD_WRITE";
}

std::string Hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value & 0xFFFFu);
    return text;
}

void AddEvent(BoardState& state, EventKind kind, const std::string& text, size_t payload = 0) {
    if (!state.historyKept) return;
    Event event;
    event.kind = kind;
    event.text = text;
    event.payload = payload;
    state.events.push_back(std::move(event));
}

void KeepEntry(BoardState& state, LogEntry&& entry) {
    if (state.historyKept) state.log.push_back(std::move(entry));
}

// Ends a transfer that the host left unfinished. After a failed exchange that is what a host
// does (it gives up the transfer); without one the host broke the protocol.
void AbandonTransfer(BoardState& state, const std::string& cause) {
    if (state.transfer == Transfer::None) {
        return;
    }
    if (!state.transferDisturbed) {
        AddViolation(state, std::string(TransferName(state.transfer)) + " abandoned by " + cause +
                                " with " + std::to_string(state.transferLeft) +
                                " bytes outstanding");
    }
    state.transfer = Transfer::None;
    state.transferLeft = 0;
    state.transferDisturbed = false;
}

void FailExchange(BoardState& state, LogEntry& entry, const std::string& what,
                  const std::string& reason) {
    entry.failed = true;
    AddEvent(state, EventKind::Failure, what + " failed (" + reason + ")");
    if (state.transfer != Transfer::None) {
        state.transferDisturbed = true;
    }
    // A host whose bus request or status poll failed goes on as if the bus were its own.
    if (state.hostBus != HostBus::Held) {
        state.busExcused = true;
    }
}

bool HasFault(const BoardState& state, uint64_t exchange, Fault fault) {
    const auto found = state.faults.find(exchange);
    return found != state.faults.end() &&
           std::find(found->second.begin(), found->second.end(), fault) != found->second.end();
}

// Reports go out in buffers cleared to zero, so a stray non-zero byte after the arguments
// means the host sent stale memory.
void CheckCleared(BoardState& state, const uint8_t* report, size_t from, const char* name) {
    for (size_t i = from; i < kReportSize; ++i) {
        if (report[i] != 0) {
            AddViolation(state, std::string(name) + " command report has byte " +
                                    std::to_string(i) + " = " + std::to_string(report[i]) +
                                    " (must be 0)");
            return;
        }
    }
}

void StartTransfer(BoardState& state, Transfer transfer, const uint8_t* report) {
    const size_t bank = report[kBankByte];
    const size_t offset = (size_t{report[kOffsetHigh]} << 8) | report[kOffsetLow];
    const size_t length = (size_t{report[kLengthHigh]} << 8) | report[kLengthLow];
    const char* name = TransferName(transfer);
    if (length == 0) {
        AddViolation(state, std::string(name) + " of length 0");
        return;
    }
    const size_t address = bank * kBankSize + offset;
    if (address + length > kFlashSize) {
        // The firmware streams linearly across bank ends but the part ends at 2 MB: reads past
        // it answer 0xFF and data past it is dropped.
        AddViolation(state, std::string(name) + " past the end of the flash (bank " +
                                std::to_string(bank) + " offset " + Hex4(offset) + " length " +
                                std::to_string(length) + ")");
    }
    state.transfer = transfer;
    state.transferAddress = address;
    state.transferLeft = length;
    state.transferDisturbed = false;
}

void Erase(BoardState& state, const uint8_t* report, Effects& effects) {
    const size_t bank = report[kBankByte];
    const unsigned offset = (unsigned{report[kOffsetHigh]} << 8) | report[kOffsetLow];
    if (offset != 0) {
        AddViolation(state, "CMD_ERASE with offset " + Hex4(offset) + " (must be 0)");
    }
    if (bank >= kBankCount) {
        // Refused rather than wrapped: erasing some other bank than the one named would destroy
        // data the host never meant to touch.
        AddViolation(state, "CMD_ERASE of bank " + std::to_string(bank) + " (the flash has " +
                                std::to_string(kBankCount) + " banks); nothing erased");
        return;
    }
    NorErase(state.flash, bank * kBankSize, kBankSize);
    effects.flashChanges.emplace_back(bank * kBankSize, kBankSize);
    state.eraseBusyLeft = state.eraseBusyPolls;
}

void Bus(BoardState& state, const uint8_t* report) {
    if (report[kBankByte] != 0) {
        AddViolation(state,
                     "CMD_BUS with byte 2 = " + std::to_string(report[kBankByte]) + " (must be 0)");
    }
    const uint8_t mode = report[kBusModeByte];
    if (mode != kBusRequest && mode != kBusRelease) {
        AddViolation(state, "CMD_BUS with byte 3 = " + std::to_string(mode) +
                                " (1 request, 0 release); ignored");
        return;
    }
    if (mode == kBusRequest && state.hostBus != HostBus::Held) {
        state.hostBus = HostBus::Asked;
    } else if (mode == kBusRelease) {
        state.hostBus = HostBus::Released;
    }
    state.busExcused = false;
    state.busChanging = true;
    state.busTarget = mode == kBusRequest ? kBusGranted : kBusReleased;
    state.handoverLeft = state.busHandoverPolls + ExtraHandoverPolls(state.faultLayer);
}

uint8_t NextBusAnswer(BoardState& state) {
    if (!state.scriptedBusStates.empty()) {
        const uint8_t scripted = state.scriptedBusStates.front();
        state.scriptedBusStates.pop_front();
        return scripted;
    }
    if (!state.busChanging) {
        return state.bus;
    }
    if (state.busTarget == kBusGranted && state.busHeldByOther) {
        return kBusHeldByOther;
    }
    if (state.handoverLeft > 0) {
        --state.handoverLeft;
        return state.busTarget == kBusGranted ? kBusInProgress : state.bus;
    }
    state.bus = state.busTarget;
    state.busChanging = false;
    return state.bus;
}

// What the host learns of the bus from a status answer, as the answer reached it.
void NoteBusAnswer(BoardState& state, uint8_t busState) {
    if (state.hostBus != HostBus::Asked && state.hostBus != HostBus::Refused) {
        return;
    }
    if (busState == kBusGranted) {
        state.hostBus = HostBus::Held;
    } else if ((busState & kBusHeldBit) != 0) {
        state.hostBus = HostBus::Refused;
    }
}

// The firmware serves a flash command whoever holds the bus; one sent by a host that does not
// hold it is noted. After a failed exchange the host cannot know better, and is excused.
void NoteBusLapse(BoardState& state, uint8_t command) {
    if (state.hostBus == HostBus::Held || state.busExcused) {
        return;
    }
    BusLapse lapse = BusLapse::NeverRequested;
    if (state.hostBus == HostBus::Asked) lapse = BusLapse::NotGranted;
    if (state.hostBus == HostBus::Refused) lapse = BusLapse::Refused;
    if (state.hostBus == HostBus::Released) lapse = BusLapse::Released;
    AddBusLapse(state, command, lapse);
}

void RunCommand(BoardState& state, const uint8_t* report, Effects& effects) {
    const uint8_t command = report[kCommandByte];
    switch (command) {
        case kCmdReset:
            CheckCleared(state, report, kBankByte, "CMD_RESET");
            GoAway(state, effects);
            break;
        case kCmdErase:
            CheckCleared(state, report, kOffsetLow + 1, "CMD_ERASE");
            NoteBusLapse(state, command);
            Erase(state, report, effects);
            break;
        case kCmdWrite:
            CheckCleared(state, report, kLengthLow + 1, "CMD_WRITE");
            NoteBusLapse(state, command);
            StartTransfer(state, Transfer::Write, report);
            break;
        case kCmdRead:
            CheckCleared(state, report, kLengthLow + 1, "CMD_READ");
            NoteBusLapse(state, command);
            StartTransfer(state, Transfer::Read, report);
            break;
        case kCmdGetStatus:
            // Every fetch that is not a read answer is a status answer; nothing to prepare
            // but the note that one was asked for.
            CheckCleared(state, report, kBankByte, "CMD_GET_STATUS");
            state.statusAsked = true;
            break;
        case kCmdBus:
            CheckCleared(state, report, kBusModeByte + 1, "CMD_BUS");
            Bus(state, report);
            break;
        default:
            break;
    }
}

bool IsKnownCommand(uint8_t command) {
    return command == kCmdReset || command == kCmdErase || command == kCmdWrite ||
           command == kCmdRead || command == kCmdGetStatus || command == kCmdBus;
}

void ProgramData(BoardState& state, const uint8_t* report, Effects& effects) {
    const size_t count = std::min(state.transferLeft, kPayloadSize);
    // A flaky board may take the report and program nothing; the host cannot tell.
    const bool dropped = DropData(state.faultLayer);
    const size_t landed =
        dropped ? 0 : NorProgram(state.flash, state.transferAddress, report + kDataByte, count);
    if (dropped) AddEvent(state, EventKind::Marker, "seeded: data dropped");
    if (landed > 0) {
        effects.flashChanges.emplace_back(state.transferAddress, landed);
    }
    AddEvent(state, EventKind::DataOut, "", count);
    state.transferAddress += count;
    state.transferLeft -= count;
    if (state.transferLeft == 0) {
        state.transfer = Transfer::None;
    }
}

// A read answer or a status answer, into a 65-byte buffer; true for a status answer.
bool Answer(BoardState& state, uint8_t* answer) {
    std::fill(answer, answer + kReportSize, uint8_t{0});
    if (state.transfer == Transfer::Read) {
        const size_t count = std::min(state.transferLeft, kPayloadSize);
        answer[kCommandByte] = kCmdRead;
        NorRead(state.flash, state.transferAddress, answer + kDataByte, count);
        AddEvent(state, EventKind::DataIn, "", count);
        state.transferAddress += count;
        state.transferLeft -= count;
        if (state.transferLeft == 0) {
            state.transfer = Transfer::None;
        }
        return false;
    }
    const size_t breaches = state.violations.size();
    AbandonTransfer(state, "a feature fetch");
    // The firmware keeps its status report ready at all times and answers any other fetch with
    // it, but a host that fetches what it never asked for is out of step with the board. A
    // fetch that cut a write short is a breach already.
    if (!state.statusAsked && state.violations.size() == breaches) {
        AddViolation(state, "feature fetch with no CMD_GET_STATUS or CMD_READ before it");
    }
    state.statusAsked = false;
    answer[kCommandByte] = kCmdGetStatus;
    answer[kStatusBusyByte] = state.eraseBusyLeft > 0 ? 1 : 0;
    if (state.eraseBusyLeft > 0) {
        --state.eraseBusyLeft;
    }
    answer[kStatusBusByte] = NextBusAnswer(state);
    AddEvent(state, EventKind::Status,
             DescribeStatus(answer[kStatusBusyByte], answer[kStatusBusByte]));
    return true;
}

}  // namespace

void AddViolation(BoardState& state, const std::string& text) {
    // The exchange number helps to find the report in Log(); the transcript leaves it out so
    // that it stays the same when a test adds traffic before.
    const uint64_t current = state.exchanges > 0 ? state.exchanges - 1 : 0;
    AddViolationAt(state, "exchange " + std::to_string(current), text);
}

void AddViolationAt(BoardState& state, const std::string& where, const std::string& text) {
    state.violations.push_back(where + ": " + text);
    AddEvent(state, EventKind::Violation, text);
}

void AddBusLapse(BoardState& state, uint8_t command, BusLapse lapse) {
    static const char* const kWhy[] = {"never requested", "requested, not granted yet",
                                       "refused, the other side holds it", "released"};
    const char* name = command == kCmdErase   ? "CMD_ERASE"
                       : command == kCmdWrite ? "CMD_WRITE"
                                              : "CMD_READ";
    ProtocolEvent event;
    event.exchange = state.exchanges > 0 ? state.exchanges - 1 : 0;
    event.command = command;
    event.lapse = lapse;
    event.text = "exchange " + std::to_string(event.exchange) + ": " + name + " without the bus (" +
                 kWhy[static_cast<int>(lapse)] + ")";
    // Left out of the transcript: the engineering commands take no bus by design, and their
    // golden transcripts show their traffic as it is.
    state.protocolEvents.push_back(std::move(event));
}

void ResetFirmware(BoardState& state) {
    state.transfer = Transfer::None;
    state.transferAddress = 0;
    state.transferLeft = 0;
    state.transferDisturbed = false;
    state.eraseBusyLeft = 0;
    state.bus = kBusReleased;
    state.busChanging = false;
    state.busTarget = kBusReleased;
    state.handoverLeft = 0;
    state.statusAsked = false;
    state.hostBus = HostBus::NeverAsked;
    state.busExcused = false;
}

void GoAway(BoardState& state, Effects& effects) {
    if (!state.present) {
        return;
    }
    state.present = false;
    state.inputQueue.clear();
    ResetFirmware(state);
    effects.wentAway = true;
}

bool HandleOutputReport(BoardState& state, const uint8_t* report, size_t length, uint64_t nowMs,
                        Effects& effects) {
    LogEntry entry;
    entry.exchange = state.exchanges++;
    entry.direction = Direction::Out;
    entry.timeMs = nowMs;
    if (report != nullptr) {
        entry.bytes.assign(report, report + length);
    }
    const bool isCommand = report != nullptr && length == kReportSize && report[kCommandByte] != 0;
    const std::string what = isCommand ? DescribeCommand(report)
                             : (report != nullptr && length == kReportSize) ? "data report"
                                                                            : "output report";

    if (HasFault(state, entry.exchange, Fault::Unplug) && state.present) {
        GoAway(state, effects);
        AddEvent(state, EventKind::Marker, "unplugged");
    }
    if (!state.present) {
        FailExchange(state, entry, what, "unplugged");
    } else if (HasFault(state, entry.exchange, Fault::FailWrite)) {
        FailExchange(state, entry, what, "write error");
    } else if (report == nullptr || length != kReportSize) {
        // The HID stack takes only whole 65-byte output reports.
        AddViolation(state, "output report of " + std::to_string(length) + " bytes (must be " +
                                std::to_string(kReportSize) + ")");
        FailExchange(state, entry, what, "rejected");
    } else if (report[0] != 0) {
        AddViolation(state, "output report with report ID " + std::to_string(report[0]) +
                                " (the board has no numbered reports)");
        FailExchange(state, entry, what, "rejected");
    }
    if (entry.failed) {
        KeepEntry(state, std::move(entry));
        return false;
    }

    const uint8_t command = report[kCommandByte];
    if (command == 0) {
        if (state.transfer == Transfer::Write) {
            ProgramData(state, report, effects);
        } else {
            AddViolation(state,
                         std::string("data report with no CMD_WRITE pending") +
                             (state.transfer == Transfer::Read ? " (CMD_READ pending)" : ""));
        }
    } else if (!IsKnownCommand(command)) {
        AddEvent(state, EventKind::Command, what);
        AddViolation(state, "unknown command " + std::to_string(command) + "; ignored");
    } else {
        AddEvent(state, EventKind::Command, what);
        ++state.commandCounts[command];
        AbandonTransfer(state, DescribeCommand(report));
        // A status answer is for the fetch right after the query; a new command replaces it.
        state.statusAsked = false;
        RunCommand(state, report, effects);
    }
    KeepEntry(state, std::move(entry));
    return true;
}

bool HandleFeatureFetch(BoardState& state, uint8_t* report, size_t length, uint64_t nowMs,
                        Effects& effects) {
    LogEntry entry;
    entry.exchange = state.exchanges++;
    entry.direction = Direction::Feature;
    entry.timeMs = nowMs;
    const std::string what = "feature fetch";

    if (HasFault(state, entry.exchange, Fault::Unplug) && state.present) {
        GoAway(state, effects);
        AddEvent(state, EventKind::Marker, "unplugged");
    }
    // A refused fetch leaves the answer where it was: the board never sent it.
    if (!state.present) {
        FailExchange(state, entry, what, "unplugged");
    } else if (HasFault(state, entry.exchange, Fault::RefuseFeature)) {
        FailExchange(state, entry, what, "refused");
    } else if (report == nullptr || length != kReportSize) {
        AddViolation(state, "feature fetch of " + std::to_string(length) + " bytes (must be " +
                                std::to_string(kReportSize) + ")");
        FailExchange(state, entry, what, "rejected");
    } else if (report[0] != 0) {
        AddViolation(state, "feature fetch with report ID " + std::to_string(report[0]) +
                                " (the board has no numbered reports)");
        FailExchange(state, entry, what, "rejected");
    }
    if (entry.failed) {
        KeepEntry(state, std::move(entry));
        return false;
    }

    std::array<uint8_t, kReportSize> answer{};
    const bool status = Answer(state, answer.data());
    const std::string perturbed = PerturbAnswer(state.faultLayer, answer, status);
    if (!perturbed.empty()) AddEvent(state, EventKind::Marker, "seeded: " + perturbed);
    if (status) NoteBusAnswer(state, answer[kStatusBusByte]);
    std::copy(answer.begin(), answer.end(), report);
    entry.bytes.assign(answer.begin(), answer.end());
    KeepEntry(state, std::move(entry));
    return true;
}

InputResult HandleInputTake(BoardState& state, uint8_t* report, size_t length, uint64_t nowMs) {
    LogEntry entry;
    entry.exchange = state.exchanges;
    entry.direction = Direction::In;
    entry.timeMs = nowMs;
    if (!state.present) {
        entry.failed = true;
        KeepEntry(state, std::move(entry));
        return InputResult::Gone;
    }
    if (state.inputQueue.empty()) {
        return InputResult::Empty;
    }
    if (report == nullptr || length < kInputReportSize) {
        // The report stays queued for a read with a proper buffer.
        AddViolationAt(state, "input report",
                       "input read into " + std::to_string(length) + " bytes (needs " +
                           std::to_string(kInputReportSize) + ")");
        return InputResult::Empty;
    }
    const std::array<uint8_t, 8> payload = state.inputQueue.front();
    state.inputQueue.pop_front();
    report[0] = 0;
    std::copy(payload.begin(), payload.end(), report + 1);
    entry.bytes.assign(report, report + kInputReportSize);
    KeepEntry(state, std::move(entry));
    return InputResult::Report;
}

uint8_t PeekBusState(const BoardState& state) {
    if (!state.busChanging) {
        return state.bus;
    }
    if (state.busTarget == kBusGranted && state.busHeldByOther) {
        return kBusHeldByOther;
    }
    if (state.handoverLeft > 0) {
        return state.busTarget == kBusGranted ? kBusInProgress : state.bus;
    }
    return state.busTarget;
}

}  // namespace sim::detail
