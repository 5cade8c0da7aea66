// backup and dump: flash read into a file that appears under its name only when complete.
#include <string>

#include "board_catalogue.h"
#include "board_connection.h"
#include "command.h"
#include "commands.h"
#include "flash_io.h"
#include "numbers.h"
#include "output_file.h"

namespace {

// Reads length bytes from address into file under one bus request.
Outcome SaveFlash(ToolContext& context, BoardSession& session, uint32_t address, uint64_t length,
                  OutputFile& file, const char* label) {
    KELM_TRY(session.TakeBus());
    context.progress.Start(label, length);
    const ByteSink sink = [&file](const uint8_t* bytes, uint32_t count) {
        return file.Append(bytes, count);
    };
    KELM_TRY(ReadBytes(session, address, length, sink, context.progress));
    context.progress.Finish();
    KELM_TRY(session.ReleaseBus());
    return file.Commit();
}

// Refuses a target that may not be written and creates the file under construction, both before
// the board is touched: a folder that cannot take the file refuses the run there.
Outcome PrepareOutput(const ToolContext& context, const std::string& output, bool force,
                      OutputFile& file) {
    KELM_TRY(CheckOutputTarget(output, force, context.options.simFile));
    return file.Open(output, force);
}

}  // namespace

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
    context.reply.data["slot"] = first;
    context.reply.data["slots"] = count;
    context.reply.data["bytes"] = bytes;
    context.reply.data["file"] = arguments.output;
    return {};
}

Outcome RunDump(ToolContext& context, const DumpArguments& arguments) {
    OutputFile file;
    KELM_TRY(PrepareOutput(context, arguments.output, arguments.force, file));
    BoardConnection connection;
    KELM_TRY(connection.Open(context.options));
    BoardSession session = connection.Session(context.options);
    KELM_TRY(SaveFlash(context, session, 0, kFlashSize, file, "dumping"));
    context.reply.Line("saved the whole flash (" + std::to_string(kFlashSize) + " bytes) to " +
                       arguments.output);
    context.reply.data["bytes"] = kFlashSize;
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
    void Declare(CLI::App& command) override {
        command.add_option("SLOT", slot_, kSlotHelp)->required();
        command.add_option("-o,--output", arguments_.output, "the file to write")->required();
        command.add_flag("--force", arguments_.force, "replace an existing file");
    }
    Outcome Settle() override { return ParseSlot(slot_, arguments_.slot); }
    Outcome Run(ToolContext& context) override { return RunBackup(context, arguments_); }

  private:
    BackupArguments arguments_;
    std::string slot_;
};

class DumpCommand : public Command {
  public:
    const char* name() const override { return "dump"; }
    const char* summary() const override { return "save the whole 2 MB flash into a file"; }
    void Declare(CLI::App& command) override {
        command.add_option("-o,--output", arguments_.output, "the file to write")->required();
        command.add_flag("--force", arguments_.force, "replace an existing file");
    }
    Outcome Run(ToolContext& context) override { return RunDump(context, arguments_); }

  private:
    DumpArguments arguments_;
};

}  // namespace

std::unique_ptr<Command> MakeBackupCommand() { return std::make_unique<BackupCommand>(); }
std::unique_ptr<Command> MakeDumpCommand() { return std::make_unique<DumpCommand>(); }
