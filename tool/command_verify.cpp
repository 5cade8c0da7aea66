// verify: the application at a slot against a file, as a write of that file would have put it.
#include <string>

#include "board_catalogue.h"
#include "board_connection.h"
#include "command.h"
#include "commands.h"
#include "core/image_place.h"
#include "flash_io.h"
#include "image_file.h"
#include "numbers.h"

namespace {

std::string Needs(const ImageFile& image, int first, int count) {
    return DescribeSlotsNeeded(image.path, image.slots, first, count);
}

}  // namespace

Outcome RunVerify(ToolContext& context, const VerifyArguments& arguments) {
    KELM_TRY(CheckSlotNumber(arguments.slot));
    ImageFile image;
    KELM_TRY(OpenImage(arguments.file, arguments.kind, image));
    CataloguedBoard board;
    KELM_TRY(board.OpenAtRun(context.options, arguments.slot));
    BoardSession& session = board.session();
    const int first = board.first();
    const int count = board.count();
    const uint32_t address = static_cast<uint32_t>(first) * kSlotSize;
    KELM_TRY(session.TakeBus());
    // A file since moved differs in the name field only (it holds the path), which is reported
    // but is no mismatch.
    uint8_t storedHead[kHeaderSize];
    KELM_TRY(session.Read(address, storedHead, kHeaderSize));
    const bool nameDiffers = TakeStoredName(image, storedHead);

    const uint64_t length = VerifyLength(first, count, image.slots);
    const ByteSource source = [&image](uint64_t offset, uint8_t* out, uint32_t n) {
        return ReadImage(image, offset, out, n);
    };
    context.progress.Start("verifying", length);
    const Outcome compared = VerifyBytes(session, address, length, source, context.progress);
    context.progress.Finish();
    if (compared.code() == ExitCode::Mismatch) {
        // The bus is handed back before the verdict, so the board is left as it was found.
        KELM_TRY(session.ReleaseBus());
        // Images of different lengths differ first in the size field, whose byte says little.
        if (image.slots != count)
            return compared.Said("verify failed: " + Needs(image, first, count));
        return compared;
    }
    KELM_TRY(compared);
    KELM_TRY(session.ReleaseBus());
    // An image that runs past the flash's end was never written there, however well its first
    // slots compare.
    if (first + image.slots > kSlotCount) {
        return Outcome::Fail(ExitCode::Mismatch, "verify failed: " + Needs(image, first, count))
            .At(first, kSizeOffset);
    }

    if (nameDiffers) {
        context.reply.Note(
            "note: the name field differs (the file was written from another path); that is no "
            "mismatch");
    }
    context.reply.Line(SlotRange(first, count) + " match " + arguments.file);
    context.reply.data["slot"] = first;
    context.reply.data["slots"] = count;
    context.reply.data["match"] = true;
    context.reply.data["name_differs"] = nameDiffers;
    return {};
}

namespace {

class VerifyCommand : public Command {
  public:
    const char* name() const override { return "verify"; }
    const char* summary() const override {
        return "compare the application at a slot with what writing a file would put there";
    }
    std::vector<Example> examples() const override {
        return {
            {"kelmtool verify 2 game.dol", "slot 2 against game.dol"},
            {"kelmtool --json verify 2 game.bin --kind dol", "a DOL named .bin, as JSON"},
        };
    }
    void Declare(CLI::App& command) override {
        command.add_option("SLOT", slot_, kSlotHelp)->required();
        command.add_option("FILE", arguments_.file, "the image file")->required();
        command.add_option("--kind", kind_, "the file's kind, instead of its extension")
            ->check(CLI::IsMember(KindChoices()));
    }
    Outcome Settle() override {
        if (!kind_.empty()) arguments_.kind = KindFromName(kind_);
        return ParseSlot(slot_, arguments_.slot);
    }
    Outcome Run(ToolContext& context) override { return RunVerify(context, arguments_); }

  private:
    VerifyArguments arguments_;
    std::string slot_;
    std::string kind_;
};

}  // namespace

std::unique_ptr<Command> MakeVerifyCommand() { return std::make_unique<VerifyCommand>(); }
