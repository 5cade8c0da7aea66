// restore: a whole-flash dump back onto the board, every slot erased first.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "board_connection.h"
#include "commands.h"
#include "flash_io.h"
#include "image_file.h"

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
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(arguments.file, error);
    if (error) {
        return Outcome::Fail(ExitCode::BadInput,
                             "cannot open " + arguments.file + ": " + error.message());
    }
    if (size != kFlashSize) {
        return Outcome::Fail(ExitCode::BadInput, arguments.file + " is " + std::to_string(size) +
                                                     " bytes long, not a dump of " +
                                                     std::to_string(kFlashSize));
    }
    // The erase would wipe the dump before a byte of it was read back.
    if (!context.options.simFile.empty() &&
        std::filesystem::equivalent(context.options.simFile, arguments.file, error)) {
        return Outcome::Fail(ExitCode::BadInput,
                             arguments.file + " is the simulated board's own flash file");
    }
    ReadOnlyFile dump(std::fopen(arguments.file.c_str(), "rb"));
    if (!dump) {
        return Outcome::Fail(ExitCode::BadInput,
                             "cannot open " + arguments.file + ": " + std::strerror(errno));
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
    context.progress.Start("erasing", kFlashSize);
    for (int slot = 0; slot < kSlotCount; ++slot) {
        KELM_TRY(session.EraseBank(slot));
        context.progress.Advance(kSlotSize);
    }
    context.progress.Finish();
    context.progress.Start("writing", kFlashSize);
    KELM_TRY(WriteBytes(session, 0, kFlashSize, source, context.progress));
    context.progress.Finish();
    if (arguments.verify) {
        context.progress.Start("verifying", kFlashSize);
        KELM_TRY(VerifyBytes(session, 0, kFlashSize, source, context.progress));
        context.progress.Finish();
    }
    KELM_TRY(session.ReleaseBus());
    context.reply.Line("restored " + arguments.file + " onto the whole flash" +
                       (arguments.verify ? ", verified" : ""));
    context.reply.data["bytes"] = kFlashSize;
    context.reply.data["verified"] = arguments.verify;
    return {};
}
