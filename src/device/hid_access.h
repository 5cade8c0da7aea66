// Binding of the HID class library, discovery of the board and its command channel.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/report_layout.h"
#include "device/path_size.h"

// The synchronous handle to the board, or INVALID_HANDLE_VALUE when not connected.
// Written by the dialog thread only.
extern HANDLE CommandChannel;

// The board's device path. Written by the dialog thread in OpenBoard; read by the monitor
// thread once when it starts, before any later OpenBoard can run.
extern char DevicePath[kPathSize];

// Loads "HID.DLL" and resolves its four entry points; shows the error and fails otherwise.
bool BindHidLibrary();
// Releases "HID.DLL" at the end of the program.
void ReleaseHidLibrary();

// Finds the first HID interface of the board, opens CommandChannel and sets DevicePath.
// Returns 1 when found, 0 otherwise (no message unless the device set is unavailable).
int OpenBoard();
bool IsConnected();
void CloseCommandChannel();

// The one error box: no owner, title "Error", warning icon, OK.
void ShowError(const char* text);

// HidD_GetFeature of the bound library; FALSE when BindHidLibrary has not bound it. The only
// entry point called after start-up: the others serve OpenBoard inside hid_access.cpp.
BOOLEAN HidGetFeature(HANDLE device, void* report, ULONG length);
