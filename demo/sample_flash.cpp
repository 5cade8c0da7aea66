// The sample catalogue of a new demo board.
#include "demo/sample_flash.h"

#include <cstring>

namespace {

constexpr size_t kHeaderSize = 256;
constexpr size_t kNameOffset = 4;
constexpr size_t kSizeOffset = 252;
constexpr uint8_t kErased = 0xFF;

constexpr uint8_t kBiosMagic[4] = {'(', 'C', ')', ' '};
constexpr uint8_t kApplicationMagic[4] = {'E', 'L', 'F', 0};
// Not one of the four magics the catalogue knows: it shows as "???".
constexpr uint8_t kUnknownMagic[4] = {0x12, 0x34, 0x56, 0x78};

// How much of their runs the images really fill: the tool writes only the image, so the tail
// of an image's last slot stays erased on a real board as well.
constexpr size_t kBiosLength = 2 * kDemoSlotSize - 4096;
constexpr size_t kApplicationLength = 2 * kDemoSlotSize + 40000;
constexpr size_t kUnknownLength = 4096;

// A fixed pattern that looks like code, not like a fill value.
void FillPattern(uint8_t* bytes, size_t length, uint32_t seed) {
    uint32_t state = seed;
    for (size_t i = 0; i < length; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = static_cast<uint8_t>(state >> 24);
    }
}

void PutHeader(uint8_t* head, const uint8_t (&magic)[4], const char* name, uint32_t size) {
    std::memset(head, 0, kHeaderSize);
    std::memcpy(head, magic, sizeof(magic));
    std::memcpy(head + kNameOffset, name, std::strlen(name) + 1);
    head[kSizeOffset] = static_cast<uint8_t>(size >> 24);
    head[kSizeOffset + 1] = static_cast<uint8_t>(size >> 16);
    head[kSizeOffset + 2] = static_cast<uint8_t>(size >> 8);
    head[kSizeOffset + 3] = static_cast<uint8_t>(size);
}

void PutImage(std::vector<uint8_t>& flash, int slot, int slots, const uint8_t (&magic)[4],
              const char* name, size_t length, uint32_t seed) {
    uint8_t* head = flash.data() + static_cast<size_t>(slot) * kDemoSlotSize;
    FillPattern(head + kHeaderSize, length - kHeaderSize, seed);
    PutHeader(head, magic, name, static_cast<uint32_t>(slots * kDemoSlotSize));
}

}  // namespace

std::vector<uint8_t> BuildSampleFlash() {
    std::vector<uint8_t> flash(kDemoFlashSize, kErased);
    PutImage(flash, kSampleBiosSlot, kSampleBiosSlots, kBiosMagic, kSampleBiosName, kBiosLength,
             0xB105);
    PutImage(flash, kSampleApplicationSlot, kSampleApplicationSlots, kApplicationMagic,
             kSampleApplicationName, kApplicationLength, 0xA991);
    uint8_t* unknown = flash.data() + kSampleUnknownSlot * kDemoSlotSize;
    FillPattern(unknown, kUnknownLength, 0x5107);
    std::memcpy(unknown, kUnknownMagic, sizeof(kUnknownMagic));
    return flash;
}
