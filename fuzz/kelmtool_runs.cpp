#include "kelmtool_runs.h"

#include <cstdio>
#include <optional>

#include "commands.h"
#include "progress.h"
#include "tool_context.h"

namespace kelmtoolrun {
namespace {

template <class Command>
Result Run(const std::string& flashFile, Command command) {
    ToolOptions options;
    options.simFiles = {flashFile};
    options.json = true;
    options.quiet = true;
    Progress progress(stderr, false);
    Reply reply;
    ToolContext context{options, progress, reply, false};
    const Outcome outcome = command(context);
    Result result;
    result.exitCode = static_cast<int>(outcome.code());
    result.message = outcome.message();
    if (outcome.ok()) {
        if (reply.data.contains("slot")) result.slot = reply.data["slot"].get<int>();
        if (reply.data.contains("slots")) result.slots = reply.data["slots"].get<int>();
        if (reply.data.contains("bytes")) result.bytes = reply.data["bytes"].get<uint64_t>();
    }
    return result;
}

}  // namespace

Result Write(const std::string& flashFile, const std::string& image, int kind, int slot,
             bool verify) {
    WriteArguments arguments;
    arguments.files = {image};
    if (kind >= 0) arguments.kind = static_cast<ImageKind>(kind);
    if (slot >= 0) arguments.slot = slot;
    arguments.verify = verify;
    return Run(flashFile,
               [&arguments](ToolContext& context) { return RunWrite(context, arguments); });
}

Result Restore(const std::string& flashFile, const std::string& dump, bool verify) {
    RestoreArguments arguments;
    arguments.file = dump;
    arguments.yes = true;
    arguments.verify = verify;
    return Run(flashFile,
               [&arguments](ToolContext& context) { return RunRestore(context, arguments); });
}

}  // namespace kelmtoolrun
