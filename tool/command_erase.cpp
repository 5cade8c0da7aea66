// erase: the whole application a slot belongs to.
#include <cstdio>
#include <string>

#include "board_catalogue.h"
#include "board_connection.h"
#include "command.h"
#include "commands.h"
#include "numbers.h"
#include "rehearsal.h"

namespace {

// The erase sent to a stand-in board: what it would take.
Outcome Rehearse(ToolContext& context, const BoardCatalogue& catalogue, int first, int count) {
    Rehearsal rehearsal(context.options);
    nlohmann::json slots = nlohmann::json::array();
    KELM_TRY(rehearsal.session().TakeBus());
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (catalogue.map[slot].owner != first) continue;
        KELM_TRY(rehearsal.session().EraseBank(slot));
        slots.push_back(slot);
    }
    KELM_TRY(rehearsal.session().ReleaseBus());
    context.reply.Line("would erase the " + std::string(catalogue.labels[first]) + " image in " +
                       SlotRange(first, count) + ": " + std::to_string(rehearsal.reports()) +
                       " reports");
    context.reply.Line("dry run: nothing was erased");
    context.reply.data["dry_run"] = true;
    context.reply.data["slot"] = first;
    context.reply.data["slots"] = count;
    context.reply.data["would_erase"] = slots;
    context.reply.data["reports"] = rehearsal.reports();
    return {};
}

}  // namespace

Outcome RunErase(ToolContext& context, const EraseArguments& arguments) {
    KELM_TRY(CheckSlotNumber(arguments.slot));
    // A dry run changes nothing, so it asks nothing.
    if (!arguments.dryRun && !arguments.yes && !context.stdinIsTerminal)
        KELM_TRY(Confirm(context, false, ""));
    CataloguedBoard board;
    KELM_TRY(board.OpenAtRun(context.options, arguments.slot));
    BoardSession& session = board.session();
    const BoardCatalogue& catalogue = board.catalogue();
    const int first = board.first();
    const int count = board.count();
    if (arguments.dryRun) return Rehearse(context, catalogue, first, count);
    KELM_TRY(Confirm(context, arguments.yes,
                     "Erase the " + std::string(catalogue.labels[first]) + " image in " +
                         SlotRange(first, count) + "?"));

    nlohmann::json erased = nlohmann::json::array();
    KELM_TRY(session.TakeBus());
    context.progress.Start("erasing", static_cast<uint64_t>(count) * kSlotSize);
    // The map's owners, not adjacency, say which slots belong to the image, as in the window.
    // Unlike the window, which gives the bus back after every slot, the bus is held across the
    // whole run: an erase from a script is one act, and the machine the board is fitted to
    // cannot boot into a half-erased application between two of its slots.
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (catalogue.map[slot].owner != first) continue;
        const Outcome done = session.EraseBank(slot);
        if (done.interrupted() && !erased.empty()) {
            // The first slot went first, and with it the header: what is left reads as free or
            // as whatever its first bytes look like.
            return done.Said("interrupted: " +
                             DescribeStoppedErase(first, count, static_cast<int>(erased.size())));
        }
        KELM_TRY(done);
        erased.push_back(slot);
        context.progress.Advance(kSlotSize);
    }
    context.progress.Finish();
    KELM_TRY(session.ReleaseBus());
    context.reply.Line("erased " + SlotRange(first, count));
    context.reply.data["slot"] = first;
    context.reply.data["slots"] = count;
    context.reply.data["erased"] = erased;
    return {};
}

namespace {

class EraseCommand : public Command {
  public:
    const char* name() const override { return "erase"; }
    const char* summary() const override { return "erase the application a slot belongs to"; }
    std::vector<Example> examples() const override {
        return {
            {"kelmtool erase 2", "asks first, on a terminal"},
            {"kelmtool erase 2 --yes", "from a script"},
            {"kelmtool erase 2 --dry-run", "which slots it would erase"},
        };
    }
    void Declare(CLI::App& command) override {
        command.add_option("SLOT", slot_, kSlotHelp)->required();
        command.add_flag("--yes", arguments_.yes, "do not ask");
        command.add_flag("--dry-run", arguments_.dryRun,
                         "read the catalogue and say what would be erased; erase nothing");
    }
    Outcome Settle() override { return ParseSlot(slot_, arguments_.slot); }
    Outcome Run(ToolContext& context) override { return RunErase(context, arguments_); }

  private:
    EraseArguments arguments_;
    std::string slot_;
};

}  // namespace

std::unique_ptr<Command> MakeEraseCommand() { return std::make_unique<EraseCommand>(); }
