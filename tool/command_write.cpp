// write: an image file into free slots, erased first, its header written last, sending only
// what changes the flash.
#include <string>

#include "board_catalogue.h"
#include "board_connection.h"
#include "command.h"
#include "commands.h"
#include "flash_image.h"
#include "image_file.h"
#include "numbers.h"

Outcome RunWrite(ToolContext& context, const WriteArguments& arguments) {
    ImageFile image;
    KELM_TRY(OpenImage(arguments.file, arguments.kind, image));
    if (image.slots > kSlotCount) {
        return Outcome::Fail(ExitCode::BadInput,
                             arguments.file + " needs more than the 32 slots of the flash");
    }
    if (arguments.slot) KELM_TRY(CheckSlotNumber(*arguments.slot));
    CataloguedBoard board;
    KELM_TRY(board.Open(context.options));
    BoardSession& session = board.session();
    const BoardCatalogue& catalogue = board.catalogue();

    int start = 0;
    const std::string needs = std::to_string(image.slots) + " slot" +
                              (image.slots == 1 ? "" : "s") +
                              (image.alignMask != 0 ? ", starting at an even slot" : "");
    if (arguments.slot) {
        start = *arguments.slot;
        if (!CanPlaceOn(catalogue.map, start, image.slots, image.alignMask)) {
            return Outcome::Fail(ExitCode::BadInput, "slot " + std::to_string(start) +
                                                         " cannot take " + arguments.file +
                                                         " (it needs " + needs + ")");
        }
    } else {
        start = FirstPlaceOn(catalogue.map, image.slots, image.alignMask);
        if (start < 0) {
            return Outcome::Fail(ExitCode::BadInput, "not enough free space for " + arguments.file +
                                                         " (it needs " + needs +
                                                         "): erase something first");
        }
    }

    KELM_TRY(session.TakeBus());
    ImageWriteStage stage;
    const Outcome flashed =
        FlashImage(session, image, start, arguments.verify, context.progress, stage);
    if (flashed.interrupted()) {
        return flashed.Said("interrupted: " + DescribeStoppedWrite(image, start, stage));
    }
    KELM_TRY(flashed);
    KELM_TRY(session.ReleaseBus());

    context.reply.Line("wrote " + arguments.file + " (" + KindName(image.kind) + ", " +
                       std::to_string(image.imageLength) + " bytes) to " +
                       SlotRange(start, image.slots) + (arguments.verify ? ", verified" : ""));
    context.reply.data["slot"] = start;
    context.reply.data["slots"] = image.slots;
    context.reply.data["kind"] = KindName(image.kind);
    context.reply.data["bytes"] = image.imageLength;
    context.reply.data["verified"] = arguments.verify;
    return {};
}

namespace {

class WriteCommand : public Command {
  public:
    const char* name() const override { return "write"; }
    const char* summary() const override { return "write an image file into free slots"; }
    void Declare(CLI::App& command) override {
        command.add_option("FILE", arguments_.file, "a .gcb, .dol, .elf or .vgc file")->required();
        command.add_option("--kind", kind_, "the file's kind, instead of its extension")
            ->check(CLI::IsMember(KindChoices()));
        slot_ = command
                    .add_option("--slot", slotText_,
                                "the first slot, 0 to 31 (default: the first that can take it)")
                    ->type_name("N");
        command.add_flag("--verify", arguments_.verify, "read the flash back and compare");
    }
    Outcome Settle() override {
        if (!kind_.empty()) arguments_.kind = KindFromName(kind_);
        if (slot_->count() == 0) return {};
        int slot = 0;
        KELM_TRY(ParseSlot(slotText_, slot));
        arguments_.slot = slot;
        return {};
    }
    Outcome Run(ToolContext& context) override { return RunWrite(context, arguments_); }

  private:
    WriteArguments arguments_;
    std::string kind_;
    std::string slotText_;
    CLI::Option* slot_ = nullptr;
};

}  // namespace

std::unique_ptr<Command> MakeWriteCommand() { return std::make_unique<WriteCommand>(); }
