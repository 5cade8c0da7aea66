// The input report monitor: a thread that reads the board's input reports while connected.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "core/input_text.h"

// Private window messages. MSG_STATUS_TEXT and MSG_MONITOR_FAILED carry a pointer to text in
// wParam; MSG_INPUT_STATE carries the monitor's state, which the dialog does not read through it
// but copies under the state's lock (CopyInputState).
constexpr UINT MSG_INPUT_STATE = WM_USER + 100;     // 1124
constexpr UINT MSG_STATUS_TEXT = WM_USER + 101;     // 1125
constexpr UINT MSG_MONITOR_FAILED = WM_USER + 102;  // 1126

// Manual-reset event that stops the monitor. Created and closed by the entry point,
// reset by StartMonitor, set by the dialog thread.
extern HANDLE StopEvent;

// Starts the monitor thread; returns its handle, or null after "Failed to create input thread.".
HANDLE StartMonitor();
DWORD WINAPI MonitorThread(LPVOID);
// Closes the command channel and stops the monitor, waiting up to 3000 ms.
void Disconnect(HANDLE monitorThread);

// A consistent copy of the monitor's InputState, for the dialog thread.
void CopyInputState(char* state);
