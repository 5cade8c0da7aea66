#include "core/slot_header.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/flash_layout.h"
#include "data/vgc_block.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Slice(const Bytes& bytes, size_t from, size_t to) {
    return Bytes(bytes.begin() + from, bytes.begin() + to);
}

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

// The image length adds the generated header part only; size field and slot count round it up.
TEST(ImageLength, AddsTheHeaderPartAndRoundsUpToWholeSlots) {
    using K = ImageKind;
    const struct {
        ImageKind kind;
        uint64_t fileLength, imageLength;
        uint32_t size;
        uint64_t slots;
    } cases[] = {
        {K::Bios, 0, 0, 0, 0},
        {K::Bios, 1, 1, 0x10000, 1},
        {K::Bios, 65535, 65535, 0x10000, 1},
        {K::Bios, 65536, 65536, 0x10000, 1},
        {K::Bios, 131071, 131071, 0x20000, 2},
        {K::Bios, 131072, 131072, 0x20000, 2},
        {K::Bios, 2097152, 2097152, 0x200000, 32},
        {K::Bios, 2097153, 2097153, 0x210000, 33},
        {K::Dol, 0, 256, 0x10000, 1},
        {K::Dol, 65280, 65536, 0x10000, 1},
        {K::Elf, 65281, 65537, 0x20000, 2},
        {K::Vgc, 1, 2049, 0x10000, 1},
        {K::Vgc, 63488, 65536, 0x10000, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "kind " << int(c.kind) << ", file " << c.fileLength);
        EXPECT_EQ(ImageLength(c.kind, c.fileLength), c.imageLength);
        EXPECT_EQ(SizeFieldFor(c.imageLength), c.size);
        EXPECT_EQ(SlotCountFor(c.imageLength), c.slots);
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

// The whole header, from a poisoned buffer: magic, the path as name (its end kept when too
// long), zeros up to the size field, rounded up to 64 KB; the VgcBlock after a VGC's header.
TEST(GeneratedHeader, MagicNameZerosAndSize) {
    const std::string longPath = "C:\\" + std::string(250, 'd') + "\\x.dol";  // 259 characters
    const std::string dol = "C:\\games\\demo\\boot.dol";
    const struct {
        ImageKind kind;
        std::string path;
        uint64_t fileLength;
        const char* magic;
        std::string name;
        uint8_t slots;
    } cases[] = {
        {ImageKind::Dol, dol, 65280, "ELF", dol, 1},
        {ImageKind::Elf, "C:\\a.elf", 65280, "ELF", "C:\\a.elf", 1},
        {ImageKind::Elf, "C:\\a.elf", 65281, "ELF", "C:\\a.elf", 2},
        {ImageKind::Vgc, "D:\\x.VGC", 63488, "(C) ", "D:\\x.VGC", 1},
        {ImageKind::Dol, longPath, 100, "ELF", "..." + longPath.substr(19), 1},
        {ImageKind::Elf, "", 0, "ELF", "", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.substr(0, 30) + ", " + std::to_string(c.fileLength));
        Bytes expected(kHeaderSize, 0);
        std::memcpy(expected.data(), c.magic, 4);
        std::copy(c.name.begin(), c.name.end(), expected.begin() + kNameOffset);
        expected[kSizeOffset + 1] = c.slots;
        if (c.kind == ImageKind::Vgc) {
            expected.insert(expected.end(), VgcBlock, VgcBlock + kVgcBlockSize);
        }
        EXPECT_EQ(Build(c.kind, c.path, c.fileLength), expected);
    }
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
        EXPECT_EQ(Slice(header, kSizeOffset, kHeaderSize), c.size) << c.what;
    }
}

}  // namespace
