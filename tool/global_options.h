// The options that come before the command: declared on the application, settled (the durations
// read strictly) once the command line is parsed.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

#include "outcome.h"
#include "tool_context.h"

class GlobalOptions {
  public:
    void Declare(CLI::App& app, ToolOptions& options);
    // BadInput for a duration out of its range, before anything reaches the board.
    Outcome Settle(ToolOptions& options) const;

  private:
    std::string waitText_;
    std::string timeoutText_;
    CLI::Option* wait_ = nullptr;
    CLI::Option* timeout_ = nullptr;
};
