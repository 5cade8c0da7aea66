// The slot map: the 32 slots classified from the headers at the start of each run, and where a
// new image may start. Plain functions over bytes and headers, shared by the window program and
// the command-line tool, so that the two always agree about a board.
#pragma once

#include <cstdint>

#include "core/flash_layout.h"
#include "core/slot_header.h"

// Stored as a 32-bit signed value with these numbers, so the type is fixed underneath.
enum class SlotState : int32_t { Free = 0, Used = 1, Corrupted = 2 };

struct SlotEntry {
    SlotState state;
    int32_t owner;  // first slot of the run; -1 when free; itself when corrupted
};

static_assert(sizeof(SlotState) == sizeof(int32_t), "a slot's state is a 32-bit value");
static_assert(sizeof(SlotEntry) == 2 * sizeof(int32_t), "a slot entry is two 32-bit values");

constexpr int32_t kNoOwner = -1;

constexpr char kLabelFree[] = "free";
constexpr char kLabelBios[] = "BIOS";
constexpr char kLabelApplication[] = "Appl.";
constexpr char kLabelCorrupted[] = "???";
constexpr char kLabelContinuation[] = "...";

// Converts the header's two big-endian words (reserved and size) to host order, in place.
void HeaderToHostOrder(SlotHeader& header);
// All 256 bytes 0xFF: the slot is free.
bool IsErasedHeader(const SlotHeader& header);
bool MagicIs(const SlotHeader& header, const char (&magic)[kMagicSize]);

// Classifies slot `slot` from its header (in host order) and settles the slots of its run in
// map and labels (each an array of 32). A size that runs past the end of the flash is set to 0
// in the header first. Returns the number of slots settled, at least 1, never past slot 31.
int ClassifySlot(SlotHeader& header, int slot, SlotEntry* map, const char** labels);

// Whether an image of count slots may be written from slot start on map.
bool CanPlaceOn(const SlotEntry* map, int32_t start, int32_t count, int32_t alignMask);
// The first start that passes on map, or -1 when there is no room.
int FirstPlaceOn(const SlotEntry* map, int32_t count, int32_t alignMask);
// The slots owned by owner, counted from owner on while the map names it: 0 when owner is out of
// range or does not own itself.
int RunOf(const SlotEntry* map, int32_t owner);
