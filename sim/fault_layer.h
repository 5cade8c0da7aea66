// Seeded faults of the simulated board: what a flaky board does to the host, drawn from a seed so
// that every run can be repeated exactly. Internal to the board; Board::SetSeededFaults sets it.
//
// The layer acts on what the board answers and programs, never on what the host sends:
// - feature answers (read data and status) with 1 to 3 bits flipped in bytes 1-64;
// - status answers whose busy and busState bytes take unexpected values for a few answers in a
//   row (busState wobbling between granted, released, busy and odd values while it is polled);
// - bus hand-overs that take a few more polls than usual;
// - data reports accepted but not programmed.
//
// Status polls of the host have no limit, so the layer must never keep one going for ever: at
// most kMaxPerturbedStatus status answers in a row are changed (by a flip or an odd value), and
// the next one is then left as the board gave it. A hand-over gets at most kMaxExtraHandover more
// polls. The board's own answers end every poll, so every poll ends.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/board.h"

namespace sim::detail {

constexpr int kMaxPerturbedStatus = 6;
constexpr int kMaxExtraHandover = 3;
constexpr int kPerMille = 1000;

struct FaultLayer {
    SeededFaults settings;    // seed 0: the layer is off
    uint64_t random = 0;      // the generator's state
    int perturbedStatus = 0;  // status answers changed in a row
    int wobbleLeft = 0;       // further status answers of the running wobble
};

void StartFaultLayer(FaultLayer& layer, const SeededFaults& settings);
bool FaultLayerOn(const FaultLayer& layer);

// Perturbs a 65-byte answer before the host gets it. Returns a description of what it did for the
// transcript ("" when nothing).
std::string PerturbAnswer(FaultLayer& layer, std::array<uint8_t, kReportSize>& answer,
                          bool isStatus);
// Whether the data of the next data report is dropped (accepted, not programmed).
bool DropData(FaultLayer& layer);
// Extra polls for a bus hand-over that has just begun.
int ExtraHandoverPolls(FaultLayer& layer);

}  // namespace sim::detail
