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
#include "rehearsal.h"

namespace {

Outcome ReadDump(std::FILE* file, const std::string& path, uint64_t offset, uint8_t* out,
                 uint32_t count) {
    if (std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0 &&
        std::fread(out, 1, count, file) == count) {
        return {};
    }
    return Outcome::Fail(ExitCode::Failed, "could not read " + path);
}

// Every slot erased, the dump written with the slots' headers last, and, if asked, read back.
Outcome Restore(BoardSession& session, const RestoreArguments& arguments, const ByteSource& source,
                Progress& progress, int& erased, bool& written) {
    progress.Start("erasing", kFlashSize);
    KELM_TRY(EraseSlots(session, 0, kSlotCount, progress, erased));
    progress.Finish();
    progress.Start("writing", kFlashSize);
    KELM_TRY(WriteHeadersLast(session, 0, kFlashSize, source, progress, HeldBack::EverySlot));
    written = true;
    progress.Finish();
    if (!arguments.verify) return {};
    progress.Start("verifying", kFlashSize);
    KELM_TRY(VerifyBytes(session, 0, kFlashSize, source, progress));
    progress.Finish();
    return {};
}

// The board's catalogue read, and the restore sent to a stand-in board: what it would take.
Outcome Rehearse(ToolContext& context, const RestoreArguments& arguments,
                 const ByteSource& source) {
    CataloguedBoard board;
    KELM_TRY(board.Open(context.options));
    int images = 0;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const SlotEntry& entry = board.catalogue().map[slot];
        if (entry.state != SlotState::Free && entry.owner == slot) ++images;
    }
    Rehearsal rehearsal(context.options);
    Progress silent(stderr, false);
    int erased = 0;
    bool written = false;
    KELM_TRY(rehearsal.session().TakeBus());
    KELM_TRY(Restore(rehearsal.session(), arguments, source, silent, erased, written));
    KELM_TRY(rehearsal.session().ReleaseBus());
    context.reply.Line("would erase all " + std::to_string(kSlotCount) +
                       " slots (the board holds " + std::to_string(images) +
                       (images == 1 ? " image" : " images") + ") and write " + arguments.file +
                       " (" + std::to_string(kFlashSize) +
                       " bytes): " + std::to_string(rehearsal.reports()) + " reports" +
                       (arguments.verify ? " with the read-back" : ""));
    context.reply.Line("dry run: nothing was written");
    context.reply.data["dry_run"] = true;
    context.reply.data["bytes"] = kFlashSize;
    context.reply.data["images_replaced"] = images;
    context.reply.data["reports"] = rehearsal.reports();
    return {};
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
    const ByteSource source = [&dump, &arguments](uint64_t offset, uint8_t* out, uint32_t n) {
        return ReadDump(dump.get(), arguments.file, offset, out, n);
    };
    // The erase would wipe the dump before a byte of it was read back.
    for (const std::string& simFile : context.options.simFiles) {
        std::error_code error;
        if (std::filesystem::equivalent(simFile, arguments.file, error)) {
            return Outcome::Fail(ExitCode::BadInput,
                                 arguments.file + " is the simulated board's own flash file");
        }
    }
    if (arguments.dryRun) return Rehearse(context, arguments, source);
    KELM_TRY(Confirm(context, arguments.yes,
                     "Erase the whole flash and write " + arguments.file + " onto it?"));
    BoardConnection connection;
    KELM_TRY(connection.Open(context.options));
    BoardSession session = connection.Session(context.options);

    KELM_TRY(session.TakeBus());
    int erased = 0;
    bool written = false;
    const Outcome restored = Restore(session, arguments, source, context.progress, erased, written);
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
    std::vector<Example> examples() const override {
        return {
            {"kelmtool restore board.bin", "asks first, then writes and verifies"},
            {"kelmtool restore board.bin --yes --no-verify", "from a script, without reading back"},
            {"kelmtool restore board.bin --dry-run", "what it would erase and send"},
        };
    }
    void Declare(CLI::App& command) override {
        command.add_option("FILE", arguments_.file, "a dump of exactly 2097152 bytes")->required();
        command.add_flag("--yes", arguments_.yes, "do not ask");
        command.add_flag("--dry-run", arguments_.dryRun, kDryRunWriteHelp);
        command.add_flag("--no-verify", noVerify_, kNoVerifyHelp);
        // Reading back is the default now; scripts that still ask for it are not refused.
        command.add_flag("--verify", verifyAsked_, "")->group("");
    }
    Outcome Settle() override {
        arguments_.verify = !noVerify_;
        return {};
    }
    Outcome Run(ToolContext& context) override { return RunRestore(context, arguments_); }

  private:
    bool noVerify_ = false;
    bool verifyAsked_ = false;
    RestoreArguments arguments_;
};

}  // namespace

std::unique_ptr<Command> MakeRestoreCommand() { return std::make_unique<RestoreCommand>(); }
