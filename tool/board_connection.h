// Opening the board a command works on: the one board that --sim, --path and --serial name, or
// the one attached, waiting for it with --wait; with --trace around whichever it is. Several
// boards and none chosen are refused, listed. The board is the run's alone while the connection
// lasts.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "board_link.h"
#include "board_lock.h"
#include "board_session.h"
#include "outcome.h"
#include "tool_context.h"
#include "trace_link.h"

class BoardConnection {
  public:
    Outcome Open(const ToolOptions& options);
    BoardLink& link() { return trace_ ? static_cast<BoardLink&>(*trace_) : *link_; }
    BoardSession Session(const ToolOptions& options);

  private:
    // One try: worthWaiting tells a board not there yet or in use, which --wait tries again.
    Outcome OpenChosen(const ToolOptions& options, bool& worthWaiting);
    Outcome OpenSim(const std::string& path, bool& worthWaiting);
    // The link opened under the lock taken at path; OpenSimBoard or OpenHardwareBoard.
    using LinkOpener = Outcome (*)(const std::string& path, std::unique_ptr<BoardLink>& link);
    Outcome OpenLocked(LockTake taken, LinkOpener open, const std::string& path,
                       bool& worthWaiting);

    // Declared first, so that it is let go of only after the link is gone.
    BoardLock lock_;
    std::unique_ptr<BoardLink> link_;
    std::unique_ptr<TraceLink> trace_;
};

// The boards `list` shows: the simulated ones, or those attached. It takes no board's lock, not
// even for a moment, so that it never turns away a run that starts beside it.
Outcome ListBoards(const ToolOptions& options, std::vector<BoardListing>& boards);

// Which simulated boards are there: every one of --sim (a missing flash file is created when
// the board is opened), or only those whose flash file exists, which is what plugged in means
// to --each-new.
enum class SimPresence { Every, FileExists };

// The boards the options name: the simulated ones or those attached, narrowed to --path and
// --serial. Not probed, and no lock taken.
Outcome NamedBoards(const ToolOptions& options, SimPresence presence,
                    std::vector<BoardListing>& boards);

// NoBoard, saying what was looked for: the board at --path, one with --serial, or any.
Outcome NoBoardNamed(const ToolOptions& options);
