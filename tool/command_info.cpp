// info: the slot map and the images on the board.
#include <cstdio>
#include <cstring>
#include <string>

#include "board_catalogue.h"
#include "board_connection.h"
#include "command.h"
#include "commands.h"
#include "core/printable.h"

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
        char line[64];
        std::snprintf(line, sizeof line, "%4d  %-5s  %-9s  %5d", slot, catalogue.labels[slot],
                      StateName(entry.state), entry.owner);
        context.reply.Line(line);
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
        std::snprintf(line, sizeof line, "  slot %2d  %2d slot%s  %-5s  magic %s  size %u  ", slot,
                      run, run == 1 ? " " : "s", catalogue.labels[slot], MagicHex(header).c_str(),
                      static_cast<unsigned>(catalogue.storedSize[slot]));
        context.reply.Line(line + Printable(NameOf(header)));
    }
    if (images.empty()) context.reply.Line("  none");
    const bool bios = BiosInSlotZero(catalogue);
    context.reply.Line(bios ? "slot 0 holds a bootable BIOS" : "slot 0 holds no bootable BIOS");
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
    void Declare(CLI::App&) override {}
    Outcome Run(ToolContext& context) override { return RunInfo(context); }
};

}  // namespace

std::unique_ptr<Command> MakeInfoCommand() { return std::make_unique<InfoCommand>(); }
