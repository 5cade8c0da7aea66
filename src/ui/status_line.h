// The main window and its status line, which every long operation writes into.
#pragma once

#include <windows.h>

// The dialog's window, stored at WM_INITDIALOG. Written by the dialog thread only.
extern HWND MainWindow;

// Sets the text of the status line (control 1005) of the main window. A window without the
// control is left alone, as SetWindowTextA on a missing control does nothing.
void SetStatusLine(const char* text);

// Repaints the main window at once (the dialog thread is busy, so nothing else would).
void RepaintMainWindow();
