// backup: the application a slot belongs to, read into a .gcb file that appears under its name
// only when complete.
#include <string>

#include "board_catalogue.h"
#include "board_connection.h"
#include "command.h"
#include "commands.h"
#include "flash_save.h"
#include "numbers.h"

Outcome RunBackup(ToolContext& context, const BackupArguments& arguments) {
    KELM_TRY(CheckSlotNumber(arguments.slot));
    OutputFile file;
    KELM_TRY(PrepareOutput(context, arguments.output, arguments.force, file));
    CataloguedBoard board;
    KELM_TRY(board.OpenAtRun(context.options, arguments.slot));
    BoardSession& session = board.session();
    const int first = board.first();
    const int count = board.count();
    const uint64_t bytes = static_cast<uint64_t>(count) * kSlotSize;
    KELM_TRY(SaveFlash(context, session, static_cast<uint32_t>(first) * kSlotSize, bytes, file,
                       "reading"));
    context.reply.Line("saved " + SlotRange(first, count) + " (" + std::to_string(bytes) +
                       " bytes) to " + arguments.output);
    // The copy is a .gcb file, which a write starts at an even slot only.
    if (first % 2 != 0) {
        context.reply.Note("warning: the image starts at odd slot " + std::to_string(first) +
                           ": a .gcb is written from an even slot, so this copy cannot be "
                           "written back to slot " +
                           std::to_string(first));
    }
    context.reply.data["slot"] = first;
    context.reply.data["slots"] = count;
    context.reply.data["bytes"] = bytes;
    context.reply.data["file"] = arguments.output;
    return {};
}

namespace {

class BackupCommand : public Command {
  public:
    const char* name() const override { return "backup"; }
    const char* summary() const override {
        return "save the application a slot belongs to into a .gcb file";
    }
    std::vector<Example> examples() const override {
        return {
            {"kelmtool backup 2 -o game.gcb", "the application in slot 2 into game.gcb"},
            {"kelmtool backup 5 -o game.gcb --force", "replacing game.gcb"},
        };
    }
    void Declare(CLI::App& command) override {
        command.add_option("SLOT", slot_, kSlotHelp)->required();
        command.add_option("-o,--output", arguments_.output, "the file to write")
            ->required()
            ->type_name("FILE");
        command.add_flag("--force", arguments_.force, "replace an existing file");
    }
    Outcome Settle() override { return ParseSlot(slot_, arguments_.slot); }
    Outcome Run(ToolContext& context) override { return RunBackup(context, arguments_); }

  private:
    BackupArguments arguments_;
    std::string slot_;
};

}  // namespace

std::unique_ptr<Command> MakeBackupCommand() { return std::make_unique<BackupCommand>(); }
