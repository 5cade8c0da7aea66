// Backing an application up into a .gcb file: a raw copy of its slots.
#pragma once

#include <windows.h>

// The slots from owner on whose SlotMap owner is owner (0 when owner is not a run head).
int CountSlotRun(int owner);
// Returns 1 when the file was written and "Done!" shown, else 0.
int BackupApplication(HWND window, int owner);
