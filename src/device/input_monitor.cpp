// The input report monitor: a thread that reads the board's input reports while connected.
#include "device/input_monitor.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "device/flash_transfer.h"
#include "device/hid_access.h"
#include "ui/status_line.h"

// Created and closed by the entry point; reset by StartMonitor and set by the dialog thread.
HANDLE StopEvent = nullptr;

namespace {

constexpr DWORD kStopWaitMs = 3000;
constexpr size_t kMonitorMessageSize = 64;

constexpr char kThreadFailedText[] = "Failed to create input thread.";
constexpr char kThreadHangsText[] = "Input thread not exiting in 3 seconds.";
constexpr char kOpenFailedFormat[] = "CreateFile failed (Error %d)";
constexpr char kEventFailedFormat[] = "CreateEvent failed (Error %d)";
constexpr char kDisconnectedText[] = "kelm has been disconnected.";

// The two lines the board sends, written by the monitor thread, read by the dialog thread
// through CopyInputState. Both sides hold InputStateLock, so the dialog always sees the state
// after some whole report, never one half-applied.
char InputState[kInputStateSize];
CRITICAL_SECTION InputStateLock;
// Set once, by the dialog thread, before any monitor thread exists.
bool InputStateLockReady = false;

// Written by the monitor thread right before it posts MSG_MONITOR_FAILED and ends; read by the
// dialog thread when it handles that message.
char MonitorMessage[kMonitorMessageSize];

// Called on the dialog thread only: by StartMonitor before the thread is created, and by
// CopyInputState. The lock lives for the rest of the process, like DeviceLock.
void PrepareInputStateLock() {
    if (InputStateLockReady) return;
    InitializeCriticalSection(&InputStateLock);
    InputStateLockReady = true;
}

void ClearInputState() {
    EnterCriticalSection(&InputStateLock);
    std::memset(InputState, 0, sizeof(InputState));
    LeaveCriticalSection(&InputStateLock);
}

void PostToWindow(UINT message, const char* text) {
    // A window that is already gone has no one left to tell: nothing else to do.
    static_cast<void>(
        PostMessageA(MainWindow, message, reinterpret_cast<WPARAM>(const_cast<char*>(text)), 0));
}

void ReportFailure(const char* format, DWORD error) {
    std::snprintf(MonitorMessage, sizeof(MonitorMessage), format, static_cast<int>(error));
    PostToWindow(MSG_MONITOR_FAILED, MonitorMessage);
}

void CloseMonitorHandles(HANDLE device, HANDLE readEvent) {
    // Both were opened by this thread and are closed once; a failure leaves nothing to undo.
    static_cast<void>(CloseHandle(device));
    static_cast<void>(CloseHandle(readEvent));
}

// Starts one read under DeviceLock, so that no read starts while a transfer holds the board.
// Returns true when the read completed at once; otherwise error is its failure code.
bool StartRead(HANDLE device, HANDLE readEvent, OVERLAPPED& overlapped, uint8_t* report,
               DWORD& error) {
    EnterCriticalSection(&DeviceLock);
    bool done = false;
    if (!ResetEvent(readEvent)) {
        error = GetLastError();
    } else if (ReadFile(device, report, kInputReportSize, nullptr, &overlapped)) {
        done = true;
    } else {
        error = GetLastError();
    }
    LeaveCriticalSection(&DeviceLock);
    return done;
}

// Ends the read that may still be pending on the device. The system writes a read's result
// into its record when it finishes, a cancelled one too, so the record and the report buffer
// must outlive it: this returns once the read is over.
void EndPendingRead(HANDLE device, OVERLAPPED& overlapped) {
    // ERROR_NOT_FOUND: the read has finished meanwhile. CancelIo ends the reads this thread
    // started on the handle, which is this one read.
    if (!CancelIoEx(device, &overlapped) && GetLastError() != ERROR_NOT_FOUND) {
        // With no cancel at all, the wait below lasts until a report comes or the board goes,
        // and Disconnect's wait reports a thread that does not end.
        static_cast<void>(CancelIo(device));
    }
    DWORD transferred = 0;
    // A cancelled read fails with ERROR_OPERATION_ABORTED; its result is of no use either way.
    static_cast<void>(GetOverlappedResult(device, &overlapped, &transferred, TRUE));
}

enum class ReadOutcome { Report, Stopped, Failed };

// Waits for the pending read or StopEvent. The read event comes first, so a report that
// arrived together with the stop is still taken.
ReadOutcome WaitForRead(HANDLE device, HANDLE readEvent, HANDLE stop, OVERLAPPED& overlapped) {
    const HANDLE waits[2] = {readEvent, stop};
    DWORD which = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (which == WAIT_OBJECT_0 + 1) return ReadOutcome::Stopped;
    if (which != WAIT_OBJECT_0) return ReadOutcome::Failed;
    DWORD transferred = 0;
    if (!GetOverlappedResult(device, &overlapped, &transferred, TRUE)) return ReadOutcome::Failed;
    return ReadOutcome::Report;
}

void TakeReport(const uint8_t* report) {
    EnterCriticalSection(&InputStateLock);
    ApplyInputReport(InputState, report);
    LeaveCriticalSection(&InputStateLock);
    PostToWindow(MSG_INPUT_STATE, InputState);
}

}  // namespace

void CopyInputState(char* state) {
    PrepareInputStateLock();
    EnterCriticalSection(&InputStateLock);
    std::memcpy(state, InputState, kInputStateSize);
    LeaveCriticalSection(&InputStateLock);
}

HANDLE StartMonitor() {
    PrepareInputStateLock();
    // A StopEvent left set by an earlier stop would end the new monitor at once.
    if (!ResetEvent(StopEvent)) {
        ShowError(kThreadFailedText);
        return nullptr;
    }
    HANDLE thread = CreateThread(nullptr, 0, MonitorThread, nullptr, 0, nullptr);
    if (thread == nullptr) {
        ShowError(kThreadFailedText);
        return nullptr;
    }
    return thread;
}

DWORD WINAPI MonitorThread(LPVOID) {
    // Taken once: the entry point replaces StopEvent only after every monitor has ended.
    HANDLE stop = StopEvent;
    HANDLE device =
        CreateFileA(DevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        ReportFailure(kOpenFailedFormat, GetLastError());
        return 0;
    }
    HANDLE readEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (readEvent == nullptr) {
        DWORD error = GetLastError();
        static_cast<void>(CloseHandle(device));
        ReportFailure(kEventFailedFormat, error);
        return 0;
    }
    OVERLAPPED overlapped = {};
    overlapped.hEvent = readEvent;
    uint8_t report[kInputReportSize] = {};
    ClearInputState();

    bool stopped = false;
    for (;;) {
        DWORD error = ERROR_SUCCESS;
        if (!StartRead(device, readEvent, overlapped, report, error)) {
            if (error != ERROR_IO_PENDING) break;
            const ReadOutcome outcome = WaitForRead(device, readEvent, stop, overlapped);
            if (outcome != ReadOutcome::Report) {
                // Stopped, or the wait failed: the read may still be pending.
                EndPendingRead(device, overlapped);
                stopped = outcome == ReadOutcome::Stopped;
                break;
            }
        }
        TakeReport(report);
    }

    // A stop ends the monitor without a word; reads only fail once the board is gone.
    if (!stopped) {
        std::snprintf(MonitorMessage, sizeof(MonitorMessage), "%s", kDisconnectedText);
        PostToWindow(MSG_MONITOR_FAILED, MonitorMessage);
    }
    CloseMonitorHandles(device, readEvent);
    return 0;
}

void Disconnect(HANDLE monitorThread) {
    CloseCommandChannel();
    if (monitorThread == nullptr) return;
    // If the event cannot be set the wait below runs out and says so.
    static_cast<void>(SetEvent(StopEvent));
    if (WaitForSingleObject(monitorThread, kStopWaitMs) != WAIT_OBJECT_0) {
        ShowError(kThreadHangsText);
    }
    // A thread still running ends by itself; only our handle to it goes.
    static_cast<void>(CloseHandle(monitorThread));
}
