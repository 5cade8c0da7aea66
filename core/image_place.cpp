// Where an image goes on a board and how much of the flash compares against it.
#include "core/image_place.h"

#include <algorithm>
#include <cstring>

#include "core/flash_layout.h"

namespace {

// "2 slots, starting at an even slot".
std::string Needs(const ImageLayout& image) {
    return std::to_string(image.slots) + (image.slots == 1 ? " slot" : " slots") +
           (image.alignMask != 0 ? ", starting at an even slot" : "");
}

}  // namespace

std::optional<std::string> SizeRefusal(const ImageLayout& image, const std::string& shown) {
    if (image.slots <= kSlotCount) return std::nullopt;
    return shown + " needs more than the 32 slots of the flash";
}

std::optional<std::string> PlaceImage(const SlotEntry* map, const ImageLayout& image,
                                      const std::string& shown, int wanted, int placedBefore,
                                      int& start) {
    if (wanted >= 0) {
        if (!CanPlaceOn(map, wanted, image.slots, image.alignMask)) {
            return "slot " + std::to_string(wanted) + " cannot take " + shown + " (it needs " +
                   Needs(image) + ")";
        }
        start = wanted;
        return std::nullopt;
    }
    const int first = FirstPlaceOn(map, image.slots, image.alignMask);
    if (first < 0) {
        const std::string before =
            placedBefore == 0 ? ""
            : placedBefore == 1
                ? " once the image before it is placed"
                : " once the " + std::to_string(placedBefore) + " images before it are placed";
        return "not enough free space for " + shown + " (it needs " + Needs(image) + ")" + before +
               ": erase something first";
    }
    start = first;
    return std::nullopt;
}

uint64_t ReadBackLength(const ImageLayout& image) {
    return (image.imageLength + kChunkSize - 1) / kChunkSize * kChunkSize;
}

uint64_t VerifyLength(int first, int count, int imageSlots) {
    const uint64_t address = static_cast<uint64_t>(first) * kSlotSize;
    const uint64_t slots = static_cast<uint64_t>(std::max(count, imageSlots));
    return std::min<uint64_t>(slots * kSlotSize, kFlashSize - address);
}

bool TakeStoredName(ImageLayout& image, const uint8_t* storedHeader) {
    if (image.kind == ImageKind::Bios ||
        std::memcmp(storedHeader + kNameOffset, image.headerPart + kNameOffset, kNameSize) == 0) {
        return false;
    }
    std::memcpy(image.headerPart + kNameOffset, storedHeader + kNameOffset, kNameSize);
    return true;
}
