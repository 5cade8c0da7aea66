// --sim FILE: the simulated board, its 2 MB flash kept in FILE (the demo's format) and written
// through on every change. A missing file is created erased; a file of another size is refused.
//
// For tests of how kelmtool meets a failing board, faults can be set from the environment:
//   KELMTOOL_SIM_FAULTS      "unplug@N,refuse@N,failwrite@N": a fault at the N-th Out or Feature
//                            exchange, counted from 0
//   KELMTOOL_SIM_ERASE_BUSY  status answers after an erase stay busy for this many polls
//   KELMTOOL_SIM_BUS_HELD    "1": the bus is held by the other side
//   KELMTOOL_SIM_SIGNAL      "SIG@N": kelmtool sends itself signal SIG (a number) during its N-th
//                            Out or Feature exchange, counted from 0, as a user's Ctrl-C would
//                            arrive while a report is under way
//   KELMTOOL_SIM_REPORT_MS   every Out or Feature exchange takes this many milliseconds, as
//                            over a real link (for the benchmark of several boards at once)
//   KELM_SEED                seeded faults of the board's fault layer
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "board_link.h"
#include "outcome.h"

constexpr char kSimFaultsVariable[] = "KELMTOOL_SIM_FAULTS";
constexpr char kSimEraseBusyVariable[] = "KELMTOOL_SIM_ERASE_BUSY";
constexpr char kSimBusHeldVariable[] = "KELMTOOL_SIM_BUS_HELD";
constexpr char kSimSignalVariable[] = "KELMTOOL_SIM_SIGNAL";
constexpr char kSimReportTimeVariable[] = "KELMTOOL_SIM_REPORT_MS";
constexpr char kSeedVariable[] = "KELM_SEED";
constexpr char kSimPathPrefix[] = "sim:";
constexpr char kSimSerialPrefix[] = "sim-";

// Opens the simulated board on path: BadInput for a file of the wrong size, Failed when it
// cannot be read or created.
Outcome OpenSimBoard(const std::string& path, std::unique_ptr<BoardLink>& link);

// The simulated board's serial number: "sim-" and the file's name without folders and
// extension, so that --sim a.bin --sim b.bin gives sim-a and sim-b.
std::string SimSerial(const std::string& file);

// The simulated board on file as `list` and the choice of a board see it, without opening it.
BoardListing SimListing(const std::string& file);

// The files of a list such as KELMTOOL_SIM's, separated as PATH separates folders (':', ';' on
// Windows); empty parts are left out.
std::vector<std::string> SimFileList(const std::string& text);

// BadInput when two of the files would give one serial number, so that --serial could not
// tell them apart.
Outcome CheckSimSerials(const std::vector<std::string>& files);
