// The link model: the simulated board charges every report 1 ms of real time, one full-speed
// USB frame, before it takes it. The whole operation then lasts reports x 1 ms plus the host's
// own work, and the difference is measured here, not assumed. A few hundred reports per
// operation keep the run short.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_results.h"
#include "bench_world.h"
#include "catalogue/catalogue_scan.h"
#include "core/flash_layout.h"
#include "device/flash_transfer.h"
#include "link_pacer.h"

namespace {

constexpr double kFrameMs = 1.0;
constexpr uint8_t kBank = 5;

enum class Paced { Write, Read, Scan };

void RunPaced(benchmark::State& state, Paced what) {
    sim::Board board;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        board.SetFlash(static_cast<size_t>(slot) * kSlotSize,
                       SlotHeaderBytes(kMagicElf, "bench application", kSlotSize));
    }
    World world;
    if (!OpenWorld(world, board)) {
        state.SkipWithError("the world did not open");
        return;
    }
    std::vector<uint8_t> buffer = PatternBytes(kChunkSize, 11);
    double sleptMs = 0;
    board.SetReportTime(kFrameMs, RealTimePacer(sleptMs));

    const uint64_t reports = ReportCount(world);
    const int repaints = RepaintCount(world);
    uint64_t operations = 0;
    bool done = true;
    for (auto _ : state) {
        switch (what) {
            case Paced::Write:
                done &= WriteFlash(kBank, 0, buffer.data(), kChunkSize) == 1;
                break;
            case Paced::Read:
                done &= ReadFlash(kBank, 0, buffer.data(), kChunkSize) == 1;
                break;
            case Paced::Scan:
                ScanCatalogue(world.window);
                done &= SlotMap[kSlotCount - 1].state == SlotState::Used;
                break;
        }
        ++operations;
    }
    board.SetReportTime(0, nullptr);
    const uint64_t bytes = what == Paced::Scan ? kSlotCount * kHeaderSize : kChunkSize;
    PublishCounters(state, ReportCount(world) - reports, operations * bytes,
                    static_cast<uint64_t>(RepaintCount(world) - repaints), operations);
    state.counters[kLinkCounter] = operations != 0 ? sleptMs / static_cast<double>(operations) : 0;
    const std::string faults = CloseWorld(world);
    if (!done || !faults.empty()) {
        state.SkipWithError(("the operation did not do its work; " + faults).c_str());
    }
}

void Link1ms_WriteFlash_32KB(benchmark::State& state) { RunPaced(state, Paced::Write); }
void Link1ms_ReadFlash_32KB(benchmark::State& state) { RunPaced(state, Paced::Read); }
void Link1ms_ScanCatalogue_32Images(benchmark::State& state) { RunPaced(state, Paced::Scan); }

// One operation per repetition: each lasts half a second or so.
void OncePerRepetition(benchmark::internal::Benchmark* benchmark) {
    Repeated(benchmark);
    benchmark->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(Link1ms_WriteFlash_32KB)->Apply(OncePerRepetition);
BENCHMARK(Link1ms_ReadFlash_32KB)->Apply(OncePerRepetition);
BENCHMARK(Link1ms_ScanCatalogue_32Images)->Apply(OncePerRepetition);
