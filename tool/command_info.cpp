// info: the slot map and the images on the board, or what an image file or a dump holds.
#include <cstdio>
#include <cstring>
#include <string>

#include "board_catalogue.h"
#include "board_connection.h"
#include "command.h"
#include "commands.h"
#include "core/printable.h"
#include "executable_summary.h"
#include "image_file.h"
#include "input_file.h"

namespace {

const char* StateName(SlotState state) {
    switch (state) {
        case SlotState::Used:
            return "used";
        case SlotState::Corrupted:
            return "corrupted";
        case SlotState::Free:
        default:
            return "free";
    }
}

std::string MagicHex(const SlotHeader& header) {
    char text[9];
    const uint8_t* magic = reinterpret_cast<const uint8_t*>(header.magic);
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x", magic[0], magic[1], magic[2], magic[3]);
    return text;
}

struct MagicName {
    const char (&magic)[kMagicSize];
    const char* name;
};
const MagicName kMagicNames[] = {
    {kMagicBios, "BIOS"},
    {kMagicElf, "ELF"},
    {kMagicDol, "DOL"},
    {kMagicBin, "BIN"},
};

// The image's kind by its magic, or the magic in hex where it is none of them.
std::string KindOf(const SlotHeader& header) {
    for (const MagicName& entry : kMagicNames) {
        if (MagicIs(header, entry.magic)) return entry.name;
    }
    return "magic " + MagicHex(header);
}

// "21 of 32 slots free; largest free run: 18 slots from slot 14".
std::string FreeSummary(const BoardCatalogue& catalogue) {
    int free = 0;
    int longest = 0;
    int longestStart = 0;
    int run = 0;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (catalogue.map[slot].state != SlotState::Free) {
            run = 0;
            continue;
        }
        ++free;
        if (++run > longest) {
            longest = run;
            longestStart = slot - run + 1;
        }
    }
    std::string summary =
        std::to_string(free) + " of " + std::to_string(kSlotCount) + " slots free";
    if (longest == 0) return summary;
    return summary + "; largest free run: " + std::to_string(longest) +
           (longest == 1 ? " slot" : " slots") + " from slot " + std::to_string(longestStart);
}

// The name field up to its zero byte; a field with none ends at its last byte.
std::string NameOf(const SlotHeader& header) {
    return std::string(header.name, strnlen(header.name, kNameSize));
}

// The catalogue a dump holds, classified as a board's is read: the header of each run's head.
Outcome ReadDumpCatalogue(ReadOnlyFile& dump, const std::string& path, BoardCatalogue& catalogue) {
    for (int slot = 0; slot < kSlotCount;) {
        SlotHeader& header = catalogue.headers[slot];
        if (std::fseek(dump.get(), static_cast<long>(slot) * kSlotSize, SEEK_SET) != 0 ||
            std::fread(&header, 1, kHeaderSize, dump.get()) != kHeaderSize) {
            return Outcome::Fail(ExitCode::Failed, "could not read " + path);
        }
        HeaderToHostOrder(header);
        catalogue.storedSize[slot] = header.size;
        slot += ClassifySlot(header, slot, catalogue.map, catalogue.labels);
    }
    return {};
}

void ShowCatalogue(ToolContext& context, const BoardCatalogue& catalogue) {
    nlohmann::json slots = nlohmann::json::array();
    nlohmann::json images = nlohmann::json::array();
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const SlotEntry& entry = catalogue.map[slot];
        slots.push_back({{"slot", slot},
                         {"label", catalogue.labels[slot]},
                         {"state", StateName(entry.state)},
                         {"owner", entry.owner}});
    }
    context.reply.Line("slot  label  state      owner");
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const SlotEntry& entry = catalogue.map[slot];
        const std::string owner = entry.owner == kNoOwner ? "" : std::to_string(entry.owner);
        char line[64];
        std::snprintf(line, sizeof line, "%4d  %-5s  %-9s  %5s", slot, catalogue.labels[slot],
                      StateName(entry.state), owner.c_str());
        // A free slot's line ends with its state, not with blanks.
        std::string text = line;
        text.erase(text.find_last_not_of(' ') + 1);
        context.reply.Line(text);
    }
    context.reply.Line("");
    context.reply.Line("images:");
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const SlotEntry& entry = catalogue.map[slot];
        if (entry.state == SlotState::Free || entry.owner != slot) continue;
        const SlotHeader& header = catalogue.headers[slot];
        const int run = RunOf(catalogue.map, slot);
        images.push_back({{"slot", slot},
                          {"slots", run},
                          {"label", catalogue.labels[slot]},
                          {"magic_hex", MagicHex(header)},
                          {"name", NameOf(header)},
                          {"size", catalogue.storedSize[slot]}});
        char line[96];
        std::snprintf(line, sizeof line, "  slot %2d  %2d slot%s  %-5s  %-4s  size %u  ", slot, run,
                      run == 1 ? " " : "s", catalogue.labels[slot], KindOf(header).c_str(),
                      static_cast<unsigned>(catalogue.storedSize[slot]));
        context.reply.Line(line + Printable(NameOf(header)));
    }
    if (images.empty()) context.reply.Line("  none");
    const bool bios = BiosInSlotZero(catalogue);
    context.reply.Line(bios ? "slot 0 holds a bootable BIOS" : "slot 0 holds no bootable BIOS");
    context.reply.Line(FreeSummary(catalogue));
    context.reply.data["slots"] = slots;
    context.reply.data["images"] = images;
    context.reply.data["bios_in_slot0"] = bios;
}

// An image file as a write would put it on the board, and what its own header says.
Outcome ShowImage(ToolContext& context, const InfoArguments& arguments) {
    ImageFile image;
    KELM_TRY(OpenImage(arguments.file, arguments.kind, image));
    ExecutableSummary executable;
    KELM_TRY(SummarizeExecutable(image, executable));
    SlotHeader header;
    std::memcpy(&header, image.headerPart, kHeaderSize);
    const uint32_t sizeField = ReadBigEndian32(image.headerPart + kSizeOffset);
    const bool fits = image.slots <= kSlotCount;
    const std::string slots = fits ? std::to_string(image.slots) : "more than 32";
    Reply& reply = context.reply;
    reply.Line(arguments.file + ": " + KindName(image.kind) + ", " +
               std::to_string(image.fileLength) + " bytes (" + std::to_string(image.imageLength) +
               " on the flash)");
    reply.Line("needs " + slots + (image.slots == 1 ? " slot" : " slots") +
               (image.alignMask != 0 ? ", starting at an even slot" : ", starting at any slot"));
    reply.Line("header: " + KindOf(header) + ", size " + std::to_string(sizeField) + ", name " +
               Printable(NameOf(header)));
    if (!executable.text.empty()) reply.Line(executable.text);
    reply.data["file"] = arguments.file;
    reply.data["kind"] = KindName(image.kind);
    reply.data["bytes"] = image.fileLength;
    reply.data["image_bytes"] = image.imageLength;
    if (fits) reply.data["slots"] = image.slots;
    reply.data["even_start"] = image.alignMask != 0;
    reply.data["magic_hex"] = MagicHex(header);
    reply.data["name"] = NameOf(header);
    reply.data["size"] = sizeField;
    if (!executable.text.empty()) reply.data[KindName(image.kind)] = executable.data;
    return {};
}

// A file instead of the board: a dump's catalogue, or an image's. The file is only read.
Outcome ShowFile(ToolContext& context, const InfoArguments& arguments) {
    ReadOnlyFile file;
    uint64_t size = 0;
    KELM_TRY(OpenRegularFile(arguments.file, file, size));
    if (size != kFlashSize || arguments.kind) return ShowImage(context, arguments);
    BoardCatalogue catalogue;
    KELM_TRY(ReadDumpCatalogue(file, arguments.file, catalogue));
    ShowCatalogue(context, catalogue);
    context.reply.data["file"] = arguments.file;
    return {};
}

}  // namespace

Outcome RunInfo(ToolContext& context, const InfoArguments& arguments) {
    if (!arguments.file.empty()) return ShowFile(context, arguments);
    CataloguedBoard board;
    KELM_TRY(board.Open(context.options));
    ShowCatalogue(context, board.catalogue());
    return {};
}

namespace {

class InfoCommand : public Command {
  public:
    const char* name() const override { return "info"; }
    const char* summary() const override {
        return "the slot map and the images on the board, or what a file holds";
    }
    std::vector<Example> examples() const override {
        return {
            {"kelmtool info", "the slot map and the images on the board"},
            {"kelmtool --json info", "the same as one JSON document"},
            {"kelmtool info game.dol", "what writing game.dol would take, without a board"},
        };
    }
    void Declare(CLI::App& command) override {
        command.add_option("FILE", arguments_.file,
                           "an image or a 2 MB dump to describe instead of the board");
        command.add_option("--kind", kind_, "the file's kind, instead of its extension")
            ->check(CLI::IsMember(KindChoices()));
    }
    Outcome Settle() override {
        if (!kind_.empty()) arguments_.kind = KindFromName(kind_);
        return {};
    }
    Outcome Run(ToolContext& context) override { return RunInfo(context, arguments_); }

  private:
    InfoArguments arguments_;
    std::string kind_;
};

}  // namespace

std::unique_ptr<Command> MakeInfoCommand() { return std::make_unique<InfoCommand>(); }
