#include "memory_peaks.h"

#include "bench_world.h"
#include "heap_counter.h"
#include "operation_runs.h"

namespace {

template <class Operation>
size_t Peak(Operation operation) {
    ResetHeapPeak();
    const size_t start = HeapLiveBytes();
    operation();
    return HeapPeakBytes() - start;
}

}  // namespace

MemoryPeak PeakOfImageWrite(size_t fileBytes) {
    MemoryPeak peak;
    sim::Board board;
    World world;
    if (OpenWorld(world, board)) {
        const std::string image = WritePatternFile(world, "image.dol", fileBytes);
        ChooseFileAlways(image, kDolFilter);
        WriteImage(world, 0);
        EraseEverything(world);
        peak.bytes = Peak([&] { WriteImage(world, 0); });
        peak.done = !image.empty() && FlashHoldsImage(world, 0, image);
    }
    peak.fault = CloseWorld(world);
    peak.done = peak.done && peak.fault.empty();
    return peak;
}

MemoryPeak PeakOfBackup(int slots) {
    MemoryPeak peak;
    sim::Board board;
    World world;
    if (OpenWorld(world, board)) {
        PrepareApplication(world, slots);
        const std::string backup = world.folder + "/backup.gcb";
        ChooseFileAlways(backup, kGcbFilter);
        BackUp(world, 0);
        peak.bytes = Peak([&] { BackUp(world, 0); });
        peak.done = FileHoldsSlots(world, backup, slots);
    }
    peak.fault = CloseWorld(world);
    peak.done = peak.done && peak.fault.empty();
    return peak;
}
