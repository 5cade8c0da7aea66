// kelmtool: the kelm board's flash from the command line.
#include <cstdio>
#include <iostream>
#include <string>

#include "command.h"
#include "command_line.h"
#include "global_options.h"
#include "interrupt.h"
#include "json_text.h"
#include "many_boards.h"
#include "progress.h"
#include "tool_context.h"

#ifndef KELM_VERSION
#error "the build defines KELM_VERSION"
#endif

namespace {

// "kelmtool verify: " before a message, or "kelmtool " alone before one that begins with the
// command's name already ("kelmtool verify failed: ...").
std::string Said(const std::string& command, const std::string& message) {
    if (message.rfind(command + " ", 0) == 0) return "kelmtool " + message;
    return "kelmtool " + command + ": " + message;
}

int Finish(const ToolOptions& options, const std::string& command, const Outcome& outcome,
           const Reply& reply) {
    const bool result = outcome.ok() || (outcome.interrupted() && reply.complete);
    for (const std::string& note : reply.notes) std::cerr << Said(command, note) << "\n";
    if (result) {
        if (options.json) {
            nlohmann::json document = reply.data;
            document["schema"] = kJsonSchema;
            std::cout << JsonText(document) << "\n";
        } else {
            std::cout << reply.text;
        }
    }
    if (!outcome.ok()) {
        std::cerr << Said(command, outcome.message()) << "\n";
        if (options.json && !result) {
            nlohmann::json document = {{"error", outcome.message()}, {"schema", kJsonSchema}};
            if (outcome.placed()) {
                document["slot"] = outcome.slot();
                document["offset"] = outcome.offset();
            }
            std::cout << JsonText(document) << "\n";
        }
    }
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "kelmtool: could not write to standard output\n";
        return outcome.ok() ? static_cast<int>(ExitCode::Failed) : static_cast<int>(outcome.code());
    }
    return static_cast<int>(outcome.code());
}

}  // namespace

int main(int argc, char** argv) {
    ToolOptions options;
    GlobalOptions global;
    CommandTable commands = MakeCommands();
    CommandLine line(commands, global, options, KELM_VERSION);
    int exitCode = 0;
    Command* command = line.Parse(argc, argv, exitCode);
    if (command == nullptr) return exitCode;
    // Numbers are read here, strictly, so that a bad one is refused before the board is touched.
    Reply reply;
    Outcome settled = global.Settle(options);
    if (settled.ok()) settled = command->Settle();
    if (!settled.ok()) return Finish(options, command->name(), settled, reply);

    if (!InstallInterruptHandlers()) {
        std::cerr << "kelmtool: cannot catch Ctrl-C; an interruption would end kelmtool at once\n";
    }
    // The trace writes to standard error line by line; a bar there would break every line.
    const bool showProgress = !options.quiet && !options.trace && IsTerminal(stderr);
    if (options.ManyBoards() && command->worksOnABoard()) {
        return RunOnManyBoards(*command, options, showProgress);
    }
    Progress progress(stderr, showProgress);
    ToolContext context{options, progress, reply, IsTerminal(stdin)};
    const Outcome outcome = command->Run(context);
    return Finish(options, command->name(), outcome, reply);
}
