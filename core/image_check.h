// What a write makes of an image file and which files it refuses, judged from the file's kind,
// its length and its first bytes alone, so that every program that writes images (kelmtool, the
// web page) refuses the same files in the same words and puts the same bytes in front of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "core/slot_header.h"

// The file's first bytes that the checks look at (fewer when the file is shorter).
constexpr size_t kImageHeadSize = kHeaderSize;

// "gcb", "dol", "elf" or "vgc" (any case), as extensions name them.
std::optional<ImageKind> KindFromName(const std::string& name);
const char* KindName(ImageKind kind);

// The image as a write puts it on the flash.
struct ImageLayout {
    ImageKind kind = ImageKind::Bios;
    uint64_t fileLength = 0;
    uint64_t imageLength = 0;  // L: header part and file, as on the flash
    int32_t slots = 0;         // kSlotCount + 1 when it needs more than the flash has
    int32_t alignMask = 0;
    uint8_t headerPart[kVgcHeaderPartSize] = {};
    uint32_t headerPartSize = 0;
};

// Checks a file of a kind: a DOL its own header, an ELF its magic, a VGC not marked encrypted, a
// .gcb longer than its header and with a magic some slot header has, nothing empty. head holds
// the file's first min(fileLength, kImageHeadSize) bytes; shown names the file in the refusal.
// Returns the refusal, or nothing when the file may be written.
std::optional<std::string> RefusalOf(ImageKind kind, uint64_t fileLength, const uint8_t* head,
                                     const std::string& shown);

// The layout of an accepted file, its name field holding nameText.
void LayOutImage(ImageKind kind, uint64_t fileLength, const uint8_t* head,
                 const std::string& nameText, ImageLayout& layout);

// Image bytes [offset, offset + count) that come from the header part, copied into out; returns
// how many did (the rest, up to the image's end, is the file's from FileOffset on).
uint32_t CopyHeaderPart(const ImageLayout& layout, uint64_t offset, uint8_t* out, uint32_t count);
// Where image byte offset (past the header part) sits in the file: a .gcb's own first 256 bytes
// are its header part already.
uint64_t FileOffset(const ImageLayout& layout, uint64_t offset);

// "game.dol needs 3 slots, but the image at slot 4 has 2": why an image compared with a file of
// another length differs, said instead of the size field's byte where they first differ.
std::string DescribeSlotsNeeded(const std::string& file, int slots, int first, int count);
