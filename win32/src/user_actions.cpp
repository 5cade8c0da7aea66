// What the test's user does in a dialog: clicks, keys, the close box, typing and picking.
#include <windows.h>

#include "win32/src/user_internal.h"

namespace standin {
namespace detail {
namespace {

// The dialog as the user can reach it: after the message loop has dispatched what was posted,
// and only while it is open and not disabled by a modal box it owns.
Window* ReachableDialog(HWND dialog) {
    PumpMessages();
    Window* window = KnownWindow(dialog);
    if (window == nullptr || window->destroyed || !window->isDialog || window->ended ||
        !IsEnabled(window)) {
        return nullptr;
    }
    return window;
}

Window* ReachableControl(Window* dialog, int id) {
    Window* control = FindControl(dialog, id);
    if (control == nullptr || !IsShown(control) || !IsEnabled(control)) return nullptr;
    return control;
}

bool IsAutoRadio(const Window* control) {
    return control->className == "BUTTON" &&
           (control->style & BS_TYPEMASK) == static_cast<DWORD>(BS_AUTORADIOBUTTON);
}

// An automatic radio button unchecks the other automatic radio buttons of its group: the
// controls from the last one with WS_GROUP before it up to the next one with WS_GROUP.
void CheckInGroup(Window* dialog, Window* chosen) {
    const std::vector<Window*>& controls = dialog->controls;
    size_t index = 0;
    while (controls[index] != chosen) ++index;
    size_t first = index;
    while (first > 0 && (controls[first]->style & WS_GROUP) == 0) --first;
    size_t end = index + 1;
    while (end < controls.size() && (controls[end]->style & WS_GROUP) == 0) ++end;
    for (size_t i = first; i < end; ++i) {
        if (controls[i] != chosen && IsAutoRadio(controls[i])) controls[i]->check = BST_UNCHECKED;
    }
    chosen->check = BST_CHECKED;
}

void Command(Window* dialog, int id, WORD code, Window* control) {
    Deliver(dialog, WM_COMMAND, MAKEWPARAM(id, code),
            reinterpret_cast<LPARAM>(control != nullptr ? Handle(control) : nullptr));
}

}  // namespace
}  // namespace detail

bool Click(HWND dialog, int id) {
    detail::Window* parent = detail::ReachableDialog(dialog);
    detail::Window* button = detail::ReachableControl(parent, id);
    if (button == nullptr || button->className != "BUTTON") return false;
    switch (button->style & BS_TYPEMASK) {
        case BS_GROUPBOX:
            return false;
        case BS_AUTOCHECKBOX:
            button->check = button->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
            break;
        case BS_AUTO3STATE:
            button->check = (button->check + 1) % 3;
            break;
        case BS_AUTORADIOBUTTON:
            detail::CheckInGroup(parent, button);
            break;
        default:
            break;
    }
    detail::Command(parent, id, BN_CLICKED, button);
    return true;
}

void PressEscape(HWND dialog) {
    detail::Window* parent = detail::ReachableDialog(dialog);
    if (parent != nullptr) {
        detail::Command(parent, IDCANCEL, BN_CLICKED, detail::FindControl(parent, IDCANCEL));
    }
}

void PressEnter(HWND dialog) {
    detail::Window* parent = detail::ReachableDialog(dialog);
    if (parent != nullptr) {
        detail::Command(parent, IDOK, BN_CLICKED, detail::FindControl(parent, IDOK));
    }
}

void CloseWindow(HWND dialog) {
    detail::Window* parent = detail::ReachableDialog(dialog);
    if (parent != nullptr) detail::Deliver(parent, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void SetControlText(HWND dialog, int id, const std::string& text) {
    detail::Window* parent = detail::ReachableDialog(dialog);
    detail::Window* field = detail::ReachableControl(parent, id);
    if (field == nullptr) return;
    WORD code;
    if (field->className == "EDIT") {
        code = EN_CHANGE;
    } else if (field->className == "COMBOBOX") {
        code = CBN_EDITCHANGE;
    } else {
        return;
    }
    detail::SetText(field, text);
    detail::Command(parent, id, code, field);
}

void SelectComboItem(HWND dialog, int id, int index) {
    detail::Window* parent = detail::ReachableDialog(dialog);
    detail::Window* combo = detail::ReachableControl(parent, id);
    if (combo == nullptr || combo->className != "COMBOBOX") return;
    if (index < 0) {
        combo->selection = CB_ERR;
        combo->text.clear();
        return;
    }
    if (index >= static_cast<int>(combo->items.size())) return;
    combo->selection = index;
    combo->text = combo->items[index];
    detail::Command(parent, id, CBN_SELCHANGE, combo);
}

}  // namespace standin
