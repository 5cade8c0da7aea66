// The states of the dialog's controls, set by identifier.
#include "ui/controls.h"

#include <windows.h>

void EnableControl(HWND window, int id, bool enable) {
    HWND control = GetDlgItem(window, id);
    if (control == nullptr) return;
    // EnableWindow answers the previous state, not success: there is nothing to check.
    static_cast<void>(EnableWindow(control, enable ? TRUE : FALSE));
}
