// Ctrl-C, SIGTERM and SIGHUP: the handler only records the signal; the work looks at it between
// two transfers with the board (never inside one), gives the bus back, and ends with a message
// saying what the flash now holds. A closed standard output (SIGPIPE) kills nothing: the write
// fails and the command says so.
#pragma once

#include "outcome.h"

// Installs the handlers; call once, before the first report. False when the system refused one.
bool InstallInterruptHandlers();

// The signal that asked kelmtool to stop, or 0.
int PendingInterrupt();

// The exit code for that signal: 128 + its number (130 for SIGINT, 143 for SIGTERM).
ExitCode InterruptCode(int signal);
