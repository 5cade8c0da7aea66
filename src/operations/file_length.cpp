// The length of an image file, in 64 bits on every platform.
#include "operations/file_length.h"

#include <cstdint>
#include <fstream>
#include <ios>

bool MeasureFile(std::ifstream& file, uint64_t& length) {
    file.clear();
    file.seekg(0, std::ios::end);
    const std::streamoff end = file.tellg();
    if (!file || end < 0) return false;
    file.seekg(0, std::ios::beg);
    if (!file) return false;
    length = static_cast<uint64_t>(end);
    return true;
}
