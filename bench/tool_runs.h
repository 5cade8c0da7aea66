// kelmtool's commands as the benchmarks run them: the command code's own steps on kelmtool's core
// (OpenImage, ReadCatalogue, the placement, FlashImage, EraseSlots, WriteHeadersLast, VerifyBytes,
// ReadBytes, OutputFile) over a BoardSession on BenchToolLink, without the command line, the --sim
// flash file (whose write-through would be timed as the host's) or a progress bar. Plain types
// only, so that the window's side of a comparison can call them.
#pragma once

#include <cstdint>
#include <string>

#include "sim/board.h"
#include "tool_traffic.h"

struct ToolRun {
    bool done = false;
    std::string fault;   // what failed, when not done
    ToolTraffic whole;   // every report of the command
    ToolTraffic write;   // its CMD_WRITEs and their data reports (write, restore)
    ToolTraffic erase;   // its CMD_ERASEs and the status polls that wait for them
    int start = -1;      // write: the slot it chose
    double hostMs = 0;   // wall time, the board answering at once
    double linkMs = 0;   // what the board's link model charged: 1 ms a report
    double eraseMs = 0;  // the part of linkMs charged to the erase's reports
    double ModelMs() const { return hostMs + linkMs; }
};

// How a run meets the link model: the board charges 1 ms a report without waiting (linkMs adds
// them up), or it is left paced as the caller set it (linkMs stays 0).
enum class Pace { Charged, AsSet };

// info: the catalogue under one bus request.
ToolRun ToolInfo(sim::Board& board);
// write FILE: the kind from the extension, at the first feasible start; its slots erased, then
// the image with its header last.
ToolRun ToolWrite(sim::Board& board, const std::string& image, Pace pace = Pace::Charged);
// The read-back of write --verify: what the write's chunks covered, from slot start.
ToolRun ToolVerify(sim::Board& board, const std::string& image, int start);
// backup SLOT -o FILE and dump -o FILE.
ToolRun ToolBackup(sim::Board& board, int slot, const std::string& output);
ToolRun ToolDump(sim::Board& board, const std::string& output);
// restore FILE: every bank erased, then the dump written, every slot's header last.
ToolRun ToolRestore(sim::Board& board, const std::string& dump);

// The bytes a write has to move, from the image itself: cut into pieces as the write sends them,
// counted without the write plan. The pieces are its chunks (32 KB, on the flash's grid), except
// that a slot's first 256 bytes, which the write holds back until the rest is on the flash (an
// image's first slot, every slot of a dump), are a piece of their own.
struct PlanFigures {
    bool done = false;
    uint64_t slots = 0;       // the slots the write erases: those the image or the dump covers
    uint64_t imageBytes = 0;  // as the write puts them: header part and file, or the dump
    uint64_t nonErased = 0;   // bytes other than 0xFF
    // nonErased, and the 0xFF bytes that lie between two other bytes of one piece in a run
    // shorter than the skipped length: the bytes no plan may leave out without a new CMD_WRITE
    // that costs more than it saves.
    uint64_t mustSend = 0;
    uint64_t spans = 0;  // CMD_WRITEs the write plan (PlanSpans) makes of the pieces
};
PlanFigures PlanOfImage(const std::string& image, int start);
PlanFigures PlanOfDump(const std::string& dump);
