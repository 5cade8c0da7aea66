// The link model for kelmtool: the board paced in real time at 1 ms a report, as link_bench.cpp
// paces it for the window, while kelmtool writes a DOL file of 65,281 bytes (two slots erased,
// then four spans: three of the body, the held-back header). The goal that the whole write lasts
// its reports x 1 ms to within 1% is what lets the comparison with the window charge kelmtool's
// reports without waiting for them.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_results.h"
#include "bench_world.h"
#include "core/flash_layout.h"
#include "link_pacer.h"
#include "operation_runs.h"
#include "tool_runs.h"

namespace {

constexpr double kFrameMs = 1.0;
constexpr size_t kFileBytes = kOneSlotDolBytes + 1;

void Link1ms_KelmtoolWrite_65281B(benchmark::State& state) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("kelm_bench_link_" + std::to_string(getpid()) + ".dol"))
                                 .string();
    const std::vector<uint8_t> bytes = PatternBytes(kFileBytes, 17);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.close();
    sim::Board board;
    board.SetHistoryKept(false);
    double sleptMs = 0;
    uint64_t reports = 0;
    uint64_t operations = 0;
    bool done = static_cast<bool>(file);
    for (auto _ : state) {
        state.PauseTiming();
        board.FillFlash(kErasedByte);
        state.ResumeTiming();
        board.SetReportTime(kFrameMs, RealTimePacer(sleptMs));
        const ToolRun run = ToolWrite(board, path, Pace::AsSet);
        board.SetReportTime(0, nullptr);
        done = done && run.done;
        reports += run.whole.Reports();
        ++operations;
    }
    PublishCounters(state, reports, operations * kFileBytes, 0, operations);
    state.counters[kLinkCounter] = operations != 0 ? sleptMs / static_cast<double>(operations) : 0;
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    if (!done) state.SkipWithError("kelmtool's write failed");
}

}  // namespace

BENCHMARK(Link1ms_KelmtoolWrite_65281B)
    ->Apply(Repeated)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
