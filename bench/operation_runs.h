// The flash menu's operations as the user starts them, through the menu's own handlers: the
// menu button, the file dialog answered, the slot button clicked.
#pragma once

#include <cstdint>
#include <string>

#include "bench_world.h"

// Open-file filters of .dol and .elf files; the save dialog's one filter is 1.
constexpr int kDolFilter = 2;
constexpr int kElfFilter = 3;
constexpr int kGcbFilter = 1;

// A DOL file that fills all 32 slots (its 256-byte header makes 2 MB), and one that fills one.
constexpr size_t kFullFlashDolBytes = 2096896;
constexpr size_t kOneSlotDolBytes = 65280;

// Every file dialog from now on is answered with this path under this filter.
void ChooseFileAlways(const std::string& path, int filterIndex);

// Write pressed, the chosen image placed from slot `start`.
void WriteImage(const World& world, int start);
// Read pressed, a slot of the application at `owner` clicked.
void BackUp(const World& world, int owner);
// Erase pressed, a slot of the application at `owner` clicked, the question answered Yes.
void Erase(const World& world, int owner);

// All 32 slots free, in flash and in the slot map.
void EraseEverything(const World& world);
// One application over `slots` slots from slot 0 and the slot map to match.
void PrepareApplication(const World& world, int slots);

// Whether the flash from slot `start` holds the DOL or ELF image of `file` (header, then the
// file's bytes).
bool FlashHoldsImage(const World& world, int start, const std::string& file);
// Whether `file` is a byte-for-byte copy of `slots` slots from slot 0.
bool FileHoldsSlots(const World& world, const std::string& file, int slots);
// Whether every slot of the slot map is free.
bool AllSlotsFree();
