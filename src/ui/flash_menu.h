// The flash menu's modes and the enabled and checked states of its buttons.
#pragma once

#include <windows.h>

#include <cstdint>

enum class MenuMode : int32_t { Idle = 0, Write = 1, Read = 2, Erase = 3 };

// Changed only by SetFlashMenuMode. Dialog thread only.
extern MenuMode FlashMenuMode;

constexpr int kNoSlot = -2;  // HighlightApplication: uncheck all

void SetFlashMenuMode(HWND window, MenuMode mode);
void DisableFlashMenu(HWND window);
void HighlightApplication(HWND window, int slot);
void HighlightRange(HWND window, int start, int count);
void EnableSlotsByUse(HWND window, bool used);
void EnablePlacementStarts(HWND window, int count, int alignMask);
