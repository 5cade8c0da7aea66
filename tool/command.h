// kelmtool's command table: each command, in a file of its own, declares its arguments and
// options on its CLI11 subcommand, settles what CLI11 cannot check (slot numbers, durations,
// kinds), and runs, filling the reply that main prints as text or JSON.
#pragma once

#include <CLI/CLI.hpp>

#include <memory>
#include <string>
#include <vector>

#include "outcome.h"
#include "tool_context.h"

// A command line and what it does, as a command's --help shows it.
struct Example {
    const char* line;
    const char* what;
};

class Command {
  public:
    virtual ~Command() = default;
    virtual const char* name() const = 0;
    virtual const char* summary() const = 0;
    // Two or three, for --help.
    virtual std::vector<Example> examples() const = 0;
    virtual void Declare(CLI::App& command) = 0;
    // After parsing, before anything reaches the board: BadInput for what CLI11 let through.
    virtual Outcome Settle() { return {}; }
    // Run may be called from a thread for each board at once (--all): it changes nothing of the
    // command's own.
    virtual Outcome Run(ToolContext& context) = 0;
    // Whether the command works on a board, which --all and --each-new run it on one by one;
    // list looks at all of them itself.
    virtual bool worksOnABoard() const { return true; }
};

using CommandTable = std::vector<std::unique_ptr<Command>>;

// Every command, in the order --help lists them.
CommandTable MakeCommands();

// The factories, one in each command's file.
std::unique_ptr<Command> MakeListCommand();
std::unique_ptr<Command> MakeInfoCommand();
std::unique_ptr<Command> MakeWriteCommand();
std::unique_ptr<Command> MakeBackupCommand();
std::unique_ptr<Command> MakeEraseCommand();
std::unique_ptr<Command> MakeVerifyCommand();
std::unique_ptr<Command> MakeDumpCommand();
std::unique_ptr<Command> MakeRestoreCommand();
std::unique_ptr<Command> MakeMonitorCommand();

// "Examples:" and a line for each, as a command's --help shows them before the exit codes.
std::string ExampleList(const std::vector<Example>& examples);

// The help of a SLOT argument, and the choices of --kind, shared by the commands that take them.
constexpr char kSlotHelp[] = "any slot of the application, 0 to 31";
// The help of the options that write and restore share.
constexpr char kNoVerifyHelp[] = "do not read the flash back to compare";
constexpr char kDryRunWriteHelp[] =
    "read the catalogue and say what would be written; write nothing";
const std::vector<std::string>& KindChoices();
