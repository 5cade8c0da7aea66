// The slot header format and the header part written in front of each kind of image.
#include "core/slot_header.h"

#include <cstdint>
#include <cstring>

#include "data/vgc_block.h"

namespace {

// A path too long for the name field keeps its end, where the file name is: "..." and the last
// 240 characters, then the terminator, exactly filling the 244 bytes.
constexpr char kEllipsis[] = "...";
constexpr size_t kEllipsisLength = sizeof(kEllipsis) - 1;
constexpr size_t kKeptPathTail = kNameSize - kEllipsisLength - 1;  // 240

// The largest size field that is still a multiple of 64 KB.
constexpr uint32_t kLargestSizeField = 0xFFFF0000u;

static_assert(sizeof(VgcBlock) == kVgcBlockSize, "the VGC block fills image bytes 256-2047");

uint64_t SaturatingAdd(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

}  // namespace

uint32_t ReadBigEndian32(const uint8_t* bytes) {
    return (static_cast<uint32_t>(bytes[0]) << 24) | (static_cast<uint32_t>(bytes[1]) << 16) |
           (static_cast<uint32_t>(bytes[2]) << 8) | static_cast<uint32_t>(bytes[3]);
}

void WriteBigEndian32(uint8_t* bytes, uint32_t value) {
    bytes[0] = static_cast<uint8_t>(value >> 24);
    bytes[1] = static_cast<uint8_t>(value >> 16);
    bytes[2] = static_cast<uint8_t>(value >> 8);
    bytes[3] = static_cast<uint8_t>(value);
}

uint32_t HeaderPartSize(ImageKind kind) {
    return kind == ImageKind::Vgc ? kVgcHeaderPartSize : kHeaderSize;
}

uint64_t ImageLength(ImageKind kind, uint64_t fileLength) {
    // A .gcb file already carries its header in its first 256 bytes.
    if (kind == ImageKind::Bios) return fileLength;
    return SaturatingAdd(fileLength, HeaderPartSize(kind));
}

uint64_t SlotCountFor(uint64_t imageLength) {
    return imageLength / kSlotSize + (imageLength % kSlotSize != 0 ? 1 : 0);
}

int32_t AlignMaskFor(ImageKind kind) {
    return (kind == ImageKind::Bios || kind == ImageKind::Vgc) ? 1 : 0;
}

uint32_t SizeFieldFor(uint64_t imageLength) {
    // Images of 4 GB and more never find room on a 2 MB board; the field only has to stay a
    // multiple of 64 KB that is too large for the flash.
    const uint64_t slots = SlotCountFor(imageLength);
    if (slots > kLargestSizeField / kSlotSize) return kLargestSizeField;
    return static_cast<uint32_t>(slots * kSlotSize);
}

void PutSizeField(uint8_t* header, uint32_t size) { WriteBigEndian32(header + kSizeOffset, size); }

void PutNameField(uint8_t* header, const char* path) {
    uint8_t* name = header + kNameOffset;
    std::memset(name, 0, kNameSize);
    if (path == nullptr) return;
    const size_t length = std::strlen(path);
    if (length + 1 <= kNameSize) {
        std::memcpy(name, path, length);
        return;
    }
    std::memcpy(name, kEllipsis, kEllipsisLength);
    std::memcpy(name + kEllipsisLength, path + length - kKeptPathTail, kKeptPathTail);
}

void MakeGeneratedHeader(uint8_t* header, const char* magic, const char* path, uint32_t size) {
    std::memset(header, 0, kHeaderSize);
    std::memcpy(header + kMagicOffset, magic, kMagicSize);
    PutNameField(header, path);
    PutSizeField(header, size);
}

void BuildHeaderPart(uint8_t* out, ImageKind kind, const char* path, uint64_t fileLength,
                     const uint8_t* gcbHead) {
    const uint32_t size = SizeFieldFor(ImageLength(kind, fileLength));
    switch (kind) {
        case ImageKind::Bios:
            // Stored as the file has it, magic and reserved word included; only the size is
            // recomputed, since a backup's own size field may no longer match its length.
            std::memcpy(out, gcbHead, kHeaderSize);
            PutSizeField(out, size);
            break;
        case ImageKind::Vgc:
            MakeGeneratedHeader(out, kMagicBios, path, size);
            std::memcpy(out + kHeaderSize, VgcBlock, kVgcBlockSize);
            break;
        case ImageKind::Dol:
        case ImageKind::Elf:
        default:
            // DOL images are written with the ELF magic too; "DOL" is only ever read.
            MakeGeneratedHeader(out, kMagicElf, path, size);
            break;
    }
}
