// The flash menu's action buttons and the slot clicks.
#pragma once

#include <windows.h>

void OnWriteButton(HWND window);  // 1057
void OnReadButton(HWND window);   // 1055
void OnEraseButton(HWND window);  // 1058
void OnAbortButton(HWND window);  // 1059
// A click on slot button id (an entry of SlotButtonIds).
void OnSlotClick(HWND window, int id);
