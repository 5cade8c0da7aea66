// DOL and ELF file headers, read for a summary.
#include "executable_summary.h"

#include <cstdint>
#include <cstdio>
#include <iterator>

#include "core/slot_header.h"

namespace {

// A DOL file's header: seven text and eleven data sections, big-endian words.
constexpr size_t kDolHeaderSize = 256;
constexpr int kDolTextSections = 7;
constexpr int kDolDataSections = 11;
constexpr size_t kDolOffsets = 0x00;
constexpr size_t kDolAddresses = 0x48;
constexpr size_t kDolSizes = 0x90;
constexpr size_t kDolBssAddress = 0xD8;
constexpr size_t kDolBssSize = 0xDC;
constexpr size_t kDolEntry = 0xE0;

// An ELF file's identification and the fields that follow it.
constexpr size_t kElfHeadRead = 64;  // enough for the 64-bit header
constexpr size_t kElfClass = 4;
constexpr size_t kElfData = 5;
constexpr uint8_t kElf64 = 2;
constexpr uint8_t kElfBigEndian = 2;
constexpr size_t kElfType = 16;
constexpr size_t kElfMachine = 18;
constexpr size_t kElfEntry = 24;
constexpr size_t kElf32ProgramHeaders = 44;
constexpr size_t kElf64ProgramHeaders = 56;

struct Named {
    unsigned number;
    const char* name;
};
constexpr Named kElfTypes[] = {{1, "relocatable"}, {2, "executable"}, {3, "shared object"}};
constexpr Named kElfMachines[] = {{3, "x86"},        {8, "MIPS"}, {20, "PowerPC"},
                                  {21, "PowerPC64"}, {40, "ARM"}, {62, "x86-64"}};

std::string NameOf(const Named* table, size_t count, unsigned number) {
    for (size_t i = 0; i < count; ++i) {
        if (table[i].number == number) return table[i].name;
    }
    return std::to_string(number);
}

std::string Hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%08llx", static_cast<unsigned long long>(value));
    return text;
}

Outcome ReadHead(ImageFile& image, uint8_t* out, size_t count) {
    if (std::fseek(image.file.get(), 0, SEEK_SET) == 0 &&
        std::fread(out, 1, count, image.file.get()) == count) {
        return {};
    }
    return Outcome::Fail(ExitCode::Failed, "could not read " + image.path);
}

Outcome SummarizeDol(ImageFile& image, ExecutableSummary& summary) {
    uint8_t head[kDolHeaderSize];
    KELM_TRY(ReadHead(image, head, sizeof head));
    int text = 0;
    int data = 0;
    uint64_t loaded = 0;
    for (int i = 0; i < kDolTextSections + kDolDataSections; ++i) {
        const uint32_t size = ReadBigEndian32(head + kDolSizes + 4 * i);
        if (size == 0) continue;
        ++(i < kDolTextSections ? text : data);
        loaded += size;
    }
    const uint32_t entry = ReadBigEndian32(head + kDolEntry);
    const uint32_t bssAddress = ReadBigEndian32(head + kDolBssAddress);
    const uint32_t bssSize = ReadBigEndian32(head + kDolBssSize);
    // The first text section's place, where a loader starts copying.
    const uint32_t firstAddress = ReadBigEndian32(head + kDolAddresses);
    const uint32_t firstOffset = ReadBigEndian32(head + kDolOffsets);
    summary.text = "DOL: entry " + Hex(entry) + ", " + std::to_string(text) + " text and " +
                   std::to_string(data) + " data sections of " + std::to_string(loaded) +
                   " bytes, bss " + Hex(bssAddress) + " (" + std::to_string(bssSize) + " bytes)";
    summary.data = {{"entry", entry},
                    {"text_sections", text},
                    {"data_sections", data},
                    {"section_bytes", loaded},
                    {"first_text_offset", firstOffset},
                    {"first_text_address", firstAddress},
                    {"bss_address", bssAddress},
                    {"bss_size", bssSize}};
    return {};
}

Outcome SummarizeElf(ImageFile& image, ExecutableSummary& summary) {
    uint8_t head[kElfHeadRead] = {};
    const size_t have =
        image.fileLength < kElfHeadRead ? static_cast<size_t>(image.fileLength) : kElfHeadRead;
    KELM_TRY(ReadHead(image, head, have));
    const bool wide = head[kElfClass] == kElf64;
    const bool big = head[kElfData] == kElfBigEndian;
    const auto word = [&](size_t at, int bytes) {
        uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) {
            const uint8_t byte = head[at + static_cast<size_t>(big ? i : bytes - 1 - i)];
            value = value << 8 | byte;
        }
        return value;
    };
    const unsigned type = static_cast<unsigned>(word(kElfType, 2));
    const unsigned machine = static_cast<unsigned>(word(kElfMachine, 2));
    const uint64_t entry = word(kElfEntry, wide ? 8 : 4);
    const unsigned programHeaders =
        static_cast<unsigned>(word(wide ? kElf64ProgramHeaders : kElf32ProgramHeaders, 2));
    const std::string typeName = NameOf(kElfTypes, std::size(kElfTypes), type);
    const std::string machineName = NameOf(kElfMachines, std::size(kElfMachines), machine);
    summary.text = std::string("ELF: ") + (wide ? "64" : "32") + "-bit " +
                   (big ? "big" : "little") + "-endian " + typeName + " for " + machineName +
                   ", entry " + Hex(entry) + ", " + std::to_string(programHeaders) +
                   " program headers";
    summary.data = {{"bits", wide ? 64 : 32}, {"big_endian", big},
                    {"type", typeName},       {"machine", machineName},
                    {"entry", entry},         {"program_headers", programHeaders}};
    return {};
}

}  // namespace

Outcome SummarizeExecutable(ImageFile& image, ExecutableSummary& summary) {
    // OpenImage has checked a DOL for its 256-byte header and an ELF for its magic.
    if (image.kind == ImageKind::Dol) return SummarizeDol(image, summary);
    if (image.kind == ImageKind::Elf) return SummarizeElf(image, summary);
    return {};
}
