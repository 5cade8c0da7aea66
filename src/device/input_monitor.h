// The input report monitor: a thread that reads the board's input reports while connected.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// Private window messages; wParam points to text.
constexpr UINT MSG_INPUT_STATE = WM_USER + 100;     // 1124
constexpr UINT MSG_STATUS_TEXT = WM_USER + 101;     // 1125
constexpr UINT MSG_MONITOR_FAILED = WM_USER + 102;  // 1126

constexpr size_t kInputReportSize = 9;  // report ID + position + 7 characters
constexpr size_t kInputStateSize = 37;  // two lines of 18 characters and a zero
constexpr size_t kInputTextSize = 39;   // rendered: 18 characters, CR LF, 18, and a zero
constexpr size_t kInputPositionByte = 1;
constexpr size_t kInputTextByte = 2;
constexpr size_t kInputPieceSize = 7;

// Manual-reset event that stops the monitor. Created and closed by the entry point,
// reset by StartMonitor, set by the dialog thread.
extern HANDLE StopEvent;

// Starts the monitor thread; returns its handle, or null after "Failed to create input thread.".
HANDLE StartMonitor();
DWORD WINAPI MonitorThread(LPVOID);
// Closes the command channel and stops the monitor, waiting up to 3000 ms.
void Disconnect(HANDLE monitorThread);

// Pure pieces of the monitor, shared with the dialog.
// Applies one 9-byte report to a 37-byte state; returns false when its position is ignored.
bool ApplyInputReport(char* state, const uint8_t* report);
// Renders a state as the text of control 1002: 18 characters, CR LF, 18 characters, zero.
void RenderInputState(const char* state, char* text);
// A consistent copy of the monitor's InputState, for the dialog thread.
void CopyInputState(char* state);
