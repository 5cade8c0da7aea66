// Tests build windows by hand and look inside windows; also the reset of the whole window half.
#include <windows.h>

#include "win32/src/standin_internal.h"
#include "win32/src/user_internal.h"

namespace standin {
namespace detail {
namespace {

// The predefined classes are named in capitals whatever the test wrote: class names are not
// case sensitive on Windows.
std::string ClassOf(const std::string& name) {
    static const char* const kKnown[] = {"BUTTON",  "EDIT",      "STATIC",
                                         "LISTBOX", "SCROLLBAR", "COMBOBOX"};
    std::string upper = name;
    for (char& ch : upper) {
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    }
    for (const char* known : kKnown) {
        if (upper == known) return upper;
    }
    return name;
}

// Tests may look at a dialog that has ended or been destroyed.
Window* Control(HWND dialog, int id) { return FindControl(KnownWindow(dialog), id); }

ControlInfo InfoOf(const Window* control) {
    ControlInfo info;
    info.id = control->id;
    info.className = control->className;
    info.text = control->text;
    info.titleOrdinal = control->titleOrdinal;
    info.style = control->style;
    info.exStyle = control->exStyle;
    info.helpId = control->helpId;
    info.place = control->place;
    info.check = control->check;
    return info;
}

}  // namespace

void ResetUser() {
    ResetDialogs();
    ResetMessageBoxes();
    ResetFileDialogs();
    ResetMessages();
    ResetWindows();
    ResetModules();
}

}  // namespace detail

HWND CreateTestDialog(const std::vector<ControlSpec>& controls, DLGPROC proc) {
    detail::Window* dialog = detail::NewDialog(DialogInfo(), proc);
    dialog->style = WS_POPUP | WS_VISIBLE;
    for (const ControlSpec& spec : controls) {
        ControlInfo info;
        info.id = spec.id;
        info.className = detail::ClassOf(spec.className);
        info.text = spec.text;
        info.style = spec.style;
        info.exStyle = spec.exStyle;
        detail::Window* control = detail::AddControl(dialog, info);
        control->items = spec.items;
    }
    return detail::Handle(dialog);
}

void DestroyTestDialog(HWND dialog) {
    detail::Window* window = detail::KnownWindow(dialog);
    if (window != nullptr && window->isDialog) detail::DestroyDialog(window);
}

bool HasControl(HWND dialog, int id) { return detail::Control(dialog, id) != nullptr; }

std::string Text(HWND dialog, int id) {
    detail::Window* control = detail::Control(dialog, id);
    return control != nullptr ? control->text : "";
}

std::string Title(HWND dialog) {
    detail::Window* window = detail::KnownWindow(dialog);
    return window != nullptr ? window->text : "";
}

bool Enabled(HWND dialog, int id) {
    detail::Window* control = detail::Control(dialog, id);
    return control != nullptr && detail::IsEnabled(control);
}

bool Visible(HWND dialog, int id) {
    detail::Window* control = detail::Control(dialog, id);
    return control != nullptr && detail::IsShown(control);
}

bool Checked(HWND dialog, int id) {
    detail::Window* control = detail::Control(dialog, id);
    return control != nullptr && control->check == BST_CHECKED;
}

DWORD Style(HWND dialog, int id) {
    detail::Window* control = detail::Control(dialog, id);
    return control != nullptr ? control->style : 0;
}

DWORD ExStyle(HWND dialog, int id) {
    detail::Window* control = detail::Control(dialog, id);
    return control != nullptr ? control->exStyle : 0;
}

std::string ClassName(HWND dialog, int id) {
    detail::Window* control = detail::Control(dialog, id);
    return control != nullptr ? control->className : "";
}

Rect Place(HWND dialog, int id) {
    detail::Window* control = detail::Control(dialog, id);
    return control != nullptr ? control->place : Rect();
}

std::vector<int> ControlIds(HWND dialog) {
    std::vector<int> ids;
    detail::Window* window = detail::KnownWindow(dialog);
    if (window == nullptr) return ids;
    for (const detail::Window* control : window->controls) ids.push_back(control->id);
    return ids;
}

std::vector<std::string> TextHistory(HWND dialog, int id) {
    detail::Window* control = detail::Control(dialog, id);
    return control != nullptr ? control->textHistory : std::vector<std::string>();
}

int RepaintCount(HWND dialog) {
    detail::Window* window = detail::KnownWindow(dialog);
    return window != nullptr ? window->repaints : 0;
}

void ClearHistory(HWND dialog) {
    detail::Window* window = detail::KnownWindow(dialog);
    if (window == nullptr) return;
    window->repaints = 0;
    window->textHistory.clear();
    for (detail::Window* control : window->controls) {
        control->textHistory.clear();
        control->repaints = 0;
    }
}

DialogInfo TemplateInfo(HWND dialog) {
    detail::Window* window = detail::KnownWindow(dialog);
    return window != nullptr && window->isDialog ? window->info : DialogInfo();
}

std::vector<ControlInfo> Controls(HWND dialog) {
    std::vector<ControlInfo> controls;
    detail::Window* window = detail::KnownWindow(dialog);
    if (window == nullptr) return controls;
    for (const detail::Window* control : window->controls) {
        controls.push_back(detail::InfoOf(control));
    }
    return controls;
}

}  // namespace standin
