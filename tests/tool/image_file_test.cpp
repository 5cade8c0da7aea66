// An image file as a write reads it: the kind from any case of the extension, and a file that
// shrinks after it was measured is a failure, never 0xFF taken for its bytes.
#include "image_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tool/tool_process.h"

namespace tooltest {
namespace {

class ImageFileTest : public ToolTest {};

TEST_F(ImageFileTest, KindComesFromTheExtensionInAnyCase) {
    const struct {
        const char* name;
        bool known;
        ImageKind kind;
    } cases[] = {
        {"a.gcb", true, ImageKind::Bios},
        {"A.DOL", true, ImageKind::Dol},
        {"b.Elf", true, ImageKind::Elf},
        {"GAME.VGC", true, ImageKind::Vgc},
        {"a.dol.bak", false, {}},
        {"noextension", false, {}},
        {".dol", false, {}},
    };
    for (const auto& c : cases) {
        // Content that fits the kind, so that only the name decides.
        std::vector<uint8_t> bytes = Pattern(300, 1);
        const uint8_t elf[] = {0x7f, 'E', 'L', 'F'};
        const uint8_t bios[] = {'(', 'C', ')', ' '};
        const uint8_t* magic = c.kind == ImageKind::Elf ? elf : bios;
        std::copy(magic, magic + 4, bytes.begin());
        WriteBytes(Path(c.name), bytes);
        ImageFile image;
        const Outcome opened = OpenImage(Path(c.name), std::nullopt, image);
        EXPECT_EQ(opened.ok(), c.known) << c.name << ": " << opened.message();
        if (c.known) {
            EXPECT_EQ(image.kind, c.kind) << c.name;
        } else {
            EXPECT_EQ(opened.code(), ExitCode::BadInput) << c.name;
        }
    }
}

TEST_F(ImageFileTest, AFileThatShrinksIsAFailure) {
    const std::vector<uint8_t> bytes = Pattern(5000, 2);
    WriteBytes(Path("a.dol"), bytes);
    ImageFile image;
    ASSERT_TRUE(OpenImage(Path("a.dol"), std::nullopt, image).ok());
    ASSERT_EQ(image.imageLength, 5256u);
    std::vector<uint8_t> piece(6000);
    ASSERT_TRUE(ReadImage(image, 0, piece.data(), 6000).ok());
    EXPECT_EQ(std::vector<uint8_t>(piece.begin() + 256, piece.begin() + 5256), bytes);
    EXPECT_EQ(std::vector<uint8_t>(piece.begin() + 5256, piece.end()),
              std::vector<uint8_t>(744, 0xFF));

    std::filesystem::resize_file(Path("a.dol"), 3000);
    const Outcome shrunk = ReadImage(image, 0, piece.data(), 6000);
    EXPECT_EQ(shrunk.code(), ExitCode::Failed);
    EXPECT_NE(shrunk.message().find("could not read"), std::string::npos);
}

}  // namespace
}  // namespace tooltest
