// An image file as a write puts it on the board: the header part the window would build, then the
// file's bytes, read a piece at a time so that memory stays flat whatever the file's size.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "core/image_check.h"
#include "outcome.h"

struct FileCloser {
    void operator()(std::FILE* file) const { static_cast<void>(std::fclose(file)); }
};
using ReadOnlyFile = std::unique_ptr<std::FILE, FileCloser>;

// The checks and the layout are core/'s (image_check.h), shared with the web page.
struct ImageFile : ImageLayout {
    std::string path;      // as given
    std::string nameText;  // what goes into the name field: the absolute path
    ReadOnlyFile file;
};

// Opens and checks an image file: readable, a known kind (from --kind or the extension), a VGC
// not marked encrypted, a .gcb longer than its header. Every refusal is BadInput.
Outcome OpenImage(const std::string& path, std::optional<ImageKind> kind, ImageFile& image);

// Image bytes [offset, offset + count) into out; bytes past the image's end are 0xFF, as the
// window pads its last chunk.
Outcome ReadImage(ImageFile& image, uint64_t offset, uint8_t* out, uint32_t count);
