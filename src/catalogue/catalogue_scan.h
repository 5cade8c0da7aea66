// The catalogue scan: slot headers read from the board, turned into the slot map and labels.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/flash_layout.h"
#include "core/slot_header.h"
#include "core/slot_map.h"

// Written by the dialog thread only (ScanCatalogue).
extern SlotEntry SlotMap[kSlotCount];
extern SlotHeader HeaderDirectory[kSlotCount];

// The control identifiers of the 32 slot buttons, by slot.
extern const int SlotButtonIds[kSlotCount];
// The slot of a slot button's identifier, or -1 when the identifier is no slot button.
int SlotForButtonId(int id);

constexpr char kScanDoneText[] = "KELM OK!";

void ScanCatalogue(HWND window);
