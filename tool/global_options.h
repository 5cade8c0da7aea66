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
    // BadInput for a duration out of its range, or boards named in ways that contradict each
    // other, before anything reaches the board. KELMTOOL_SERIAL and KELMTOOL_SIM stand in for
    // --serial and --sim where the command line chooses no board.
    Outcome Settle(ToolOptions& options) const;

  private:
    CLI::Option* sim_ = nullptr;
    CLI::Option* serial_ = nullptr;
    std::string waitText_;
    std::string timeoutText_;
    CLI::Option* wait_ = nullptr;
    CLI::Option* timeout_ = nullptr;
};
