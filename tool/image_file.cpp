// An image file as a write puts it on the board: the window's header part, then the file.
#include "image_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <cstdio>

#include "core/flash_layout.h"
#include "input_file.h"

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

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

Outcome Refuse(const std::string& message) { return Outcome::Fail(ExitCode::BadInput, message); }

Outcome ReadFailed(const ImageFile& image) {
    return Outcome::Fail(ExitCode::Failed, "could not read " + image.path +
                                               " (it changed or failed while it was written)");
}

// Reads exactly count bytes at position; false when the file is shorter or fails.
bool ReadAt(std::FILE* file, uint64_t position, uint8_t* out, size_t count) {
    if (std::fseek(file, static_cast<long>(position), SEEK_SET) != 0) return false;
    return std::fread(out, 1, count, file) == count;
}

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

// What every image of a kind plainly has: a file to write, a DOL its own 256-byte header, an ELF
// its magic. What the image does beyond that is not kelmtool's to judge.
Outcome CheckContent(ImageFile& image) {
    // An empty .gcb is refused as too small for its header, below.
    if (image.fileLength == 0 && image.kind != ImageKind::Bios) {
        return Refuse(image.path + " is empty");
    }
    if (image.kind == ImageKind::Dol && image.fileLength < kDolHeaderSize) {
        return Refuse(image.path + " is too small for a DOL file (" +
                      std::to_string(image.fileLength) + " bytes, its own header alone is " +
                      std::to_string(kDolHeaderSize) + ")");
    }
    if (image.kind == ImageKind::Elf) {
        uint8_t magic[sizeof kElfFileMagic] = {};
        const bool read =
            image.fileLength >= sizeof magic && ReadAt(image.file.get(), 0, magic, sizeof magic);
        if (!read || std::memcmp(magic, kElfFileMagic, sizeof magic) != 0) {
            return Refuse(image.path + " is no ELF file (it does not start with 7f 45 4c 46)");
        }
    }
    return {};
}

}  // namespace

std::optional<ImageKind> KindFromName(const std::string& name) {
    const std::string lower = Lower(name);
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

Outcome OpenImage(const std::string& path, std::optional<ImageKind> kind, ImageFile& image) {
    image.path = path;
    if (!kind) {
        std::string extension = std::filesystem::path(path).extension().string();
        if (!extension.empty()) extension.erase(0, 1);
        kind = KindFromName(extension);
        if (!kind) {
            return Refuse("cannot tell the kind of " + path +
                          " from its name: give --kind gcb, dol, elf or vgc");
        }
    }
    image.kind = *kind;
    KELM_TRY(OpenRegularFile(path, image.file, image.fileLength));
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error) return Refuse("cannot resolve the path of " + path + ": " + error.message());
    image.nameText = absolute.lexically_normal().string();
    KELM_TRY(CheckContent(image));

    uint8_t gcbHead[kHeaderSize] = {};
    if (image.kind == ImageKind::Vgc) {
        // A shorter file leaves zeros, as in the window.
        uint8_t vgcHead[kVgcFileHeaderSize] = {};
        const size_t have =
            static_cast<size_t>(std::min<uint64_t>(image.fileLength, kVgcFileHeaderSize));
        if (!ReadAt(image.file.get(), 0, vgcHead, have)) return Refuse("cannot read " + path);
        if ((vgcHead[kVgcFlagsByte] & kVgcEncryptedBit) != 0) {
            return Refuse(path + " is an encrypted VGC image, which cannot be flashed");
        }
    }
    if (image.kind == ImageKind::Bios) {
        if (image.fileLength < kHeaderSize) {
            return Refuse(path + " is too small for a .gcb image (" +
                          std::to_string(image.fileLength) + " bytes, at least 256 needed)");
        }
        // The window sends no chunk for a .gcb of its header alone and leaves the slot free:
        // writing the header would make a board the window never makes, and saying "wrote" for
        // nothing would be no better.
        if (image.fileLength == kHeaderSize) {
            return Refuse(path +
                          " is a .gcb header alone (256 bytes) with no image behind it: "
                          "nothing to write");
        }
        if (!ReadAt(image.file.get(), 0, gcbHead, kHeaderSize))
            return Refuse("cannot read " + path);
        if (!IsKnownMagic(gcbHead)) {
            return Refuse(path + " starts with " + DescribeMagic(gcbHead) +
                          ", which is no image's magic (the board would show it as ?\?\?)");
        }
    }
    image.imageLength = ImageLength(image.kind, image.fileLength);
    const uint64_t slots = SlotCountFor(image.imageLength);
    image.slots =
        slots > static_cast<uint64_t>(kSlotCount) ? kSlotCount + 1 : static_cast<int32_t>(slots);
    image.alignMask = AlignMaskFor(image.kind);
    image.headerPartSize = HeaderPartSize(image.kind);
    BuildHeaderPart(image.headerPart, image.kind, image.nameText.c_str(), image.fileLength,
                    gcbHead);
    return {};
}

Outcome ReadImage(ImageFile& image, uint64_t offset, uint8_t* out, uint32_t count) {
    std::memset(out, kErasedByte, count);
    const uint64_t end = std::min<uint64_t>(offset + count, image.imageLength);
    uint64_t at = offset;
    // The header part first, from memory.
    while (at < end && at < image.headerPartSize) {
        out[at - offset] = image.headerPart[at];
        ++at;
    }
    if (at >= end) return {};
    // Then the file: a .gcb's own first 256 bytes are its header part already.
    const uint64_t skipped = image.kind == ImageKind::Bios ? 0 : image.headerPartSize;
    if (!ReadAt(image.file.get(), at - skipped, out + (at - offset), end - at)) {
        return ReadFailed(image);
    }
    return {};
}
