// write: image files into free slots, each placed as if the ones before it were written, all
// placed before any is written; each erased first, its header written last, sending only what
// changes the flash, then read back.
#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "board_catalogue.h"
#include "board_connection.h"
#include "command.h"
#include "commands.h"
#include "core/image_place.h"
#include "flash_image.h"
#include "image_file.h"
#include "numbers.h"
#include "rehearsal.h"

namespace {

// The slots an image placed at start takes, as the catalogue would show them once it is written.
void Occupy(SlotEntry* map, int start, int count) {
    for (int slot = start; slot < start + count; ++slot) map[slot] = {SlotState::Used, start};
}

// Where each image goes, each placed as if those before it were written already. BadInput when
// one cannot be placed; nothing has been written then.
Outcome Place(const WriteArguments& arguments, const std::vector<ImageFile>& images,
              const BoardCatalogue& catalogue, std::vector<int>& starts) {
    SlotEntry map[kSlotCount];
    std::copy(std::begin(catalogue.map), std::end(catalogue.map), map);
    for (size_t i = 0; i < images.size(); ++i) {
        const ImageFile& image = images[i];
        const int wanted = i == 0 && arguments.slot ? *arguments.slot : -1;
        int start = 0;
        if (const auto refusal =
                PlaceImage(map, image, image.path, wanted, static_cast<int>(i), start)) {
            return Outcome::Fail(ExitCode::BadInput, *refusal);
        }
        Occupy(map, start, image.slots);
        starts.push_back(start);
    }
    return {};
}

nlohmann::json Described(const ImageFile& image, int start, bool verified) {
    return {{"file", image.path},         {"slot", start},
            {"slots", image.slots},       {"kind", KindName(image.kind)},
            {"bytes", image.imageLength}, {"verified", verified}};
}

std::string Written(const ImageFile& image, int start) {
    return image.path + " (" + KindName(image.kind) + ", " + std::to_string(image.imageLength) +
           " bytes) to " + SlotRange(start, image.slots);
}

// The same writes, sent to a stand-in board: what they would take.
Outcome Rehearse(ToolContext& context, const WriteArguments& arguments,
                 std::vector<ImageFile>& images, const std::vector<int>& starts) {
    Rehearsal rehearsal(context.options);
    Progress silent(stderr, false);
    nlohmann::json planned = nlohmann::json::array();
    KELM_TRY(rehearsal.session().TakeBus());
    for (size_t i = 0; i < images.size(); ++i) {
        const uint64_t before = rehearsal.reports();
        ImageWriteStage stage;
        KELM_TRY(
            FlashImage(rehearsal.session(), images[i], starts[i], arguments.verify, silent, stage));
        const uint64_t reports = rehearsal.reports() - before;
        context.reply.Line(
            "would write " + Written(images[i], starts[i]) + ": erase " +
            std::to_string(images[i].slots) + (images[i].slots == 1 ? " slot" : " slots") + ", " +
            std::to_string(reports) + " reports" + (arguments.verify ? " with the read-back" : ""));
        nlohmann::json entry = Described(images[i], starts[i], false);
        entry["reports"] = reports;
        planned.push_back(entry);
    }
    KELM_TRY(rehearsal.session().ReleaseBus());
    context.reply.Line("dry run: nothing was written");
    context.reply.data["dry_run"] = true;
    context.reply.data["images"] = planned;
    context.reply.data["reports"] = rehearsal.reports();
    return {};
}

}  // namespace

Outcome RunWrite(ToolContext& context, const WriteArguments& arguments) {
    std::vector<ImageFile> images(arguments.files.size());
    for (size_t i = 0; i < images.size(); ++i) {
        KELM_TRY(OpenImage(arguments.files[i], arguments.kind, images[i]));
        if (const auto refusal = SizeRefusal(images[i], arguments.files[i])) {
            return Outcome::Fail(ExitCode::BadInput, *refusal);
        }
    }
    if (arguments.slot) KELM_TRY(CheckSlotNumber(*arguments.slot));
    CataloguedBoard board;
    KELM_TRY(board.Open(context.options));
    BoardSession& session = board.session();
    std::vector<int> starts;
    KELM_TRY(Place(arguments, images, board.catalogue(), starts));
    if (arguments.dryRun) return Rehearse(context, arguments, images, starts);

    KELM_TRY(session.TakeBus());
    nlohmann::json written = nlohmann::json::array();
    std::string done;  // what the images already written hold, for an interruption's message
    for (size_t i = 0; i < images.size(); ++i) {
        ImageWriteStage stage;
        const Outcome flashed =
            FlashImage(session, images[i], starts[i], arguments.verify, context.progress, stage);
        if (flashed.interrupted()) {
            return flashed.Said("interrupted: " + done +
                                DescribeStoppedWrite(images[i], starts[i], stage));
        }
        KELM_TRY(flashed);
        done += SlotRange(starts[i], images[i].slots) +
                (images[i].slots == 1 ? " holds " : " hold ") + images[i].path +
                (arguments.verify ? ", written and verified; " : ", written; ");
        context.reply.Line("wrote " + Written(images[i], starts[i]) +
                           (arguments.verify ? ", verified" : ""));
        written.push_back(Described(images[i], starts[i], arguments.verify));
    }
    KELM_TRY(session.ReleaseBus());
    // One image's document keeps the fields of before at its top.
    if (written.size() == 1) {
        for (const auto& field : written[0].items()) {
            if (field.key() != "file") context.reply.data[field.key()] = field.value();
        }
    }
    context.reply.data["images"] = written;
    return {};
}

namespace {

class WriteCommand : public Command {
  public:
    const char* name() const override { return "write"; }
    const char* summary() const override {
        return "write image files into free slots, one after another";
    }
    std::vector<Example> examples() const override {
        return {
            {"kelmtool write game.dol", "into the first free slots, then verified"},
            {"kelmtool write bios.gcb --slot 0", "from slot 0"},
            {"kelmtool write a.dol b.elf --dry-run", "where both would go, writing nothing"},
        };
    }
    void Declare(CLI::App& command) override {
        command
            .add_option("FILE", arguments_.files,
                        "a .gcb, .dol, .elf or .vgc file; several are written in order")
            ->required();
        command.add_option("--kind", kind_, "every file's kind, instead of its extension")
            ->check(CLI::IsMember(KindChoices()));
        slot_ = command
                    .add_option("--slot", slotText_,
                                "the first image's first slot, 0 to 31 (default: the first "
                                "that can take it)")
                    ->type_name("N");
        command.add_flag("--dry-run", arguments_.dryRun, kDryRunWriteHelp);
        command.add_flag("--no-verify", noVerify_, kNoVerifyHelp);
        // Reading back is the default now; scripts that still ask for it are not refused.
        command.add_flag("--verify", verifyAsked_, "")->group("");
    }
    Outcome Settle() override {
        arguments_.verify = !noVerify_;
        if (!kind_.empty()) arguments_.kind = KindFromName(kind_);
        if (slot_->count() == 0) return {};
        int slot = 0;
        KELM_TRY(ParseSlot(slotText_, slot));
        arguments_.slot = slot;
        return {};
    }
    Outcome Run(ToolContext& context) override { return RunWrite(context, arguments_); }

  private:
    bool noVerify_ = false;
    bool verifyAsked_ = false;
    WriteArguments arguments_;
    std::string kind_;
    std::string slotText_;
    CLI::Option* slot_ = nullptr;
};

}  // namespace

std::unique_ptr<Command> MakeWriteCommand() { return std::make_unique<WriteCommand>(); }
