// The main window's status line, written by every long operation while the dialog thread is busy.
#include "ui/status_line.h"

#include <windows.h>

#include "ui/resource.h"

HWND MainWindow = nullptr;

void SetStatusLine(const char* text) {
    HWND line = GetDlgItem(MainWindow, IDC_STATUS);
    if (line == nullptr) {
        return;  // a window without the status line: nothing to show
    }
    // The old text stays; the next progress step or result writes it again.
    static_cast<void>(SetWindowTextA(line, text));
}

void RepaintMainWindow() {
    if (MainWindow == nullptr) {
        return;
    }
    // UpdateWindow paints what needs painting now, without waiting for the busy message loop.
    static_cast<void>(UpdateWindow(MainWindow));
}
