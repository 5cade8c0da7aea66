// Which .gcb files kelmtool takes: the window writes nothing for a file of its 256-byte header
// alone and refuses a shorter one, so kelmtool takes neither; from 257 bytes on the file is its
// image, its own header kept with only the size field replaced.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/flash_layout.h"
#include "image_file.h"

namespace {

struct GcbCase {
    uint64_t length;
    ExitCode expected;
    int32_t slots;  // when taken
};

const GcbCase kCases[] = {
    {0, ExitCode::BadInput, 0}, {255, ExitCode::BadInput, 0},   {256, ExitCode::BadInput, 0},
    {257, ExitCode::Done, 1},   {kSlotSize, ExitCode::Done, 1}, {kSlotSize + 1, ExitCode::Done, 2},
};

std::string WriteGcb(uint64_t length) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("kelmtool_gcb_" + std::to_string(length) + ".gcb"))
                                 .string();
    // One byte more than the file, so that even an empty file's buffer is not null.
    std::vector<uint8_t> bytes(length + 1);
    for (uint64_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    // A header the catalogue takes for a BIOS, where the file is long enough to carry one.
    for (size_t i = 0; i < kMagicSize && i < length; ++i) bytes[i] = kMagicBios[i];
    std::FILE* file = std::fopen(path.c_str(), "wb");
    EXPECT_NE(file, nullptr);
    if (file == nullptr) return path;
    EXPECT_EQ(std::fwrite(bytes.data(), 1, length, file), length);
    EXPECT_EQ(std::fclose(file), 0);
    return path;
}

TEST(GcbLength, RefusedUpToItsHeaderTakenAfter) {
    for (const GcbCase& c : kCases) {
        SCOPED_TRACE("length " + std::to_string(c.length));
        const std::string path = WriteGcb(c.length);
        ImageFile image;
        const Outcome opened = OpenImage(path, std::nullopt, image);
        EXPECT_EQ(opened.code(), c.expected) << opened.message();
        if (opened.ok()) {
            EXPECT_EQ(image.imageLength, c.length);
            EXPECT_EQ(image.slots, c.slots);
            // The file's own header, the size field alone replaced; then the file's bytes.
            uint8_t head[kHeaderSize + 1];
            ASSERT_TRUE(ReadImage(image, 0, head, sizeof head).ok());
            EXPECT_EQ(std::memcmp(head, kMagicBios, kMagicSize), 0);
            for (size_t i = kMagicSize; i < kSizeOffset; ++i) {
                ASSERT_EQ(head[i], static_cast<uint8_t>(i * 7 + 1)) << "byte " << i;
            }
            EXPECT_EQ(ReadBigEndian32(head + kSizeOffset), c.slots * kSlotSize);
            EXPECT_EQ(head[kHeaderSize], static_cast<uint8_t>(kHeaderSize * 7 + 1));
        }
        image.file.reset();
        std::filesystem::remove(path);
    }
}

}  // namespace
