// Whole operations as the user starts them from the flash menu, each against the simulated
// board answering at once: a catalogue scan, writing a DOL file that fills all 32 slots,
// backing up and erasing a 32-slot application.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench_results.h"
#include "bench_world.h"
#include "catalogue/catalogue_scan.h"
#include "core/flash_layout.h"
#include "operation_runs.h"
#include "ui/flash_menu.h"

namespace {

// Flash bytes an operation moves over the link, both ways. A scan reads the header of each
// image's first slot: 32 of them on a board of 1-slot images or an erased one, one after the
// whole flash was written. An erase moves nothing but its rescan.
constexpr uint64_t kScanBytes = kSlotCount * kHeaderSize;
constexpr uint64_t kImageWriteBytes = kFlashSize + kHeaderSize;
constexpr uint64_t kBackupBytes = kFlashSize;
constexpr uint64_t kEraseBytes = kScanBytes;

// Counts what happens on the link and in the window while the operation runs.
struct Tally {
    uint64_t reports = 0;
    uint64_t repaints = 0;
    uint64_t operations = 0;
};

template <class Operation>
void Timed(const World& world, Tally& tally, Operation operation) {
    const uint64_t reports = ReportCount(world);
    const int repaints = RepaintCount(world);
    operation();
    tally.reports += ReportCount(world) - reports;
    tally.repaints += static_cast<uint64_t>(RepaintCount(world) - repaints);
    ++tally.operations;
}

void Finish(benchmark::State& state, World& world, const Tally& tally, uint64_t bytes, bool done) {
    PublishCounters(state, tally.reports, tally.operations * bytes, tally.repaints,
                    tally.operations);
    const std::string faults = CloseWorld(world);
    if (!faults.empty()) {
        state.SkipWithError(faults.c_str());
    } else if (!done) {
        state.SkipWithError("the operation did not do its work");
    }
}

void RunScans(benchmark::State& state, bool images) {
    sim::Board board;
    if (images) {
        // One image per slot: the BIOS in slot 0, applications after it.
        board.SetFlash(0, SlotHeaderBytes(kMagicBios, "bench BIOS", kSlotSize));
        for (int slot = 1; slot < kSlotCount; ++slot) {
            board.SetFlash(static_cast<size_t>(slot) * kSlotSize,
                           SlotHeaderBytes(kMagicElf, "bench application", kSlotSize));
        }
    }
    World world;
    if (!OpenWorld(world, board)) {
        state.SkipWithError("the world did not open");
        return;
    }
    Tally tally;
    for (auto _ : state) {
        Timed(world, tally, [&] { ScanCatalogue(world.window); });
    }
    const bool done = images ? SlotMap[kSlotCount - 1].state == SlotState::Used : AllSlotsFree();
    Finish(state, world, tally, kScanBytes, done);
}

void ScanCatalogue_32Images(benchmark::State& state) { RunScans(state, true); }
void ScanCatalogue_Erased(benchmark::State& state) { RunScans(state, false); }

void WriteImage_2MB(benchmark::State& state) {
    sim::Board board;
    World world;
    if (!OpenWorld(world, board)) {
        state.SkipWithError("the world did not open");
        return;
    }
    const std::string image = WritePatternFile(world, "full.dol", kFullFlashDolBytes);
    ChooseFileAlways(image, kDolFilter);
    Tally tally;
    bool done = true;
    for (auto _ : state) {
        Timed(world, tally, [&] { WriteImage(world, 0); });
        state.PauseTiming();
        if (tally.operations == 1) {
            done = FlashHoldsImage(world, 0, image) && SlotMap[kSlotCount - 1].owner == 0;
        }
        EraseEverything(world);
        state.ResumeTiming();
    }
    Finish(state, world, tally, kImageWriteBytes, done && !image.empty());
}

void BackUp_32Slots(benchmark::State& state) {
    sim::Board board;
    World world;
    if (!OpenWorld(world, board)) {
        state.SkipWithError("the world did not open");
        return;
    }
    PrepareApplication(world, kSlotCount);
    const std::string backup = world.folder + "/backup.gcb";
    ChooseFileAlways(backup, kGcbFilter);
    Tally tally;
    for (auto _ : state) {
        Timed(world, tally, [&] { BackUp(world, 0); });
    }
    Finish(state, world, tally, kBackupBytes, FileHoldsSlots(world, backup, kSlotCount));
}

void Erase_32Slots(benchmark::State& state) {
    sim::Board board;
    World world;
    if (!OpenWorld(world, board)) {
        state.SkipWithError("the world did not open");
        return;
    }
    // The erase looks at the slot map only; the scan after it at the headers only: a header
    // claiming all 32 slots makes the same work as a whole application.
    const std::vector<uint8_t> header = SlotHeaderBytes(kMagicElf, "bench application", kFlashSize);
    Tally tally;
    bool done = true;
    const auto erased = [&] { return AllSlotsFree() && board.FlashByte(0) == kErasedByte; };
    for (auto _ : state) {
        state.PauseTiming();
        if (tally.operations != 0) done = done && erased();
        board.SetFlash(0, header);
        ScanCatalogue(world.window);
        SetFlashMenuMode(world.window, MenuMode::Idle);
        state.ResumeTiming();
        Timed(world, tally, [&] { Erase(world, 0); });
    }
    Finish(state, world, tally, kEraseBytes, done && erased());
}

}  // namespace

BENCHMARK(ScanCatalogue_32Images)->Apply(Repeated)->Unit(benchmark::kMicrosecond);
BENCHMARK(ScanCatalogue_Erased)->Apply(Repeated)->Unit(benchmark::kMicrosecond);
BENCHMARK(WriteImage_2MB)->Apply(Repeated)->Unit(benchmark::kMillisecond);
BENCHMARK(BackUp_32Slots)->Apply(Repeated)->Unit(benchmark::kMillisecond);
BENCHMARK(Erase_32Slots)->Apply(Repeated)->Unit(benchmark::kMicrosecond);
