// kelmtool's commands as the benchmarks run them: the command code's own steps on kelmtool's core
// (OpenImage, ReadCatalogue, the placement, WriteBytes, VerifyBytes, ReadBytes, OutputFile) over a
// BoardSession on BenchToolLink, without the command line, the --sim flash file (whose
// write-through would be timed as the host's) or a progress bar. Plain types only, so that the
// window's side of a comparison can call them.
#pragma once

#include <cstdint>
#include <string>

#include "sim/board.h"
#include "tool_traffic.h"

struct ToolRun {
    bool done = false;
    std::string fault;  // what failed, when not done
    ToolTraffic whole;  // every report of the command
    ToolTraffic write;  // the reports of its WriteBytes alone (write, restore)
    int start = -1;     // write: the slot it chose
    double hostMs = 0;  // wall time, the board answering at once
    double linkMs = 0;  // what the board's link model charged: 1 ms a report
    double ModelMs() const { return hostMs + linkMs; }
};

// How a run meets the link model: the board charges 1 ms a report without waiting (linkMs adds
// them up), or it is left paced as the caller set it (linkMs stays 0).
enum class Pace { Charged, AsSet };

// info: the catalogue under one bus request.
ToolRun ToolInfo(sim::Board& board);
// write FILE: the kind from the extension, at the first feasible start.
ToolRun ToolWrite(sim::Board& board, const std::string& image, Pace pace = Pace::Charged);
// The read-back of write --verify: what the write's chunks covered, from slot start.
ToolRun ToolVerify(sim::Board& board, const std::string& image, int start);
// backup SLOT -o FILE and dump -o FILE.
ToolRun ToolBackup(sim::Board& board, int slot, const std::string& output);
ToolRun ToolDump(sim::Board& board, const std::string& output);
// restore FILE: every bank erased, then the dump written.
ToolRun ToolRestore(sim::Board& board, const std::string& dump);

// The bytes a write has to move, from the image itself: cut into chunks as WriteBytes cuts it
// (32 KB, on the flash's grid), counted without the write plan.
struct PlanFigures {
    bool done = false;
    uint64_t imageBytes = 0;  // as the write puts them: header part and file, or the dump
    uint64_t nonErased = 0;   // bytes other than 0xFF
    // nonErased, and the 0xFF bytes that lie between two other bytes of one chunk in a run
    // shorter than the skipped length: the bytes no plan may leave out without a new CMD_WRITE
    // that costs more than it saves.
    uint64_t mustSend = 0;
    uint64_t spans = 0;  // CMD_WRITEs the write plan (PlanSpans) makes of the chunks
};
PlanFigures PlanOfImage(const std::string& image, int start);
PlanFigures PlanOfDump(const std::string& dump);
