// The question erase and restore ask before they change the flash.
#include <iostream>
#include <string>

#include "commands.h"

Outcome Confirm(const ToolContext& context, bool yes, const std::string& question) {
    if (yes) return {};
    // Boards side by side would ask all at once, their questions and answers mixed up.
    if (context.options.ManyBoards()) {
        return Outcome::Fail(ExitCode::BadInput,
                             "with --all or --each-new, give --yes to go ahead");
    }
    if (!context.stdinIsTerminal) {
        return Outcome::Fail(ExitCode::BadInput,
                             "standard input is no terminal to ask on: give --yes to go ahead");
    }
    std::cerr << question << " [y/N] " << std::flush;
    std::string answer;
    if (std::getline(std::cin, answer) && (answer == "y" || answer == "Y" || answer == "yes")) {
        return {};
    }
    return Outcome::Fail(ExitCode::BadInput, "not confirmed; nothing was changed");
}
