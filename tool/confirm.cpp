// The question erase and restore ask before they change the flash.
#include <iostream>
#include <string>

#include "commands.h"

Outcome Confirm(const ToolContext& context, bool yes, const std::string& question) {
    if (yes) return {};
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
