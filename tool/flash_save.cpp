// Flash read into a file that appears under its name only when complete.
#include "flash_save.h"

#include "flash_io.h"

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

Outcome PrepareOutput(const ToolContext& context, const std::string& output, bool force,
                      OutputFile& file) {
    if (context.options.ManyBoards()) {
        return Outcome::Fail(ExitCode::BadInput,
                             "one output file cannot take every board's flash: choose each board "
                             "with --serial");
    }
    KELM_TRY(CheckOutputTarget(output, force, context.options.simFiles));
    return file.Open(output, force);
}
