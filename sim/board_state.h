// The simulated board's state and the routines that act on it, shared by its source files.
// Everything here runs under the board's one mutex; nothing here calls out of the board.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sim/board.h"
#include "sim/fault_layer.h"

namespace sim::detail {

// One line of the transcript, or a run of data reports that render as one line.
enum class EventKind {
    Command,    // "> " + text
    DataOut,    // "> data xN (M bytes)" once coalesced
    DataIn,     // "< data xN (M bytes)" once coalesced
    Status,     // "< " + text
    Failure,    // "! " + text
    Violation,  // "! violation: " + text
    Marker,     // "-- " + text
};

struct Event {
    EventKind kind = EventKind::Command;
    std::string text;    // all kinds but DataOut and DataIn
    size_t payload = 0;  // DataOut and DataIn: the data bytes the report carried
};

enum class Transfer { None, Read, Write };

// The bus as the host has been told about it.
enum class HostBus {
    NeverAsked,  // no bus request since the board started or was plugged in again
    Asked,       // requested; no status answer has shown it granted yet
    Refused,     // requested; a status answer showed the other side holding it
    Held,        // requested, and a status answer showed it granted
    Released,    // given back
};

// What an exchange leaves for the board to do once its mutex is released.
struct Effects {
    std::vector<std::pair<size_t, size_t>> flashChanges;  // address, length
    bool wentAway = false;                                // call the input listener
};

struct BoardState {
    std::vector<uint8_t> flash = std::vector<uint8_t>(kFlashSize, 0xFF);
    bool present = true;

    // Firmware state: what a power cycle (Plug) forgets.
    Transfer transfer = Transfer::None;
    size_t transferAddress = 0;      // linear address of the next data byte
    size_t transferLeft = 0;         // data bytes still to come
    bool transferDisturbed = false;  // an exchange failed since the transfer began
    int eraseBusyLeft = 0;
    uint8_t bus = kBusReleased;  // the settled state
    bool busChanging = false;    // a CMD_BUS is still being carried out
    uint8_t busTarget = kBusReleased;
    int handoverLeft = 0;
    bool statusAsked = false;  // a CMD_GET_STATUS waits for its answer
    HostBus hostBus = HostBus::NeverAsked;
    bool busExcused = false;  // an exchange failed while the host did not hold the bus

    // Behaviour set by the test.
    int eraseBusyPolls = 0;
    int busHandoverPolls = 0;
    bool busHeldByOther = false;
    std::deque<uint8_t> scriptedBusStates;
    std::map<uint64_t, std::vector<Fault>> faults;
    FaultLayer faultLayer;

    std::deque<std::array<uint8_t, 8>> inputQueue;

    // History since construction or ClearLog(); the log and the events only while historyKept.
    bool historyKept = true;
    uint64_t exchanges = 0;
    std::vector<LogEntry> log;
    std::vector<Event> events;
    std::array<int, 256> commandCounts{};
    // Since construction or ClearViolations().
    std::vector<std::string> violations;
    // Since construction or ClearProtocolEvents().
    std::vector<ProtocolEvent> protocolEvents;
};

// ---- board_protocol.cpp
void ResetFirmware(BoardState& state);
// The board leaves the bus (unplugged or reset): queued input and firmware state are lost.
void GoAway(BoardState& state, Effects& effects);
bool HandleOutputReport(BoardState& state, const uint8_t* report, size_t length, uint64_t nowMs,
                        Effects& effects);
bool HandleFeatureFetch(BoardState& state, uint8_t* report, size_t length, uint64_t nowMs,
                        Effects& effects);
InputResult HandleInputTake(BoardState& state, uint8_t* report, size_t length, uint64_t nowMs);
// The busState the next status answer would carry, scripted answers aside.
uint8_t PeekBusState(const BoardState& state);
// Records a breach of the protocol by the current Out or Feature exchange.
void AddViolation(BoardState& state, const std::string& text);
void AddViolationAt(BoardState& state, const std::string& where, const std::string& text);
// Records a flash command of the current exchange that the host sent without the bus.
void AddBusLapse(BoardState& state, uint8_t command, BusLapse lapse);

// ---- board_transcript.cpp
// "GET_STATUS", "BUS request", "WRITE bank=2 offset=0x8000 length=32768"... for a command
// report of kReportSize bytes whose command byte is not 0.
std::string DescribeCommand(const uint8_t* report);
std::string DescribeStatus(uint8_t busy, uint8_t busState);
std::string RenderTranscript(const std::vector<Event>& events);

}  // namespace sim::detail
