// Peak heap use of one write and one backup, above what was held before it, for a 1-slot and a
// 32-slot image. The operation runs once to warm up and is measured the second time, so that
// one-off allocations of the run (a first file dialog record, stream locales) are not taken for
// the operation's own.
#pragma once

#include <cstddef>
#include <string>

struct MemoryPeak {
    size_t bytes = 0;   // the peak above the start
    bool done = false;  // the operation did its work and the world closed clean
    std::string fault;
};

// Write pressed, a DOL file of fileBytes chosen and placed at slot 0.
MemoryPeak PeakOfImageWrite(size_t fileBytes);
// An application of `slots` slots backed up into a file.
MemoryPeak PeakOfBackup(int slots);
