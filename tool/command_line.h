// kelmtool's command line: the global options and the command table on one CLI11 application,
// global options taken before or after the command, `help [COMMAND]` and `completion SHELL`
// answered here, and every error of the line itself said in one form, naming the --help to read.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "command.h"
#include "global_options.h"
#include "tool_context.h"

class CommandLine {
  public:
    // version: what --version shows after "kelmtool ".
    CommandLine(CommandTable& commands, GlobalOptions& global, ToolOptions& options,
                const std::string& version);

    // The command to run, or nullptr when the run ends here with exitCode: help, the version or
    // a completion script printed (0), or a usage error said (2).
    Command* Parse(int argc, char** argv, int& exitCode);

    CLI::App& app() { return app_; }

  private:
    // Says a usage error in its one form: "kelmtool: WHAT; see kelmtool [COMMAND] --help".
    int Refuse(const std::string& what, const std::string& command, bool json);
    // A name that is no command, with the closest one offered.
    std::string UnknownCommand(const std::string& word) const;

    CommandTable& commands_;
    CLI::App app_;
    CLI::App* help_ = nullptr;
    CLI::App* completion_ = nullptr;
    std::string helpTopic_;
    std::string shell_;
};

// The command name closest to word in spelling, or "" when none is close enough to offer.
std::string ClosestName(const std::string& word, const std::vector<std::string>& names);
