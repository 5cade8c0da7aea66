// The flash that a new demo board comes with: a small catalogue made for the demo, so that the
// window has something of every kind to show.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr size_t kDemoFlashSize = 2 * 1024 * 1024;
constexpr size_t kDemoSlotSize = 64 * 1024;

// Where the sample puts things.
constexpr int kSampleBiosSlot = 0;  // two slots, magic "(C) "
constexpr int kSampleBiosSlots = 2;
constexpr int kSampleApplicationSlot = 2;  // three slots, magic "ELF\0"
constexpr int kSampleApplicationSlots = 3;
constexpr int kSampleUnknownSlot = 5;  // left-over data whose first bytes are no known magic

constexpr char kSampleBiosName[] = "kelm demo BIOS 1.0";
constexpr char kSampleApplicationName[] = "C:\\kelm\\samples\\hello-kelm.dol";

// All 2,097,152 bytes: the three images above, every other slot erased (0xFF). The image
// bodies are a fixed pseudo-random pattern, the same on every call.
std::vector<uint8_t> BuildSampleFlash();
