// Where an image of a given size and alignment may start.
#pragma once

#include <cstdint>

// Whether an image of count slots may be written from slot start.
bool CanPlace(int32_t start, int32_t count, int32_t alignMask);
// The first start that passes, or -1 when there is no room.
int FirstPlace(int32_t count, int32_t alignMask);
