// Simulated kelm board: an honest model of what the host relies on from the real one.
//
// 2 MB of NOR flash in 32 banks of 64 KB (erase sets a bank to 0xFF, programming can only clear
// bits), the command set of the board's firmware over 65-byte output and feature reports, a bus
// that is handed over to the host on request, a queue of 8-byte input reports, and a log of every
// report in both directions. Faults can be injected at any chosen report.
//
// The board knows nothing of Win32; the host stand-in (and later a demo build) routes a HID
// interface's report traffic to it. All members are safe to call from several threads.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

constexpr uint16_t kVendorId = 0x03EB;
constexpr uint16_t kProductId = 0x0001;
constexpr size_t kFlashSize = 2 * 1024 * 1024;
constexpr size_t kBankSize = 64 * 1024;
constexpr size_t kBankCount = kFlashSize / kBankSize;
constexpr size_t kReportSize = 65;      // report ID 0 + 64 bytes, output and feature reports
constexpr size_t kInputReportSize = 9;  // report ID 0 + 8 bytes
constexpr size_t kPayloadSize = 63;     // data bytes per CMD_READ / CMD_WRITE report

// Command codes and report offsets of the firmware.
constexpr uint8_t kCmdReset = 1;
constexpr uint8_t kCmdErase = 2;
constexpr uint8_t kCmdWrite = 3;
constexpr uint8_t kCmdRead = 4;
constexpr uint8_t kCmdGetStatus = 5;
constexpr uint8_t kCmdBus = 8;

// busState values answered by the firmware.
constexpr uint8_t kBusGranted = 0;
constexpr uint8_t kBusReleased = 1;
constexpr uint8_t kBusHeldByOther = 3;  // bit 0x02 set: busy
constexpr uint8_t kBusInProgress = 4;   // neither granted, released nor busy

enum class Direction {
    Out,      // an output report written by the host
    Feature,  // a feature report fetched by the host
    In,       // an input report read by the host
};

struct LogEntry {
    uint64_t exchange = 0;  // index among Out and Feature exchanges (input reports: not counted)
    Direction direction = Direction::Out;
    std::vector<uint8_t> bytes;  // as sent or as answered (empty when the exchange failed)
    bool failed = false;         // the exchange failed (fault, board gone)
    uint64_t timeMs = 0;         // the board's clock when it happened
};

enum class Fault {
    Unplug,         // this exchange fails and the board is gone from then on
    RefuseFeature,  // if this exchange is a feature fetch, it fails; the board stays
    FailWrite,      // if this exchange is an output report, it fails; the board stays
};

enum class InputResult { Report, Empty, Gone };

class Board {
  public:
    Board();  // plugged in, flash erased, bus released, idle

    // ---- flash contents
    std::vector<uint8_t> Flash() const;  // a copy of all 2 MB
    void SetFlash(size_t address, const std::vector<uint8_t>& bytes);  // direct, no NOR rules
    void FillFlash(uint8_t value);
    uint8_t FlashByte(size_t address) const;

    // ---- behaviour
    // Status answers after a CMD_ERASE report busy for this many polls (default 0).
    void SetEraseBusyPolls(int polls);
    // Status answers after a CMD_BUS report the hand-over in progress for this many polls
    // (default 0): the old state for a release, kBusInProgress for a request.
    void SetBusHandoverPolls(int polls);
    // While set, a bus request is answered with kBusHeldByOther.
    void SetBusHeldByOther(bool held);
    // busState values answered, in order, by the next status queries, before anything else.
    void ScriptBusStates(const std::vector<uint8_t>& states);
    uint8_t BusState() const;
    // Milliseconds charged to each Out or Feature exchange (default 0); the sleep callback is
    // called with it. Used for a realistic pace and for the link model of benchmarks.
    void SetReportTime(double milliseconds, std::function<void(double)> sleeper);
    // Where the board reads its clock for the log; default: always 0.
    void SetClock(std::function<uint64_t()> clock);
    // Called after every change of the flash (erase or program), with the address and length
    // changed. A demo build keeps a file in step with it.
    void SetFlashListener(std::function<void(size_t address, size_t length)> listener);

    // ---- presence and faults
    bool IsPresent() const;
    void Unplug();  // pending and future reads and writes fail
    void Plug();    // present again; protocol state reset, flash kept
    void InjectFault(uint64_t exchange, Fault fault);
    void ClearFaults();
    uint64_t ExchangeCount() const;  // Out + Feature exchanges so far

    // ---- input reports (8 bytes behind report ID 0)
    void QueueInputReport(const std::array<uint8_t, 8>& report);
    void QueueInputText(int position, const std::string& sevenChars);
    // Called whenever a report is queued or the board goes away (from the caller's thread).
    void SetInputListener(std::function<void()> listener);

    // ---- transport, called by whatever stands in for the HID stack
    bool WriteOutputReport(const uint8_t* report, size_t length);
    bool GetFeatureReport(uint8_t* report, size_t length);
    InputResult TakeInputReport(uint8_t* report, size_t length);

    // ---- history
    std::vector<LogEntry> Log() const;
    void ClearLog();
    // Protocol breaches seen (wrong report length or ID, unknown command, data report with a
    // non-zero command byte, zero-length transfer, feature fetch of the wrong size...).
    std::vector<std::string> Violations() const;
    // The log as readable text, one line per command and coalesced runs of data reports.
    std::string Transcript() const;
    // Statistics
    int CountCommands(uint8_t command) const;  // command reports (not data reports) seen

  private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

}  // namespace sim
