// The fixed 1792-byte block that follows the header of every VGC image.
#pragma once

#include <cstdint>

extern const uint8_t VgcBlock[1792];
