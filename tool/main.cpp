// kelmtool: the kelm board's flash from the command line.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <string>

#include "command.h"
#include "global_options.h"
#include "interrupt.h"
#include "many_boards.h"
#include "progress.h"
#include "tool_context.h"

#ifndef KELM_VERSION
#error "the build defines KELM_VERSION"
#endif

namespace {

constexpr char kDescription[] =
    "kelmtool: manages the flash of the kelm board (USB HID 03eb:0001): 2 MB in 32 slots of "
    "64 KB.";

// JSON output must survive the 8-bit texts of slot headers: invalid UTF-8 is replaced.
std::string Dump(const nlohmann::json& document) {
    return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

// --json anywhere on a command line that could not be parsed.
bool JsonAsked(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--json") return true;
    }
    return false;
}

int Finish(const ToolOptions& options, const std::string& command, const Outcome& outcome,
           const Reply& reply) {
    const bool result = outcome.ok() || (outcome.interrupted() && reply.complete);
    if (result) {
        if (options.json) {
            std::cout << Dump(reply.data) << "\n";
        } else {
            std::cout << reply.text;
        }
    }
    if (!outcome.ok()) {
        std::cerr << "kelmtool " << command << ": " << outcome.message() << "\n";
        if (options.json && !result)
            std::cout << Dump(nlohmann::json{{"error", outcome.message()}}) << "\n";
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
    CLI::App app(kDescription, "kelmtool");
    app.footer(ExitCodeList());
    app.set_version_flag("--version", std::string("kelmtool ") + KELM_VERSION);
    app.require_subcommand(1);
    GlobalOptions global;
    global.Declare(app, options);

    CommandTable commands = MakeCommands();
    for (const std::unique_ptr<Command>& command : commands) {
        CLI::App* subcommand = app.add_subcommand(command->name(), command->summary());
        command->Declare(*subcommand);
    }

    for (CLI::App* command : app.get_subcommands({})) command->footer(ExitCodeList());

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        if (code == 0) return 0;
        // A script that asked for JSON reads standard output, where CLI11 says nothing.
        if (JsonAsked(argc, argv))
            std::cout << Dump(nlohmann::json{{"error", error.what()}}) << "\n";
        // CLI11's own codes for a bad command line become the documented one.
        return static_cast<int>(ExitCode::BadInput);
    }
    CLI::App* chosen = app.get_subcommands().front();
    Command* command = nullptr;
    for (const std::unique_ptr<Command>& entry : commands) {
        if (chosen->get_name() == entry->name()) command = entry.get();
    }
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
