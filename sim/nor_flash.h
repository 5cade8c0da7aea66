// NOR flash rules of the board's 2 MB part: erasing sets bytes to 0xFF, programming can only
// clear bits. Internal to the simulated board.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim::detail {

// Sets [address, address + length) to 0xFF; the range must lie inside the flash.
void NorErase(std::vector<uint8_t>& flash, size_t address, size_t length);

// Programs count bytes from address on: each byte becomes old AND new, as a NOR cell can only
// go from 1 to 0. Bytes that would land past the end of the flash are dropped. Returns the
// number of bytes that landed.
size_t NorProgram(std::vector<uint8_t>& flash, size_t address, const uint8_t* bytes, size_t count);

// Copies count bytes from address on; past the end of the flash the bus floats high (0xFF).
void NorRead(const std::vector<uint8_t>& flash, size_t address, uint8_t* out, size_t count);

}  // namespace sim::detail
