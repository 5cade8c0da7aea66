// Where an image of a given size and alignment may start.
#include "catalogue/placement.h"

#include <cstdint>

#include "catalogue/catalogue_scan.h"
#include "catalogue/flash_layout.h"

namespace {

constexpr int kNoPlace = -1;

bool IsFreeSlot(int32_t slot) { return SlotMap[slot].state == Free; }

}  // namespace

int CanPlace(int32_t start, int32_t count, int32_t alignMask) {
    if (start < 0 || start >= kSlotCount) return 0;
    if ((start & alignMask) != 0) return 0;
    // A negative count can only come from a slot count that did not fit in 32 bits: an image
    // far larger than the flash, which must never pass as an empty one.
    if (count < 0) return 0;
    if (!IsFreeSlot(start)) return 0;
    // Stops at the first slot past the flash, so start + j never overflows for large counts.
    for (int32_t j = 0; j < count; ++j) {
        if (start + j >= kSlotCount) return 0;
        if (!IsFreeSlot(start + j)) return 0;
    }
    return 1;
}

int FirstPlace(int32_t count, int32_t alignMask) {
    for (int32_t start = 0; start < kSlotCount; ++start) {
        if (CanPlace(start, count, alignMask)) return start;
    }
    return kNoPlace;
}
