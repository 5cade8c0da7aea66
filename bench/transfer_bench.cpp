// One streamed transfer of 32,768 bytes, as every chunk of a write and every half slot of a
// backup is: the program's WriteFlash and ReadFlash through the stand-in's HID stack to the
// simulated board, which answers at once.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_results.h"
#include "bench_world.h"
#include "core/flash_layout.h"
#include "device/flash_transfer.h"

namespace {

constexpr uint8_t kBank = 3;
constexpr uint16_t kOffset = 0x8000;

using Transfer = int (*)(World& world, std::vector<uint8_t>& buffer);

int WriteChunk(World&, std::vector<uint8_t>& buffer) {
    return WriteFlash(kBank, kOffset, buffer.data(), static_cast<uint16_t>(buffer.size()));
}

int ReadChunk(World&, std::vector<uint8_t>& buffer) {
    return ReadFlash(kBank, kOffset, buffer.data(), static_cast<uint16_t>(buffer.size()));
}

void RunTransfers(benchmark::State& state, Transfer transfer) {
    sim::Board board;
    World world;
    if (!OpenWorld(world, board)) {
        state.SkipWithError("the world did not open");
        return;
    }
    std::vector<uint8_t> buffer = PatternBytes(kChunkSize, 7);
    const uint64_t reportsBefore = ReportCount(world);
    const int repaintsBefore = RepaintCount(world);
    uint64_t operations = 0;
    bool failed = false;
    for (auto _ : state) {
        failed |= transfer(world, buffer) != 1;
        ++operations;
    }
    PublishCounters(state, ReportCount(world) - reportsBefore, operations * kChunkSize,
                    static_cast<uint64_t>(RepaintCount(world) - repaintsBefore), operations);
    const std::string faults = CloseWorld(world);
    if (failed || !faults.empty()) state.SkipWithError(("a transfer failed; " + faults).c_str());
}

void WriteFlash_32KB(benchmark::State& state) { RunTransfers(state, &WriteChunk); }
void ReadFlash_32KB(benchmark::State& state) { RunTransfers(state, &ReadChunk); }

}  // namespace

BENCHMARK(WriteFlash_32KB)->Apply(Repeated)->Unit(benchmark::kMicrosecond);
BENCHMARK(ReadFlash_32KB)->Apply(Repeated)->Unit(benchmark::kMicrosecond);
