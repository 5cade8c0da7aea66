// info: the slot map and the images on the board.
#include <cstdio>
#include <cstring>
#include <string>

#include "board_catalogue.h"
#include "board_connection.h"
#include "command.h"
#include "commands.h"
#include "printable.h"

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

}  // namespace

Outcome RunInfo(ToolContext& context) {
    CataloguedBoard board;
    KELM_TRY(board.Open(context.options));
    const BoardCatalogue& catalogue = board.catalogue();

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
    return {};
}

namespace {

class InfoCommand : public Command {
  public:
    const char* name() const override { return "info"; }
    const char* summary() const override { return "the slot map and the images on the board"; }
    std::vector<Example> examples() const override {
        return {
            {"kelmtool info", "the slot map and the images on the board"},
            {"kelmtool --json info", "the same as one JSON document"},
            {"kelmtool info game.dol", "what writing game.dol would take, without a board"},
        };
    }
    void Declare(CLI::App&) override {}
    Outcome Run(ToolContext& context) override { return RunInfo(context); }
};

}  // namespace

std::unique_ptr<Command> MakeInfoCommand() { return std::make_unique<InfoCommand>(); }
