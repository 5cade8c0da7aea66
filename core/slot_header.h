// The slot header format and the header part written in front of each kind of image.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/flash_layout.h"
#include "data/vgc_block.h"

// 256 bytes at offset 0 of the first slot of a run. In flash both words are big-endian; in the
// HeaderDirectory they are held in host order.
struct SlotHeader {
    char magic[kMagicSize];
    char name[kNameSize];
    uint32_t reserved;
    uint32_t size;
};
static_assert(sizeof(SlotHeader) == kHeaderSize, "the slot header is 256 bytes");

// The kind of an input file: the index of the chosen filter minus one.
enum class ImageKind : int32_t { Bios = 0, Dol = 1, Elf = 2, Vgc = 3 };

constexpr uint32_t kVgcHeaderPartSize = kHeaderSize + kVgcBlockSize;  // 2048
constexpr size_t kVgcFileHeaderSize = 32;
constexpr size_t kVgcFlagsByte = 4;
constexpr uint8_t kVgcEncryptedBit = 0x02;

// Image length L: file length plus the header part the system generates (none for .gcb).
uint64_t ImageLength(ImageKind kind, uint64_t fileLength);
// Slots needed for L bytes: L rounded up to 64 KB, divided by 64 KB. Never wraps.
uint64_t SlotCountFor(uint64_t imageLength);
// 1 when the kind must start at an even slot (.gcb and VGC), else 0.
int32_t AlignMaskFor(ImageKind kind);
// The size field for L: rounded up to a multiple of 64 KB (saturated at 32 bits).
uint32_t SizeFieldFor(uint64_t imageLength);
// Length of the header part at the start of the image: 256, or 2048 for VGC.
uint32_t HeaderPartSize(ImageKind kind);

// Stores the size big-endian in bytes 252-255.
void PutSizeField(uint8_t* header, uint32_t size);
// A generated header: zeros, the magic, the path as name (its end kept when too long), the size.
void MakeGeneratedHeader(uint8_t* header, const char* magic, const char* path, uint32_t size);
// The name written for a path: the path itself, or "..." and its last 240 characters when the
// path and its terminator would not fit in the 244 bytes of the name field.
void PutNameField(uint8_t* header, const char* path);
// Builds the header part for a kind into out (HeaderPartSize bytes). For Bios, gcbHead holds
// the file's own first 256 bytes; for the others it is ignored.
void BuildHeaderPart(uint8_t* out, ImageKind kind, const char* path, uint64_t fileLength,
                     const uint8_t* gcbHead);

uint32_t ReadBigEndian32(const uint8_t* bytes);
void WriteBigEndian32(uint8_t* bytes, uint32_t value);
