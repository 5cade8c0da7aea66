// The board's flash: 2 MB in 32 slots of 64 KB, each image opening with a 256-byte header.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t kFlashSize = 2 * 1024 * 1024;
constexpr uint32_t kSlotSize = 64 * 1024;
constexpr int kSlotCount = 32;
constexpr uint32_t kChunkSize = 32 * 1024;  // one CMD_WRITE / CMD_READ of an image
constexpr uint32_t kHeaderSize = 256;
constexpr uint8_t kErasedByte = 0xFF;

// SlotHeader field offsets and sizes.
constexpr size_t kMagicOffset = 0;
constexpr size_t kMagicSize = 4;
constexpr size_t kNameOffset = 4;
constexpr size_t kNameSize = 244;  // bytes 4-247
constexpr size_t kReservedOffset = 248;
constexpr size_t kSizeOffset = 252;

// Magics, compared on all four bytes.
constexpr char kMagicBios[4] = {'(', 'C', ')', ' '};
constexpr char kMagicElf[4] = {'E', 'L', 'F', '\0'};
constexpr char kMagicDol[4] = {'D', 'O', 'L', '\0'};
constexpr char kMagicBin[4] = {'B', 'I', 'N', '\0'};
