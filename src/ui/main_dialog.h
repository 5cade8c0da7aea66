// The main dialog: initialisation, the command dispatch, connect and disconnect, closing.
#pragma once

#include <windows.h>

// The monitor thread's handle while one runs, else null. Dialog thread only.
extern HANDLE MonitorThreadHandle;

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Puts the window into its not-connected appearance (the engineering panel off).
void SetPanelState(HWND window, bool on);
void Connect(HWND window);
void DisconnectFromWindow(HWND window);
