// dump: the whole flash into a file that appears under its name only when complete.
#include <string>

#include "board_connection.h"
#include "command.h"
#include "commands.h"
#include "flash_save.h"

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

class DumpCommand : public Command {
  public:
    const char* name() const override { return "dump"; }
    const char* summary() const override { return "save the whole 2 MB flash into a file"; }
    std::vector<Example> examples() const override {
        return {
            {"kelmtool dump -o board.bin", "the whole flash into board.bin"},
            {"kelmtool dump -o board.bin --force", "replacing board.bin"},
        };
    }
    void Declare(CLI::App& command) override {
        command.add_option("-o,--output", arguments_.output, "the file to write")
            ->required()
            ->type_name("FILE");
        command.add_flag("--force", arguments_.force, "replace an existing file");
    }
    Outcome Run(ToolContext& context) override { return RunDump(context, arguments_); }

  private:
    DumpArguments arguments_;
};

}  // namespace

std::unique_ptr<Command> MakeDumpCommand() { return std::make_unique<DumpCommand>(); }
