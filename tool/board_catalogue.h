// The board's catalogue as kelmtool reads it: the same classification as the window's scan, with
// the bus taken once for all the headers.
#pragma once

#include <optional>
#include <string>

#include "board_connection.h"
#include "board_session.h"
#include "core/operations.h"
#include "core/slot_map.h"
#include "core/stopped_write.h"
#include "outcome.h"

using BoardCatalogue = core::Catalogue;

Outcome ReadCatalogue(BoardSession& session, BoardCatalogue& catalogue);

// A slot number from the command line: BadInput outside 0-31.
Outcome CheckSlotNumber(int slot);

// Slots [first, first + count) of the run that slot belongs to; BadInput for a free slot or a
// slot number outside 0-31.
Outcome RunOfSlot(const BoardCatalogue& catalogue, int slot, int& first, int& count);

// The board opened and its catalogue read, as most commands begin.
class CataloguedBoard {
  public:
    Outcome Open(const ToolOptions& options);
    // Open, then the run that slot belongs to (RunOfSlot).
    Outcome OpenAtRun(const ToolOptions& options, int slot);
    BoardSession& session() { return *session_; }
    int first() const { return first_; }
    int count() const { return count_; }
    const BoardCatalogue& catalogue() const { return catalogue_; }

  private:
    BoardConnection connection_;
    std::optional<BoardSession> session_;
    BoardCatalogue catalogue_;
    int first_ = 0;
    int count_ = 0;
};
