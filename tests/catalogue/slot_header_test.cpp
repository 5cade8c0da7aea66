#include "catalogue/slot_header.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "catalogue/flash_layout.h"
#include "data/vgc_block.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Slice(const Bytes& bytes, size_t from, size_t to) {
    return Bytes(bytes.begin() + from, bytes.begin() + to);
}

Bytes SizeBytes(const Bytes& header) { return Slice(header, kSizeOffset, kSizeOffset + 4); }

std::string NameText(const Bytes& header) {
    // Bounded by the field, so that a missing terminator fails the comparison.
    const char* name = reinterpret_cast<const char*>(header.data() + kNameOffset);
    return std::string(name, strnlen(name, kNameSize));
}

// The header part as WriteImageAt would build it, with the buffer poisoned beforehand so that
// bytes the builder forgets show up.
Bytes Build(ImageKind kind, const std::string& path, uint64_t fileLength,
            const Bytes& gcbHead = Bytes(kHeaderSize, 0)) {
    Bytes out(HeaderPartSize(kind), 0xA5);
    BuildHeaderPart(out.data(), kind, path.c_str(), fileLength, gcbHead.data());
    return out;
}

// ---------------------------------------------------------------- numbers

TEST(BigEndian32, StoresMostSignificantByteFirstAndReadsItBack) {
    const struct {
        uint32_t value;
        Bytes bytes;
    } cases[] = {
        {0x00000000u, {0x00, 0x00, 0x00, 0x00}}, {0x00010000u, {0x00, 0x01, 0x00, 0x00}},
        {0x12345678u, {0x12, 0x34, 0x56, 0x78}}, {0xFFFFFFFFu, {0xFF, 0xFF, 0xFF, 0xFF}},
        {0x80000001u, {0x80, 0x00, 0x00, 0x01}},
    };
    for (const auto& c : cases) {
        Bytes written(4, 0xEE);
        WriteBigEndian32(written.data(), c.value);
        EXPECT_EQ(written, c.bytes) << std::hex << c.value;
        EXPECT_EQ(ReadBigEndian32(c.bytes.data()), c.value) << std::hex << c.value;
    }
}

TEST(ImageLength, AddsTheGeneratedHeaderPartOnly) {
    const struct {
        ImageKind kind;
        uint64_t fileLength;
        uint64_t imageLength;
    } cases[] = {
        {ImageKind::Bios, 0, 0},        {ImageKind::Bios, 131072, 131072},
        {ImageKind::Dol, 0, 256},       {ImageKind::Dol, 65280, 65536},
        {ImageKind::Elf, 65281, 65537}, {ImageKind::Vgc, 63488, 65536},
        {ImageKind::Vgc, 1, 2049},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ImageLength(c.kind, c.fileLength), c.imageLength)
            << "kind " << static_cast<int>(c.kind) << ", file " << c.fileLength;
    }
}

TEST(SizeField, RoundsUpToWholeSlots) {
    const struct {
        uint64_t imageLength;
        uint32_t size;
        uint64_t slots;
    } cases[] = {
        {0, 0, 0},           {1, 0x10000, 1},      {65535, 0x10000, 1},     {65536, 0x10000, 1},
        {65537, 0x20000, 2}, {131071, 0x20000, 2}, {2097152, 0x200000, 32}, {2097153, 0x210000, 33},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SizeFieldFor(c.imageLength), c.size) << c.imageLength;
        EXPECT_EQ(SlotCountFor(c.imageLength), c.slots) << c.imageLength;
    }
}

TEST(SizeField, HugeFilesNeedFarMoreSlotsThanTheFlashHas) {
    const uint64_t fiveGigabytes = 5ull << 30;
    const uint64_t lengths[] = {0xFFFF0001ull, 0x100000000ull, fiveGigabytes,
                                ImageLength(ImageKind::Elf, UINT64_MAX),
                                ImageLength(ImageKind::Vgc, UINT64_MAX - 100)};
    for (uint64_t length : lengths) {
        EXPECT_GT(SlotCountFor(length), static_cast<uint64_t>(kSlotCount)) << length;
        // Saturated, still a multiple of 64 KB, and far beyond the flash.
        EXPECT_EQ(SizeFieldFor(length), 0xFFFF0000u) << length;
    }
    EXPECT_EQ(SlotCountFor(fiveGigabytes), 81920u);
    EXPECT_EQ(SlotCountFor(UINT64_MAX), 1ull << 48);
    EXPECT_EQ(ImageLength(ImageKind::Dol, UINT64_MAX), UINT64_MAX);
    EXPECT_EQ(SizeFieldFor(0xFFFF0000ull), 0xFFFF0000u);
}

// ---------------------------------------------------------------- generated headers

TEST(GeneratedHeader, SizeFieldAtTheSlotBoundary) {
    const struct {
        uint64_t fileLength;
        Bytes size;
    } cases[] = {
        {65536 - 256, {0x00, 0x01, 0x00, 0x00}},
        {65537 - 256, {0x00, 0x02, 0x00, 0x00}},
    };
    for (const auto& c : cases) {
        const Bytes header = Build(ImageKind::Elf, "C:\\a.elf", c.fileLength);
        EXPECT_EQ(SizeBytes(header), c.size) << c.fileLength;
    }
}

TEST(GeneratedHeader, DolGetsTheElfMagicAndFillsOneSlot) {
    const std::string path = "C:\\games\\demo\\boot.dol";
    const Bytes header = Build(ImageKind::Dol, path, 65280);
    EXPECT_EQ(Slice(header, 0, 4), (Bytes{'E', 'L', 'F', 0}));
    EXPECT_EQ(NameText(header), path);
    EXPECT_EQ(SlotCountFor(ImageLength(ImageKind::Dol, 65280)), 1u);
    EXPECT_EQ(SizeBytes(header), (Bytes{0x00, 0x01, 0x00, 0x00}));
    // Everything after the path's terminator up to the size, reserved word included, is zero.
    const size_t end = kNameOffset + path.size();
    EXPECT_EQ(Slice(header, end, kSizeOffset), Bytes(kSizeOffset - end, 0));
}

TEST(GeneratedHeader, VgcGetsTheBiosMagicAndTheVgcBlockAndFillsOneSlot) {
    const std::string path = "D:\\x.VGC";
    const Bytes part = Build(ImageKind::Vgc, path, 63488);
    ASSERT_EQ(part.size(), 2048u);
    EXPECT_EQ(Slice(part, 0, 4), (Bytes{'(', 'C', ')', ' '}));
    EXPECT_EQ(NameText(part), path);
    EXPECT_EQ(SizeBytes(part), (Bytes{0x00, 0x01, 0x00, 0x00}));
    EXPECT_EQ(Slice(part, kReservedOffset, kSizeOffset), Bytes(4, 0));
    EXPECT_EQ(Slice(part, 256, 2048), Bytes(VgcBlock, VgcBlock + kVgcBlockSize));
}

TEST(GeneratedHeader, ClearsWhateverTheBufferHeld) {
    Bytes header(kHeaderSize, 0xFF);
    MakeGeneratedHeader(header.data(), kMagicElf, "", 0);
    Bytes expected(kHeaderSize, 0);
    std::memcpy(expected.data(), "ELF", 4);
    EXPECT_EQ(header, expected);
}

// ---------------------------------------------------------------- the name field

TEST(NameField, LongPathsKeepTheirEnd) {
    const struct {
        size_t length;
        bool shortened;
    } cases[] = {
        {0, false}, {1, false}, {242, false}, {243, false}, {244, true}, {259, true}, {1000, true},
    };
    for (const auto& c : cases) {
        std::string path;
        for (size_t i = 0; i < c.length; ++i) path += static_cast<char>('a' + i % 26);
        Bytes header(kHeaderSize, 0xEE);
        PutNameField(header.data(), path.c_str());

        const std::string expected = c.shortened ? "..." + path.substr(path.size() - 240) : path;
        EXPECT_EQ(NameText(header), expected) << c.length;
        // The name is padded with zeros to byte 247 and never touches the words after it.
        const size_t end = kNameOffset + expected.size();
        EXPECT_EQ(Slice(header, end, kReservedOffset), Bytes(kReservedOffset - end, 0)) << c.length;
        EXPECT_EQ(Slice(header, 0, kNameOffset), Bytes(kNameOffset, 0xEE)) << c.length;
        EXPECT_EQ(Slice(header, kReservedOffset, kHeaderSize), Bytes(8, 0xEE)) << c.length;
    }
}

TEST(NameField, AFullPathOf259CharactersStillLeavesTheSizeIntact) {
    const std::string path = "C:\\" + std::string(250, 'd') + "\\x.dol";
    ASSERT_EQ(path.size(), 259u);
    const Bytes header = Build(ImageKind::Dol, path, 100);
    EXPECT_EQ(NameText(header), "..." + path.substr(19));
    EXPECT_EQ(header[247], 0);
    EXPECT_EQ(Slice(header, kReservedOffset, kHeaderSize),
              (Bytes{0, 0, 0, 0, 0x00, 0x01, 0x00, 0x00}));
}

// ---------------------------------------------------------------- .gcb headers

Bytes GcbHead(const char magic[4], uint32_t reserved, uint32_t size) {
    Bytes head(kHeaderSize);
    for (size_t i = 0; i < head.size(); ++i) head[i] = static_cast<uint8_t>(i * 7 + 3);
    std::memcpy(head.data(), magic, 4);
    WriteBigEndian32(head.data() + kReservedOffset, reserved);
    WriteBigEndian32(head.data() + kSizeOffset, size);
    return head;
}

TEST(GcbHeader, KeepsTheFileBytesButComputesTheSize) {
    const struct {
        const char* what;
        char magic[4];
        uint32_t ownSize;
        uint64_t fileLength;
        Bytes size;
    } cases[] = {
        {"unknown magic", {'X', 'Y', 'Z', 'W'}, 0x00020000, 131072, {0x00, 0x02, 0x00, 0x00}},
        {"own size too small", {'(', 'C', ')', ' '}, 0x00010000, 131073, {0x00, 0x03, 0x00, 0x00}},
        {"own size too large", {'E', 'L', 'F', 0}, 0x00200000, 65536, {0x00, 0x01, 0x00, 0x00}},
        {"own size not rounded", {'B', 'I', 'N', 0}, 0xDEADBEEF, 300, {0x00, 0x01, 0x00, 0x00}},
    };
    for (const auto& c : cases) {
        const Bytes head = GcbHead(c.magic, 0xCAFEF00D, c.ownSize);
        const Bytes header = Build(ImageKind::Bios, "C:\\ignored.gcb", c.fileLength, head);
        EXPECT_EQ(Slice(header, 0, kSizeOffset), Slice(head, 0, kSizeOffset)) << c.what;
        EXPECT_EQ(SizeBytes(header), c.size) << c.what;
    }
}

}  // namespace
