// Shell completion scripts for bash, zsh and fish, made from the command line kelmtool parses:
// every command, every option and, for options of a fixed set of values, the values, so that
// the scripts never list anything a second time.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

const std::vector<std::string>& CompletionShells();

// The script for shell (one of CompletionShells()) completing the commands and options of app.
std::string CompletionScript(const CLI::App& app, const std::string& shell);
