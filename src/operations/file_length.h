// The length of an image file, in 64 bits on every platform.
#pragma once

#include <cstdint>
#include <fstream>

// Measures an open file from its end position and seeks back to its start. False when the
// stream cannot seek or tell; the stream's state is cleared first, so a file that was read to
// its end can be measured. std::streamoff is 64 bits on Windows too, where long (and so ftell)
// is only 32.
bool MeasureFile(std::ifstream& file, uint64_t& length);
