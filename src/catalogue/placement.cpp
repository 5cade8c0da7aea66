// Where an image of a given size and alignment may start, on the map of the last scan.
#include "catalogue/placement.h"

#include <cstdint>

#include "catalogue/catalogue_scan.h"
#include "core/slot_map.h"

bool CanPlace(int32_t start, int32_t count, int32_t alignMask) {
    return CanPlaceOn(SlotMap, start, count, alignMask);
}

int FirstPlace(int32_t count, int32_t alignMask) { return FirstPlaceOn(SlotMap, count, alignMask); }
