// Windows and controls: what the HWNDs point to, and the user32 calls that read and change them.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "win32/src/standin_internal.h"
#include "win32/src/user_internal.h"

namespace standin {
namespace detail {
namespace {

// Every window created since the last reset, destroyed ones included, so that a stale HWND is
// told apart from a live one. Written by the main thread only; PostMessageA on other threads
// consults its own guarded set of targets instead.
std::vector<std::unique_ptr<Window>> gWindows;

Window* NewWindow() {
    gWindows.push_back(std::make_unique<Window>());
    return gWindows.back().get();
}

}  // namespace

void SetCheck(Window* button, WPARAM state) {
    if (HoldsCheck(button)) button->check = static_cast<int>(state);
}

Window* NewDialog(const DialogInfo& info, DLGPROC proc) {
    Window* dialog = NewWindow();
    dialog->isDialog = true;
    dialog->text = info.caption;
    dialog->style = info.style;
    dialog->exStyle = info.exStyle;
    dialog->helpId = info.helpId;
    dialog->place = info.place;
    dialog->info = info;
    dialog->proc = proc;
    AddPostTarget(dialog);
    return dialog;
}

Window* AddControl(Window* dialog, const ControlInfo& control) {
    Window* window = NewWindow();
    window->parent = dialog;
    window->id = control.id;
    window->className = control.className;
    window->text = control.text;
    window->titleOrdinal = control.titleOrdinal;
    window->style = control.style;
    window->exStyle = control.exStyle;
    window->helpId = control.helpId;
    window->place = control.place;
    dialog->controls.push_back(window);
    AddPostTarget(window);
    return window;
}

void DestroyDialog(Window* dialog) {
    for (Window* control : dialog->controls) {
        control->destroyed = true;
        ForgetPostTarget(control);
    }
    dialog->destroyed = true;
    ForgetPostTarget(dialog);
}

Window* KnownWindow(HWND window) {
    if (window == nullptr) return nullptr;
    for (const std::unique_ptr<Window>& known : gWindows) {
        if (Handle(known.get()) == window) return known.get();
    }
    return nullptr;
}

Window* LiveWindow(HWND window) {
    Window* known = KnownWindow(window);
    if (known == nullptr || known->destroyed) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return known;
}

Window* FindControl(const Window* dialog, int id) {
    if (dialog == nullptr) return nullptr;
    for (Window* control : dialog->controls) {
        if (control->id == id) return control;
    }
    return nullptr;
}

Window* TopLevel(Window* window) {
    while (window->parent != nullptr) window = window->parent;
    return window;
}

HWND Handle(Window* window) { return reinterpret_cast<HWND>(window); }

bool IsEnabled(const Window* window) { return (window->style & WS_DISABLED) == 0; }

bool IsShown(const Window* window) { return (window->style & WS_VISIBLE) != 0; }

void SetText(Window* window, const std::string& text) {
    window->text = text;
    if (HistoryKept()) window->textHistory.push_back(text);
}

bool HoldsCheck(const Window* window) {
    if (window->className != "BUTTON") return false;
    switch (window->style & BS_TYPEMASK) {
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
        case BS_RADIOBUTTON:
        case BS_3STATE:
        case BS_AUTO3STATE:
        case BS_AUTORADIOBUTTON:
            return true;
        default:
            return false;
    }
}

int CopyText(const std::string& text, LPSTR buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    size_t count = std::min(text.size(), static_cast<size_t>(size) - 1);
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<int>(count);
}

void ResetWindows() { gWindows.clear(); }

}  // namespace detail
}  // namespace standin

using standin::detail::FindControl;
using standin::detail::Handle;
using standin::detail::LiveWindow;
using standin::detail::Window;

extern "C" {

HWND WINAPI GetDlgItem(HWND dialog, int id) {
    Window* parent = LiveWindow(dialog);
    if (parent == nullptr) return nullptr;
    Window* control = FindControl(parent, id);
    if (control == nullptr) {
        SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
        return nullptr;
    }
    return Handle(control);
}

int WINAPI GetDlgCtrlID(HWND control) {
    Window* window = LiveWindow(control);
    // A top-level window has no control identifier.
    if (window == nullptr || window->parent == nullptr) return 0;
    return window->id;
}

BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
    Window* target = LiveWindow(window);
    if (target == nullptr) return FALSE;
    standin::detail::SetText(target, text != nullptr ? text : "");
    return TRUE;
}

int WINAPI GetWindowTextA(HWND window, LPSTR buffer, int size) {
    Window* source = LiveWindow(window);
    if (source == nullptr) {
        if (buffer != nullptr && size > 0) buffer[0] = '\0';
        return 0;
    }
    return standin::detail::CopyText(source->text, buffer, size);
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    Window* parent = LiveWindow(dialog);
    if (parent == nullptr) return FALSE;
    Window* control = FindControl(parent, id);
    if (control == nullptr) {
        SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
        return FALSE;
    }
    standin::detail::SetText(control, text != nullptr ? text : "");
    return TRUE;
}

UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int size) {
    Window* parent = LiveWindow(dialog);
    Window* control = FindControl(parent, id);
    if (control == nullptr) {
        if (parent != nullptr) SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
        if (buffer != nullptr && size > 0) buffer[0] = '\0';
        return 0;
    }
    return static_cast<UINT>(standin::detail::CopyText(control->text, buffer, size));
}

BOOL WINAPI EnableWindow(HWND window, BOOL enable) {
    Window* target = LiveWindow(window);
    if (target == nullptr) return FALSE;
    bool wasDisabled = !standin::detail::IsEnabled(target);
    if (enable) {
        target->style &= ~static_cast<DWORD>(WS_DISABLED);
    } else {
        target->style |= WS_DISABLED;
    }
    return wasDisabled ? TRUE : FALSE;
}

BOOL WINAPI IsWindowEnabled(HWND window) {
    Window* target = LiveWindow(window);
    return target != nullptr && standin::detail::IsEnabled(target) ? TRUE : FALSE;
}

// Visible only when the window and every parent carry WS_VISIBLE: a control of a dialog that is
// not shown yet (during WM_INITDIALOG) is not visible.
BOOL WINAPI IsWindowVisible(HWND window) {
    Window* target = LiveWindow(window);
    if (target == nullptr) return FALSE;
    for (Window* level = target; level != nullptr; level = level->parent) {
        if (!standin::detail::IsShown(level)) return FALSE;
    }
    return TRUE;
}

BOOL WINAPI CheckRadioButton(HWND dialog, int first, int last, int check) {
    Window* parent = LiveWindow(dialog);
    if (parent == nullptr) return FALSE;
    for (Window* control : parent->controls) {
        if (control->id >= first && control->id <= last) {
            standin::detail::SetCheck(control, control->id == check ? BST_CHECKED : BST_UNCHECKED);
        }
    }
    return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND dialog, int id) {
    Window* control = FindControl(LiveWindow(dialog), id);
    if (control == nullptr || !standin::detail::HoldsCheck(control)) return BST_UNCHECKED;
    return static_cast<UINT>(control->check);
}

BOOL WINAPI UpdateWindow(HWND window) {
    Window* target = LiveWindow(window);
    if (target == nullptr) return FALSE;
    ++target->repaints;
    return TRUE;
}

}  // extern "C"
