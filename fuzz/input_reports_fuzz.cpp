// Sequences of input reports. Every report, whatever its position byte, must change only the
// 36 characters of the two lines (byte 36 stays 0), and exactly as the board meant: the piece
// at its position, cut at the end of the second line. The rendered text is always the two lines
// around CR LF in 39 bytes. The first reports also go the whole way: queued on the simulated
// board, read by the monitor thread through the stand-in's overlapped reads, posted to the
// window; the monitor's state must end up the same as the routine's.
//
// Input: 9-byte records, each one input report as the HID interface hands it over (report ID,
// position, 7 characters). The monitor is fed the first kMonitorReports of them.
#include <windows.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "device/input_monitor.h"
#include "fuzz_world.h"
#include "sim/board.h"
#include "win32/standin.h"

namespace {

using fuzzworld::Check;

constexpr size_t kMonitorReports = 16;
constexpr auto kMonitorPatience = std::chrono::seconds(10);

// Lives for the whole run; set up by LLVMFuzzerInitialize, used by libFuzzer's thread.
sim::Board* gBoard = nullptr;

// What a report must do to the state, written out plainly. A position outside the two lines
// (negative, or past 36) is ignored.
void ModelApply(char* state, const uint8_t* report) {
    const int position = static_cast<int8_t>(report[kInputPositionByte]);
    if (position < 0 || position > 36) return;
    for (int i = 0; i < static_cast<int>(kInputPieceSize); ++i) {
        const int at = position + i;
        if (at >= 0 && at < 36) state[at] = static_cast<char>(report[kInputTextByte + i]);
    }
}

void CheckRendered(const char* state) {
    // Exactly the documented sizes on the heap, so that a byte too far is an ASan report.
    std::unique_ptr<char[]> text(new char[kInputTextSize]);
    std::memset(text.get(), 'x', kInputTextSize);
    RenderInputState(state, text.get());
    Check(std::memcmp(text.get(), state, 18) == 0, "first line");
    Check(text[18] == '\r' && text[19] == '\n', "CR LF between the lines");
    Check(std::memcmp(text.get() + 20, state + 18, 18) == 0, "second line");
    Check(text[kInputTextSize - 1] == '\0', "terminating zero");
}

size_t Dispatched(UINT message) {
    size_t count = 0;
    for (const standin::PostedRecord& record : standin::DispatchedMessages()) {
        if (record.message == message) ++count;
    }
    return count;
}

// The first reports through the board and the monitor thread.
void RunMonitor(const uint8_t* data, size_t reports) {
    sim::Board& board = *gBoard;
    HWND window = fuzzworld::Connect(board);
    HANDLE thread = StartMonitor();
    Check(thread != nullptr, "the monitor did not start");

    char model[kInputStateSize] = {};
    for (size_t r = 0; r < reports; ++r) {
        const uint8_t* report = data + r * kInputReportSize;
        std::array<uint8_t, 8> boardReport;
        std::memcpy(boardReport.data(), report + 1, boardReport.size());
        board.QueueInputReport(boardReport);
        // The HID interface puts report ID 0 in front, whatever the fuzzer had there.
        ModelApply(model, report);
    }
    const auto deadline = std::chrono::steady_clock::now() + kMonitorPatience;
    while (Dispatched(MSG_INPUT_STATE) < reports) {
        Check(std::chrono::steady_clock::now() < deadline, "the monitor lost reports");
        standin::PumpMessages();
        std::this_thread::yield();
    }
    Check(Dispatched(MSG_INPUT_STATE) == reports, "one MSG_INPUT_STATE per report");
    Check(Dispatched(MSG_MONITOR_FAILED) == 0, "the monitor failed");
    char state[kInputStateSize];
    CopyInputState(state);
    Check(std::memcmp(state, model, kInputStateSize) == 0, "the monitor's state");

    Disconnect(thread);
    Check(fuzzworld::BoxTexts().empty(), "stopping the monitor showed a box");
    fuzzworld::Disconnect(board, window);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzworld::Init();
    gBoard = new sim::Board();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t reports = size / kInputReportSize;
    std::unique_ptr<char[]> state(new char[kInputStateSize]());
    char model[kInputStateSize] = {};
    for (size_t r = 0; r < reports; ++r) {
        std::unique_ptr<uint8_t[]> report(new uint8_t[kInputReportSize]);
        std::memcpy(report.get(), data + r * kInputReportSize, kInputReportSize);
        const int position = static_cast<int8_t>(report[kInputPositionByte]);
        const bool applied = ApplyInputReport(state.get(), report.get());
        Check(applied == (position >= 0 && position <= 36), "which positions are applied");
        ModelApply(model, report.get());
        Check(std::memcmp(state.get(), model, kInputStateSize) == 0,
              "state after report " + std::to_string(r));
        Check(state[kInputStateSize - 1] == '\0', "byte 36 written");
        CheckRendered(state.get());
    }
    // With no report the monitor has nothing to show: its state is only defined once the first
    // report has been taken.
    if (reports > 0) RunMonitor(data, reports < kMonitorReports ? reports : kMonitorReports);
    return 0;
}
