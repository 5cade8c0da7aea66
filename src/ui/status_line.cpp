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
    if (!SetWindowTextA(line, text)) {
        // The old text stays; the next progress step or result writes it again.
    }
}

void RepaintMainWindow() {
    if (MainWindow == nullptr) {
        return;
    }
    if (!UpdateWindow(MainWindow)) {
        // The window repaints at the next chance the message loop gets.
    }
}
