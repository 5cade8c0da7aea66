// The slot map: the 32 slots classified from the headers at the start of each run, and where a
// new image may start.
#include "core/slot_map.h"

#include <cstdint>
#include <cstring>

namespace {

// The run of a header whose size is 0 or does not fit in the rest of the flash.
constexpr int kDefaultRunLength = 2;
constexpr int kNoPlace = -1;

// Slots of the run headed by slot `head`; clamps a size that runs past the end of the flash to
// 0 first, in the header as well.
int RunLength(SlotHeader& header, int head) {
    const uint32_t bytesLeft = kFlashSize - static_cast<uint32_t>(head) * kSlotSize;
    if (header.size > bytesLeft) header.size = 0;
    if (header.size == 0) return kDefaultRunLength;
    return static_cast<int>((static_cast<uint64_t>(header.size) + kSlotSize - 1) / kSlotSize);
}

bool IsFreeSlot(const SlotEntry* map, int32_t slot) { return map[slot].state == SlotState::Free; }

}  // namespace

void HeaderToHostOrder(SlotHeader& header) {
    uint8_t* bytes = reinterpret_cast<uint8_t*>(&header);
    header.reserved = ReadBigEndian32(bytes + kReservedOffset);
    header.size = ReadBigEndian32(bytes + kSizeOffset);
}

bool IsErasedHeader(const SlotHeader& header) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&header);
    for (uint32_t i = 0; i < kHeaderSize; ++i) {
        if (bytes[i] != kErasedByte) return false;
    }
    return true;
}

bool MagicIs(const SlotHeader& header, const char (&magic)[kMagicSize]) {
    return std::memcmp(header.magic, magic, kMagicSize) == 0;
}

int ClassifySlot(SlotHeader& header, int slot, SlotEntry* map, const char** labels) {
    if (IsErasedHeader(header)) {
        map[slot] = {SlotState::Free, kNoOwner};
        labels[slot] = kLabelFree;
        return 1;
    }
    const char* label = nullptr;
    if (MagicIs(header, kMagicElf) || MagicIs(header, kMagicDol) || MagicIs(header, kMagicBin)) {
        label = kLabelApplication;
    } else if (MagicIs(header, kMagicBios)) {
        label = kLabelBios;
    } else {
        // Its size cannot be trusted, so it blocks only itself.
        map[slot] = {SlotState::Corrupted, slot};
        labels[slot] = kLabelCorrupted;
        return 1;
    }
    labels[slot] = label;
    int run = RunLength(header, slot);
    // A default run that starts in the last slot has nowhere to put its second slot.
    if (run > kSlotCount - slot) run = kSlotCount - slot;
    for (int k = slot; k < slot + run; ++k) {
        map[k] = {SlotState::Used, slot};
        if (k != slot) labels[k] = kLabelContinuation;
    }
    return run;
}

bool CanPlaceOn(const SlotEntry* map, int32_t start, int32_t count, int32_t alignMask) {
    if (start < 0 || start >= kSlotCount) return false;
    if ((start & alignMask) != 0) return false;
    // A negative count can only come from a slot count that did not fit in 32 bits: an image
    // far larger than the flash, which must never pass as an empty one.
    if (count < 0) return false;
    if (!IsFreeSlot(map, start)) return false;
    // Stops at the first slot past the flash, so start + j never overflows for large counts.
    for (int32_t j = 0; j < count; ++j) {
        if (start + j >= kSlotCount) return false;
        if (!IsFreeSlot(map, start + j)) return false;
    }
    return true;
}

int FirstPlaceOn(const SlotEntry* map, int32_t count, int32_t alignMask) {
    for (int32_t start = 0; start < kSlotCount; ++start) {
        if (CanPlaceOn(map, start, count, alignMask)) return start;
    }
    return kNoPlace;
}

int RunOf(const SlotEntry* map, int32_t owner) {
    if (owner < 0 || owner >= kSlotCount || map[owner].owner != owner) return 0;
    int run = 0;
    while (owner + run < kSlotCount && map[owner + run].owner == owner) ++run;
    return run;
}
