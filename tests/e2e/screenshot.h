// Screenshots for the end-to-end run: what the screen shows of a process's windows, as PNG.
#pragma once

#include <windows.h>

#include <string>

// Captures the smallest rectangle of the screen that holds every visible top-level window of
// the process that owns window (dialogs and message boxes on top included) and writes it to
// path as a PNG. False, with why in problem, when that failed.
bool SaveWindowShot(HWND window, const std::string& path, std::string& problem);
