// The window's flash operations and kelmtool's on the same images and the same flash: reports,
// times under the 1 ms link model, the flash each leaves, kelmtool's peak heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tool_runs.h"

struct Comparison {
    std::string name;
    bool dump = false;  // a 2 MB dump restored, not an image written
    std::string fault;  // "" when every run did its work
    // The window: its write through the flash menu (dump: its own transfers, see the source).
    uint64_t windowReports = 0;
    double windowModelMs = 0;
    // kelmtool: write (dump: restore), and what the image asks to be moved.
    ToolRun tool;
    PlanFigures plan;
    // Bytes in which the two flashes differ after the two writes (dump: or differ from the dump).
    uint64_t differingBytes = 0;
    // The catalogue of that flash: the window's scan against kelmtool's info.
    uint64_t windowScanReports = 0;
    uint64_t infoReports = 0;
    // kelmtool's peak heap above what was held before, in bytes; 0 where not measured.
    size_t heapWrite = 0;   // write (dump: restore)
    size_t heapVerify = 0;  // the read-back of --verify
    size_t heapBackup = 0;  // backup of the image's run (dump: dump of the whole flash)
};

// Runs the whole set: an ELF file of 100 bytes, DOL files of 65,280, 65,281 and 2,096,896 bytes,
// a 1.2 MB DOL file ending in 0xFF, and the demo board's sample flash as a 2 MB dump.
std::vector<Comparison> CompareWithKelmtool();
