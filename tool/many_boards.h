// --all and --each-new: a command run on several boards side by side, a thread for each, every
// board on a copy of the options that names it alone.
#pragma once

#include <string>

#include "command.h"
#include "tool_context.h"

// --all: the command on every board the options name at once (waiting with --wait for the first
// to appear); --each-new: on each board as it is plugged in, until Ctrl-C, a board done not done
// again while it stays plugged in. Prints a result line for each board on standard output, its
// serial first; with --json, --all prints one document whose "boards" holds each board's result
// and --each-new a document on one line for each board as it is done. Errors go to standard
// error, each board's bar to a line of its own. Returns the highest of the boards' exit codes.
int RunOnManyBoards(Command& command, const ToolOptions& options, bool showProgress);
