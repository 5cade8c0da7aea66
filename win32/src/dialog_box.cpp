// The modal dialog: DialogBoxParamA builds the dialog from its template, initialises it and lets
// the test's user script act on it until it ends.
#include <windows.h>

#include <algorithm>

#include "win32/src/user_internal.h"

namespace standin {
namespace detail {
namespace {

// The user of the modal dialogs. Main thread.
std::function<void(HWND)> gUserScript;
// Modal dialogs running now, innermost last. Main thread.
std::vector<Window*> gModalDialogs;
// What the last EndDialog passed, and whether EndDialog has been called since the last modal
// dialog began. Main thread.
INT_PTR gLastResult = 0;
bool gEnded = false;

// Where the focus goes first: the first visible, enabled control with a tab stop.
HWND FirstTabStop(Window* dialog) {
    for (Window* control : dialog->controls) {
        if (IsShown(control) && IsEnabled(control) && (control->style & WS_TABSTOP) != 0) {
            return Handle(control);
        }
    }
    return nullptr;
}

}  // namespace

Window* DisableOwner(HWND owner) {
    Window* window = KnownWindow(owner);
    if (window == nullptr || window->destroyed) return nullptr;
    Window* top = TopLevel(window);
    if (!IsEnabled(top)) return nullptr;
    top->style |= WS_DISABLED;
    return top;
}

void EnableOwner(Window* disabled) {
    if (disabled != nullptr && !disabled->destroyed) {
        disabled->style &= ~static_cast<DWORD>(WS_DISABLED);
    }
}

void ResetDialogs() {
    gUserScript = nullptr;
    gModalDialogs.clear();
    gLastResult = 0;
    gEnded = false;
}

}  // namespace detail

void SetUserScript(std::function<void(HWND dialog)> script) {
    detail::gUserScript = std::move(script);
}

HWND CurrentDialog() {
    return detail::gModalDialogs.empty() ? nullptr : detail::Handle(detail::gModalDialogs.back());
}

INT_PTR LastDialogResult() { return detail::gLastResult; }

bool DialogEnded() { return detail::gEnded; }

}  // namespace standin

using standin::detail::Window;

extern "C" {

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner,
                               DLGPROC dialogProc, LPARAM initParam) {
    namespace detail = standin::detail;
    // An owner that is not a window fails before anything is created, with result 0.
    if (owner != nullptr && detail::LiveWindow(owner) == nullptr) return 0;
    detail::DialogTemplate dialogTemplate;
    DWORD error = detail::LoadDialogTemplate(instance, templateName, &dialogTemplate);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return -1;
    }

    Window* dialog = detail::NewDialog(dialogTemplate.info, dialogProc);
    // A modal dialog is shown after its initialisation, whether the template says WS_VISIBLE
    // or not.
    dialog->style &= ~static_cast<DWORD>(WS_VISIBLE);
    for (const standin::ControlInfo& control : dialogTemplate.controls) {
        detail::AddControl(dialog, control);
    }
    HWND handle = detail::Handle(dialog);
    detail::gModalDialogs.push_back(dialog);
    detail::gEnded = false;
    detail::gLastResult = 0;
    Window* disabledOwner = detail::DisableOwner(owner);

    detail::Deliver(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(detail::FirstTabStop(dialog)),
                    initParam);
    if (!dialog->ended) {
        dialog->style |= WS_VISIBLE;
        // A copy: the script may replace the script while it runs.
        std::function<void(HWND)> script = detail::gUserScript;
        if (script) script(handle);
    }
    // The user is done; the window is closed as with its close box.
    if (!dialog->ended) standin::CloseWindow(handle);
    // A dialog that does not end when closed would wait for ever on Windows; a test gets -1.
    INT_PTR result = dialog->ended ? dialog->result : -1;

    detail::EnableOwner(disabledOwner);
    auto running = std::find(detail::gModalDialogs.begin(), detail::gModalDialogs.end(), dialog);
    if (running != detail::gModalDialogs.end()) detail::gModalDialogs.erase(running);
    detail::DestroyDialog(dialog);
    return result;
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
    Window* window = standin::detail::LiveWindow(dialog);
    if (window == nullptr || !window->isDialog) return FALSE;
    // The dialog is hidden at once; it is destroyed when its modal loop returns.
    window->ended = true;
    window->result = result;
    window->style &= ~static_cast<DWORD>(WS_VISIBLE);
    standin::detail::gLastResult = result;
    standin::detail::gEnded = true;
    return TRUE;
}

}  // extern "C"
