// Simulated kelm board: an honest model of what the host relies on from the real one.
//
// 2 MB of NOR flash in 32 banks of 64 KB (erase sets a bank to 0xFF, programming can only clear
// bits), the command set of the board's firmware over 65-byte output and feature reports, a bus
// that is handed over to the host on request, a queue of 8-byte input reports, and a log of every
// report in both directions. Faults can be injected at any chosen report.
//
// The board knows nothing of Win32; the host stand-in, the demo build (demo/demo_link.cpp) and
// kelmtool's --sim link route a HID interface's report traffic to it. All members are safe to call
// from several threads; the board holds one mutex and never holds it while it calls a listener, the
// sleeper or the clock.
//
// Choices of this board where the host's side leaves it open:
// - A feature fetch with no CMD_READ data pending is answered with the status (byte 1 = 5,
//   byte 2 busy, byte 4 busState). Read answers carry 4 in byte 1. All other bytes of an answer
//   are 0. A status answer belongs to the fetch right after a CMD_GET_STATUS: a fetch with
//   neither a CMD_GET_STATUS nor CMD_READ data before it is still answered, and is a violation.
// - A new command ends a pending CMD_READ or CMD_WRITE. That is a violation unless an exchange
//   failed since the transfer began (a host that gives up after a failure does just this).
// - CMD_ERASE of a bank >= 32 erases nothing and is a violation. CMD_READ / CMD_WRITE stream
//   linearly across bank ends; a range running past 2 MB is a violation, and reads there
//   answer 0xFF while writes there are dropped.
// - Command reports must carry 0 in every byte their command does not name (the host builds
//   them in cleared buffers); a stray byte is a violation. Bytes after the payload of a data
//   report are not examined.
// - Flash commands (CMD_ERASE, CMD_WRITE, CMD_READ) are served whether or not the host holds
//   the bus. The host holds it from the status answer that shows it granted after its request
//   (as the answer reached it, seeded faults included) until its release; a flash command sent
//   otherwise is a protocol event (ProtocolEvents), unless an exchange failed while the host
//   waited for the bus: a host whose request or status poll failed goes on as if granted.
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

// Command codes and report offsets of the firmware, restated here on purpose rather than taken
// from the host's core/report_layout.h: the board must not trust the host's code.
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
    std::vector<uint8_t> bytes;  // as sent, or as answered (empty when a fetch or read failed)
    bool failed = false;         // the exchange failed (fault, board gone)
    uint64_t timeMs = 0;         // the board's clock when it happened
};

enum class Fault {
    Unplug,         // this exchange fails and the board is gone from then on
    RefuseFeature,  // if this exchange is a feature fetch, it fails; the board stays
    FailWrite,      // if this exchange is an output report, it fails; the board stays
};

enum class InputResult { Report, Empty, Gone };

// Why a host that sent a flash command did not hold the bus.
enum class BusLapse {
    NeverRequested,  // no bus request since the board started or was plugged in again
    NotGranted,      // requested, but no status answer had shown it granted yet
    Refused,         // requested, and a status answer showed the other side holding it
    Released,        // given back since
};

// Something the board serves but a careful host does not do: a flash command without the bus.
struct ProtocolEvent {
    uint64_t exchange = 0;  // of the command report, as in Log()
    uint8_t command = 0;    // kCmdErase, kCmdWrite or kCmdRead
    BusLapse lapse = BusLapse::NeverRequested;
    std::string text;  // "exchange 5: CMD_READ without the bus (never requested)"
};

// Faults drawn from a seed (sim/fault_layer.h): a flaky board whose every run can be repeated.
// Chances are in thousandths, per answer or report; the layer keeps every status poll finite.
struct SeededFaults {
    uint64_t seed = 0;       // 0: off
    int flippedAnswer = 10;  // a feature answer with 1 to 3 bits flipped in bytes 1-64
    int oddStatus = 40;      // a status answer starts a run of odd busy and busState values
    int slowHandover = 200;  // a bus hand-over takes 1 to 3 more polls
    int droppedData = 10;    // a data report accepted but not programmed
};

class Board {
  public:
    Board();  // plugged in, flash erased, bus released, idle

    // ---- flash contents
    std::vector<uint8_t> Flash() const;                                // a copy of all 2 MB
    void SetFlash(size_t address, const std::vector<uint8_t>& bytes);  // direct, no NOR rules
    void FillFlash(uint8_t value);
    uint8_t FlashByte(size_t address) const;
    // Calls look with the whole flash under the board's lock: a look at 2 MB without a copy.
    void ViewFlash(const std::function<void(const uint8_t* flash, size_t size)>& look) const;

    // ---- behaviour
    // Status answers after a CMD_ERASE report busy for this many polls (default 0).
    void SetEraseBusyPolls(int polls);
    // Status answers after a CMD_BUS report the hand-over in progress for this many polls
    // (default 0): the old state for a release, kBusInProgress for a request.
    void SetBusHandoverPolls(int polls);
    // While set, a bus request is answered with kBusHeldByOther.
    void SetBusHeldByOther(bool held);
    // busState values answered, in order, by the next status queries, before anything else.
    // The board's own hand-over does not advance while scripted answers are given.
    void ScriptBusStates(const std::vector<uint8_t>& states);
    // The busState the next status answer would carry, scripted answers aside.
    uint8_t BusState() const;
    // Milliseconds charged to each Out or Feature exchange (default 0); the sleep callback is
    // called with it. Used for a realistic pace and for the link model of benchmarks.
    void SetReportTime(double milliseconds, std::function<void(double)> sleeper);
    // Where the board reads its clock for the log; default: always 0.
    void SetClock(std::function<uint64_t()> clock);
    // Called after every change of the flash (erase or program), with the address and length
    // changed: once per erased bank, once per data report. A demo build keeps a file in step
    // with it. SetFlash and FillFlash do not call it.
    void SetFlashListener(std::function<void(size_t address, size_t length)> listener);

    // ---- presence and faults
    bool IsPresent() const;
    void Unplug();  // pending and future reads and writes fail; queued input reports are lost
    void Plug();    // present again; protocol state reset (bus released, idle), flash kept
    // The fault acts at that index of Out + Feature exchanges, counted from 0 since
    // construction or the last ClearLog(); the index of the next exchange is ExchangeCount().
    // Faults stay set (also across ClearLog) until ClearFaults. A refused fetch does not use up
    // the answer: the next fetch gets it.
    void InjectFault(uint64_t exchange, Fault fault);
    void ClearFaults();
    // Starts the seeded faults afresh (also across ClearLog and Plug, until set again). What the
    // layer did shows in the transcript as "-- seeded: ..." lines.
    void SetSeededFaults(const SeededFaults& faults);
    uint64_t ExchangeCount() const;  // Out + Feature exchanges since construction or ClearLog()

    // ---- input reports (8 bytes behind report ID 0)
    // A board that is not present sends nothing: reports queued then are dropped.
    void QueueInputReport(const std::array<uint8_t, 8>& report);
    // position (its low byte) then up to 7 characters, padded with zeros.
    void QueueInputText(int position, const std::string& sevenChars);
    // Both lines of the board's text (18 characters each, padded with blanks), in pieces of 7,
    // as the firmware sends a greeting.
    void QueueInputLines(const std::string& first, const std::string& second);
    // The greeting of the simulated board that kelmtool's --sim and the web page's trial board
    // are: one text, so that both show the same board.
    void QueueSimGreeting();
    // Called whenever a report is queued or the board goes away (from the caller's thread).
    void SetInputListener(std::function<void()> listener);

    // ---- transport, called by whatever stands in for the HID stack
    bool WriteOutputReport(const uint8_t* report, size_t length);
    bool GetFeatureReport(uint8_t* report, size_t length);
    InputResult TakeInputReport(uint8_t* report, size_t length);

    // ---- history
    // Every exchange in both directions, failed ones too (input reads: those that got a report
    // or found the board gone).
    std::vector<LogEntry> Log() const;
    // Empties the log and the transcript and restarts the exchange count and CountCommands.
    // Faults and violations stay.
    void ClearLog();
    // Protocol breaches seen since construction or ClearViolations(), each "exchange N: what"
    // (wrong report length or ID, unknown command, a command where CMD_WRITE data was due,
    // zero-length transfer, feature fetch of the wrong size, non-zero unused bytes...).
    std::vector<std::string> Violations() const;
    void ClearViolations();
    // What the board serves but a careful host does not do, since construction or
    // ClearProtocolEvents(): flash commands without the bus, their texts "CMD_READ without the
    // bus (never requested)" (or "requested, not granted yet", "refused, the other side holds
    // it", "released"). Not in the transcript.
    std::vector<ProtocolEvent> ProtocolEvents() const;
    void ClearProtocolEvents();
    // The Out and Feature traffic as text, one line each, "\n"-terminated, with no times (the
    // log has them) so that golden transcripts stay exact:
    //   > GET_STATUS                               a command report as the board took it
    //   > BUS request / > BUS release
    //   > ERASE bank=3 / > RESET
    //   > READ bank=2 offset=0x0000 length=256     (WRITE alike; offset in 4 hex digits)
    //   < data x5 (256 bytes)                      a run of read answers
    //   > data x521 (32768 bytes)                  a run of CMD_WRITE data reports
    //   < status busy=0 bus=1                      a status answer
    //   ! feature fetch failed (unplugged)         failed exchanges: "feature fetch", "data
    //   ! GET_STATUS failed (write error)          report" or the command; reasons unplugged,
    //                                              refused, write error, rejected
    //   ! violation: CMD_READ of length 0
    //   -- unplugged / -- plugged
    // Input reports are left out: the monitor thread reads them at times of its own.
    std::string Transcript() const;
    // While false, exchanges are left out of the log and the transcript (the exchange count,
    // CountCommands and violations still count). Default true. For long benchmark runs, whose
    // time and memory would otherwise be the history's.
    void SetHistoryKept(bool kept);
    // Statistics
    // Command reports (not data reports) taken since construction or ClearLog().
    int CountCommands(uint8_t command) const;

  private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

}  // namespace sim
