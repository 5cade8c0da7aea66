// An image file as a write puts it on the board: the window's header part, then the file.
#include "image_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "core/flash_layout.h"
#include "input_file.h"

namespace {

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

}  // namespace

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
    uint64_t fileLength = 0;
    KELM_TRY(OpenRegularFile(path, image.file, fileLength));
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error) return Refuse("cannot resolve the path of " + path + ": " + error.message());
    image.nameText = absolute.lexically_normal().string();

    // A shorter file leaves zeros, as in the window.
    uint8_t head[kImageHeadSize] = {};
    const size_t have = static_cast<size_t>(std::min<uint64_t>(fileLength, kImageHeadSize));
    if (!ReadAt(image.file.get(), 0, head, have)) return Refuse("cannot read " + path);
    if (const auto refusal = RefusalOf(*kind, fileLength, head, path)) return Refuse(*refusal);
    LayOutImage(*kind, fileLength, head, image.nameText, image);
    return {};
}

Outcome ReadImage(ImageFile& image, uint64_t offset, uint8_t* out, uint32_t count) {
    std::memset(out, kErasedByte, count);
    const uint64_t end = std::min<uint64_t>(offset + count, image.imageLength);
    // The header part first, from memory, then the file.
    const uint64_t at = offset + CopyHeaderPart(image, offset, out, count);
    if (at >= end) return {};
    if (!ReadAt(image.file.get(), FileOffset(image, at), out + (at - offset), end - at)) {
        return ReadFailed(image);
    }
    return {};
}
