// What the files of the stand-in's window half share: the window objects that HWNDs point to,
// the modal state, and the routines that deliver messages to windows.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "win32/src/dialog_template.h"
#include "win32/standin.h"

namespace standin {
namespace detail {

// One window: a dialog or one of its controls. An HWND is the address of one of these. Windows
// stay allocated until ResetUser so that a stale HWND is recognised (and tests can still look at
// a dialog that has ended); a destroyed one no longer answers the Win32 calls.
struct Window {
    bool isDialog = false;
    Window* parent = nullptr;  // the dialog of a control
    int id = 0;
    std::string className;
    std::string text;
    int titleOrdinal = 0;
    DWORD style = 0;  // WS_VISIBLE and WS_DISABLED carry the visible and enabled state
    DWORD exStyle = 0;
    DWORD helpId = 0;
    Rect place;
    int check = BST_UNCHECKED;
    std::vector<std::string> items;
    int selection = CB_ERR;
    std::vector<std::string> textHistory;
    int repaints = 0;

    // Dialogs only.
    std::vector<Window*> controls;  // template order
    DialogInfo info;
    DLGPROC proc = nullptr;
    Window* owner = nullptr;
    bool ended = false;
    bool destroyed = false;
    INT_PTR result = 0;
};

// --- the window model (windows_model.cpp)
Window* NewDialog(const DialogInfo& info, DLGPROC proc);
Window* AddControl(Window* dialog, const ControlInfo& control);
// Marks the dialog and its controls destroyed; the objects stay until ResetUser.
void DestroyDialog(Window* dialog);
// Any window created since the last reset, destroyed or not; null for anything else.
Window* KnownWindow(HWND window);
// A window that still exists; null (with ERROR_INVALID_WINDOW_HANDLE) otherwise.
Window* LiveWindow(HWND window);
Window* FindControl(const Window* dialog, int id);
// The dialog a window belongs to: itself for a dialog.
Window* TopLevel(Window* window);
HWND Handle(Window* window);
bool IsEnabled(const Window* window);
bool IsShown(const Window* window);
void SetText(Window* window, const std::string& text);  // with the text history
// Button kinds whose check mark is kept; the others ignore SetCheck, as they ignore BM_SETCHECK.
bool HoldsCheck(const Window* window);
void SetCheck(Window* button, WPARAM state);
// GetWindowTextA's copy: at most size - 1 characters and a zero; returns the count copied.
int CopyText(const std::string& text, LPSTR buffer, int size);
void ResetWindows();

// --- registered modules (resource_module.cpp)
// Finds and parses dialog template `name` of the module (a null instance: the program's own).
// Returns ERROR_SUCCESS or the error code that DialogBoxParamA leaves behind.
DWORD LoadDialogTemplate(HINSTANCE instance, LPCSTR name, DialogTemplate* dialog);
void ResetModules();

// --- messages (message_queue.cpp)
// Delivers a message as SendMessageA does, with the dialog manager's default handling.
LRESULT Deliver(Window* window, UINT message, WPARAM wParam, LPARAM lParam);
// Drops the window from the set that PostMessageA accepts.
void ForgetPostTarget(const Window* window);
void AddPostTarget(const Window* window);
void ResetMessages();

// --- modal boxes (dialog_box.cpp, message_box.cpp, file_dialogs.cpp)
// A modal box or dialog disables its owner's top-level window while it is open, as Windows
// does; the returned window is the one to enable again afterwards (null when there is none).
Window* DisableOwner(HWND owner);
void EnableOwner(Window* disabled);
void ResetDialogs();
void ResetMessageBoxes();
void ResetFileDialogs();

}  // namespace detail
}  // namespace standin
