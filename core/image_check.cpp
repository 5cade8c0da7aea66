// What a write makes of an image file and which files it refuses.
#include "core/image_check.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "core/flash_layout.h"

namespace {

constexpr uint64_t kDolHeaderSize = 256;  // a DOL file's own header, before its sections
constexpr uint8_t kElfFileMagic[4] = {0x7f, 'E', 'L', 'F'};

struct KindNameEntry {
    const char* name;
    ImageKind kind;
};
constexpr KindNameEntry kKindNames[] = {
    {"gcb", ImageKind::Bios},
    {"dol", ImageKind::Dol},
    {"elf", ImageKind::Elf},
    {"vgc", ImageKind::Vgc},
};

bool IsKnownMagic(const uint8_t* head) {
    for (const char* magic : {kMagicBios, kMagicElf, kMagicDol, kMagicBin}) {
        if (std::memcmp(head + kMagicOffset, magic, kMagicSize) == 0) return true;
    }
    return false;
}

// "the magic 41 42 43 44 ("ABCD")": the bytes, and as text where they are printable.
std::string DescribeMagic(const uint8_t* head) {
    std::string hex;
    std::string text;
    for (size_t i = 0; i < kMagicSize; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%s%02x", i == 0 ? "" : " ", head[kMagicOffset + i]);
        hex += byte;
        const unsigned char c = head[kMagicOffset + i];
        text += c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '.';
    }
    return "the magic " + hex + " (\"" + text + "\")";
}

}  // namespace

std::optional<ImageKind> KindFromName(const std::string& name) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const KindNameEntry& entry : kKindNames) {
        if (lower == entry.name) return entry.kind;
    }
    return std::nullopt;
}

const char* KindName(ImageKind kind) {
    for (const KindNameEntry& entry : kKindNames) {
        if (entry.kind == kind) return entry.name;
    }
    return "?";
}

std::optional<std::string> RefusalOf(ImageKind kind, uint64_t fileLength, const uint8_t* head,
                                     const std::string& shown) {
    // What every image of a kind plainly has; what the image does beyond that is not ours to
    // judge. An empty .gcb is refused as too small for its header, below.
    if (fileLength == 0 && kind != ImageKind::Bios) return shown + " is empty";
    if (kind == ImageKind::Dol && fileLength < kDolHeaderSize) {
        return shown + " is too small for a DOL file (" + std::to_string(fileLength) +
               " bytes, its own header alone is " + std::to_string(kDolHeaderSize) + ")";
    }
    if (kind == ImageKind::Elf && (fileLength < sizeof kElfFileMagic ||
                                   std::memcmp(head, kElfFileMagic, sizeof kElfFileMagic) != 0)) {
        return shown + " is no ELF file (it does not start with 7f 45 4c 46)";
    }
    if (kind == ImageKind::Vgc && fileLength > kVgcFlagsByte &&
        (head[kVgcFlagsByte] & kVgcEncryptedBit) != 0) {
        return shown + " is an encrypted VGC image, which cannot be flashed";
    }
    if (kind != ImageKind::Bios) return std::nullopt;
    if (fileLength < kHeaderSize) {
        return shown + " is too small for a .gcb image (" + std::to_string(fileLength) +
               " bytes, at least 256 needed)";
    }
    // The window sends no chunk for a .gcb of its header alone and leaves the slot free: writing
    // the header would make a board the window never makes, and saying "wrote" for nothing would
    // be no better.
    if (fileLength == kHeaderSize) {
        return shown +
               " is a .gcb header alone (256 bytes) with no image behind it: nothing to write";
    }
    if (!IsKnownMagic(head)) {
        return shown + " starts with " + DescribeMagic(head) +
               ", which is no image's magic (the board would show it as ?\?\?)";
    }
    return std::nullopt;
}

void LayOutImage(ImageKind kind, uint64_t fileLength, const uint8_t* head,
                 const std::string& nameText, ImageLayout& layout) {
    layout.kind = kind;
    layout.fileLength = fileLength;
    layout.imageLength = ImageLength(kind, fileLength);
    const uint64_t slots = SlotCountFor(layout.imageLength);
    layout.slots =
        slots > static_cast<uint64_t>(kSlotCount) ? kSlotCount + 1 : static_cast<int32_t>(slots);
    layout.alignMask = AlignMaskFor(kind);
    layout.headerPartSize = HeaderPartSize(kind);
    BuildHeaderPart(layout.headerPart, kind, nameText.c_str(), fileLength, head);
}

uint32_t CopyHeaderPart(const ImageLayout& layout, uint64_t offset, uint8_t* out, uint32_t count) {
    const uint64_t end = std::min<uint64_t>(
        {offset + count, layout.imageLength, static_cast<uint64_t>(layout.headerPartSize)});
    if (offset >= end) return 0;
    std::memcpy(out, layout.headerPart + offset, static_cast<size_t>(end - offset));
    return static_cast<uint32_t>(end - offset);
}

uint64_t FileOffset(const ImageLayout& layout, uint64_t offset) {
    return layout.kind == ImageKind::Bios ? offset : offset - layout.headerPartSize;
}

std::string DescribeSlotsNeeded(const std::string& file, int slots, int first, int count) {
    return file + " needs " + std::to_string(slots) + (slots == 1 ? " slot" : " slots") +
           ", but the image at slot " + std::to_string(first) + " has " + std::to_string(count);
}
