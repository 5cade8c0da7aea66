// The board's catalogue as kelmtool reads it, under one bus request.
#include "board_catalogue.h"

#include <string>

Outcome ReadCatalogue(BoardSession& session, BoardCatalogue& catalogue) {
    core::ReadCatalogue read(catalogue);
    return session.Run(read);
}

Outcome CheckSlotNumber(int slot) {
    if (slot >= 0 && slot < kSlotCount) return {};
    return Outcome::Fail(ExitCode::BadInput,
                         "slot " + std::to_string(slot) + " does not exist (0 to 31)");
}

Outcome CataloguedBoard::Open(const ToolOptions& options) {
    KELM_TRY(connection_.Open(options));
    session_.emplace(connection_.Session(options));
    return ReadCatalogue(*session_, catalogue_);
}

Outcome CataloguedBoard::OpenAtRun(const ToolOptions& options, int slot) {
    KELM_TRY(Open(options));
    return RunOfSlot(catalogue_, slot, first_, count_);
}

Outcome RunOfSlot(const BoardCatalogue& catalogue, int slot, int& first, int& count) {
    KELM_TRY(CheckSlotNumber(slot));
    if (catalogue.map[slot].state == SlotState::Free) {
        return Outcome::Fail(ExitCode::BadInput, "slot " + std::to_string(slot) + " is free");
    }
    first = catalogue.map[slot].owner;
    count = RunOf(catalogue.map, first);
    return {};
}
