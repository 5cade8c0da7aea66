// The states of the dialog's controls, set by identifier.
#pragma once

#include <windows.h>

// Enables or disables control id of window. A window without that control is left alone: dialog
// 101 lacks the engineering panel's fields, and not every window carries every button.
void EnableControl(HWND window, int id, bool enable);
