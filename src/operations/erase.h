// Erasing an application: every slot it owns, each under a bus request of its own.
#pragma once

#include <windows.h>

void EraseApplication(HWND window, int owner);
