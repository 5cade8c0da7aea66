// The fixed 1792-byte block that follows the header of every VGC image.
#pragma once

#include <cstddef>
#include <cstdint>

// The build reads this size from here and refuses a data file of any other.
constexpr uint32_t kVgcBlockSize = 1792;

extern const uint8_t VgcBlock[kVgcBlockSize];
