// restore: a whole-flash dump back onto the board, every slot erased first and every slot's
// header written after the rest.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "board_catalogue.h"
#include "board_connection.h"
#include "command.h"
#include "commands.h"
#include "flash_io.h"
#include "image_file.h"
#include "input_file.h"

namespace {

Outcome ReadDump(std::FILE* file, const std::string& path, uint64_t offset, uint8_t* out,
                 uint32_t count) {
    if (std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0 &&
        std::fread(out, 1, count, file) == count) {
        return {};
    }
    return Outcome::Fail(ExitCode::Failed, "could not read " + path);
}

}  // namespace

Outcome RunRestore(ToolContext& context, const RestoreArguments& arguments) {
    ReadOnlyFile dump;
    uint64_t size = 0;
    KELM_TRY(OpenRegularFile(arguments.file, dump, size));
    if (size != kFlashSize) {
        return Outcome::Fail(ExitCode::BadInput, arguments.file + " is " + std::to_string(size) +
                                                     " bytes long, not a dump of " +
                                                     std::to_string(kFlashSize));
    }
    // The erase would wipe the dump before a byte of it was read back.
    for (const std::string& simFile : context.options.simFiles) {
        std::error_code error;
        if (std::filesystem::equivalent(simFile, arguments.file, error)) {
            return Outcome::Fail(ExitCode::BadInput,
                                 arguments.file + " is the simulated board's own flash file");
        }
    }
    KELM_TRY(Confirm(context, arguments.yes,
                     "Erase the whole flash and write " + arguments.file + " onto it?"));
    BoardConnection connection;
    KELM_TRY(connection.Open(context.options));
    BoardSession session = connection.Session(context.options);

    const ByteSource source = [&dump, &arguments](uint64_t offset, uint8_t* out, uint32_t n) {
        return ReadDump(dump.get(), arguments.file, offset, out, n);
    };
    KELM_TRY(session.TakeBus());
    int erased = 0;
    bool written = false;
    const Outcome restored = [&]() -> Outcome {
        context.progress.Start("erasing", kFlashSize);
        KELM_TRY(EraseSlots(session, 0, kSlotCount, context.progress, erased));
        context.progress.Finish();
        context.progress.Start("writing", kFlashSize);
        KELM_TRY(WriteHeadersLast(session, 0, kFlashSize, source, context.progress,
                                  HeldBack::EverySlot));
        written = true;
        context.progress.Finish();
        if (!arguments.verify) return {};
        context.progress.Start("verifying", kFlashSize);
        KELM_TRY(VerifyBytes(session, 0, kFlashSize, source, context.progress));
        context.progress.Finish();
        return {};
    }();
    if (restored.interrupted()) {
        ImageWriteStage stage;
        stage.erased = erased;
        stage.written = written;
        const std::string holds = DescribeStoppedRestore(arguments.file, stage);
        return restored.Said("interrupted: " + holds);
    }
    KELM_TRY(restored);
    KELM_TRY(session.ReleaseBus());
    context.reply.Line("restored " + arguments.file + " onto the whole flash" +
                       (arguments.verify ? ", verified" : ""));
    context.reply.data["bytes"] = kFlashSize;
    context.reply.data["verified"] = arguments.verify;
    return {};
}

namespace {

class RestoreCommand : public Command {
  public:
    const char* name() const override { return "restore"; }
    const char* summary() const override { return "erase every slot and write a 2 MB dump back"; }
    void Declare(CLI::App& command) override {
        command.add_option("FILE", arguments_.file, "a dump of exactly 2097152 bytes")->required();
        command.add_flag("--yes", arguments_.yes, "do not ask");
        command.add_flag("--verify", arguments_.verify, "read the flash back and compare");
    }
    Outcome Run(ToolContext& context) override { return RunRestore(context, arguments_); }

  private:
    RestoreArguments arguments_;
};

}  // namespace

std::unique_ptr<Command> MakeRestoreCommand() { return std::make_unique<RestoreCommand>(); }
