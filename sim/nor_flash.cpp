#include "sim/nor_flash.h"

#include <algorithm>

namespace sim::detail {

void NorErase(std::vector<uint8_t>& flash, size_t address, size_t length) {
    std::fill(flash.begin() + address, flash.begin() + address + length, uint8_t{0xFF});
}

size_t NorProgram(std::vector<uint8_t>& flash, size_t address, const uint8_t* bytes, size_t count) {
    if (address >= flash.size()) {
        return 0;
    }
    const size_t landed = std::min(count, flash.size() - address);
    for (size_t i = 0; i < landed; ++i) {
        flash[address + i] &= bytes[i];
    }
    return landed;
}

void NorRead(const std::vector<uint8_t>& flash, size_t address, uint8_t* out, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const size_t at = address + i;
        out[i] = at < flash.size() ? flash[at] : uint8_t{0xFF};
    }
}

}  // namespace sim::detail
