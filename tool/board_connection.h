// Opening the board a command works on: the simulated one of --sim, or the board at --path, or
// the first one attached, waiting for it with --wait; with --trace around whichever it is.
#pragma once

#include <memory>
#include <vector>

#include "board_link.h"
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
    std::unique_ptr<BoardLink> link_;
    std::unique_ptr<TraceLink> trace_;
};

// The boards `list` shows: the simulated one, or those attached.
std::vector<BoardListing> ListBoards(const ToolOptions& options);
