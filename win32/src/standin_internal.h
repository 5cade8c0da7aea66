// What the two halves of the Win32 stand-in share: the kernel and HID half (kernel.cpp and its
// neighbours) and the window half (user32 and the common dialogs).
#pragma once

#include <windows.h>

namespace standin {
namespace detail {

// Puts the window half back to its start state. standin::Reset() calls it after resetting the
// kernel half, without holding any lock of the kernel half.
void ResetUser();

// Whether HidD_* calls and texts set are recorded (SetHistoryKept); any thread.
bool HistoryKept();

// The module that GetModuleHandleA(NULL) answers. By default a fixed instance of its own; the
// window half may make it the module whose resources a test registered, as on Windows the
// program's own module is the one that holds its dialogs. Reset() restores the default.
void SetMainModule(HINSTANCE module);
HINSTANCE MainModule();

}  // namespace detail
}  // namespace standin
