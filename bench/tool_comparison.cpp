#include "tool_comparison.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "bench_world.h"
#include "catalogue/catalogue_scan.h"
#include "core/flash_layout.h"
#include "demo/sample_flash.h"
#include "device/command_protocol.h"
#include "device/flash_transfer.h"
#include "heap_counter.h"
#include "operation_runs.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kReportMs = 1.0;

constexpr uint8_t kElfFileMagic[] = {0x7f, 'E', 'L', 'F'};

struct ImageCase {
    const char* name;
    bool elf;             // an ELF file (its magic first), else a DOL
    size_t patternBytes;  // the file: pattern bytes, then
    size_t erasedTail;    // this many 0xFF
};
// The smallest image is an ELF file of 100 bytes, as a DOL file is at least its own 256-byte
// header: 356 bytes on the flash, behind the same 256-byte header part that a DOL gets.
// 1.2 MB: a program padded with 0xFF for its last quarter, as a linker's fill leaves it.
constexpr ImageCase kImages[] = {
    {"ELF 100 B", true, 100, 0},
    {"DOL 65,280 B (1 slot)", false, kOneSlotDolBytes, 0},
    {"DOL 65,281 B", false, kOneSlotDolBytes + 1, 0},
    {"DOL 1.2 MB, 0xFF tail", false, 900000, 300000},
    {"DOL 2,096,896 B (32 slots)", false, kFullFlashDolBytes, 0},
};

struct WindowRun {
    uint64_t reports = 0;
    double modelMs = 0;
};

// The window's operation under the link model: wall time with the board answering at once,
// plus 1 ms charged by the board for every report.
WindowRun WindowTimed(sim::Board& board, const std::function<void()>& operation) {
    double charged = 0;
    board.SetReportTime(kReportMs, [&charged](double ms) { charged += ms; });
    const uint64_t before = board.ExchangeCount();
    const Clock::time_point started = Clock::now();
    operation();
    const double hostMs = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
    board.SetReportTime(0, nullptr);
    return {board.ExchangeCount() - before, hostMs + charged};
}

// Peak heap of one run of operation, above what was held before it. The caller has run the
// operation once already, so one-off allocations are not taken for its own.
size_t HeapPeakOf(const std::function<bool()>& operation, bool& done) {
    ResetHeapPeak();
    const size_t start = HeapLiveBytes();
    done = operation() && done;
    return HeapPeakBytes() - start;
}

bool PutFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.close();
    return static_cast<bool>(file);
}

uint64_t Differing(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    uint64_t differing = a.size() > b.size() ? a.size() - b.size() : b.size() - a.size();
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) differing += a[i] != b[i];
    return differing;
}

void Note(Comparison& row, const std::string& what) {
    if (!row.fault.empty()) row.fault += "; ";
    row.fault += what;
}

Comparison CompareImage(World& world, sim::Board& toolBoard, const ImageCase& image) {
    Comparison row;
    row.name = image.name;
    std::vector<uint8_t> bytes = PatternBytes(image.patternBytes, 17);
    if (image.elf) std::copy(std::begin(kElfFileMagic), std::end(kElfFileMagic), bytes.begin());
    bytes.resize(image.patternBytes + image.erasedTail, kErasedByte);
    const std::string path = world.folder + (image.elf ? "/image.elf" : "/image.dol");
    if (!PutFile(path, bytes)) {
        Note(row, "the image file could not be written");
        return row;
    }

    EraseEverything(world);
    ChooseFileAlways(path, image.elf ? kElfFilter : kDolFilter);
    const WindowRun window = WindowTimed(*world.board, [&] { WriteImage(world, 0); });
    row.windowReports = window.reports;
    row.windowModelMs = window.modelMs;
    if (!FlashHoldsImage(world, 0, path)) Note(row, "the window did not write the image");
    row.windowScanReports = WindowTimed(*world.board, [&] { ScanCatalogue(world.window); }).reports;

    toolBoard.FillFlash(kErasedByte);
    row.tool = ToolWrite(toolBoard, path);
    if (!row.tool.done) Note(row, "kelmtool's write: " + row.tool.fault);
    row.differingBytes = Differing(toolBoard.Flash(), world.board->Flash());
    const ToolRun info = ToolInfo(toolBoard);
    row.infoReports = info.whole.Reports();
    if (!info.done) Note(row, "kelmtool's info: " + info.fault);
    row.plan = PlanOfImage(path, row.tool.start);
    if (!row.plan.done) Note(row, "the image could not be read for its plan");

    // Heap: each operation once more, measured.
    const std::string backup = world.folder + "/backup.gcb";
    bool done = true;
    toolBoard.FillFlash(kErasedByte);
    row.heapWrite = HeapPeakOf([&] { return ToolWrite(toolBoard, path).done; }, done);
    done = ToolVerify(toolBoard, path, 0).done && done;
    row.heapVerify = HeapPeakOf([&] { return ToolVerify(toolBoard, path, 0).done; }, done);
    done = ToolBackup(toolBoard, 0, backup).done && done;
    row.heapBackup = HeapPeakOf([&] { return ToolBackup(toolBoard, 0, backup).done; }, done);
    if (!done) Note(row, "kelmtool's write, verify or backup failed when measured");
    return row;
}

// The window has no restore. Its nearest way to put a whole dump on the board is its own
// protocol and transfer routines as a write uses them: the bus taken, every bank erased, the
// 64 chunks written in full, the bus released.
bool WindowRestore(const std::vector<uint8_t>& dump) {
    bool done = GetBus() == 1;
    for (int bank = 0; done && bank < kSlotCount; ++bank) done = EraseBank(bank) == 1;
    for (uint32_t at = 0; done && at < kFlashSize; at += kChunkSize) {
        done =
            WriteFlash(static_cast<uint8_t>(at / kSlotSize), static_cast<uint16_t>(at % kSlotSize),
                       dump.data() + at, static_cast<uint16_t>(kChunkSize)) == 1;
    }
    return ReleaseBus() == 1 && done;
}

Comparison CompareDump(World& world, sim::Board& toolBoard) {
    Comparison row;
    row.name = "2 MB dump restored (demo sample)";
    row.dump = true;
    const std::vector<uint8_t> dump = BuildSampleFlash();
    const std::string path = world.folder + "/sample.bin";
    if (!PutFile(path, dump)) {
        Note(row, "the dump file could not be written");
        return row;
    }
    // Both boards start from the same used flash: the whole-flash image of the row before.
    toolBoard.SetFlash(0, world.board->Flash());
    bool windowDone = false;
    const WindowRun window = WindowTimed(*world.board, [&] { windowDone = WindowRestore(dump); });
    row.windowReports = window.reports;
    row.windowModelMs = window.modelMs;
    if (!windowDone || world.board->Flash() != dump) Note(row, "the window's restore failed");
    row.windowScanReports = WindowTimed(*world.board, [&] { ScanCatalogue(world.window); }).reports;

    row.tool = ToolRestore(toolBoard, path);
    if (!row.tool.done) Note(row, "kelmtool's restore: " + row.tool.fault);
    row.differingBytes =
        Differing(toolBoard.Flash(), world.board->Flash()) + Differing(toolBoard.Flash(), dump);
    const ToolRun info = ToolInfo(toolBoard);
    row.infoReports = info.whole.Reports();
    if (!info.done) Note(row, "kelmtool's info: " + info.fault);
    row.plan = PlanOfDump(path);
    if (!row.plan.done) Note(row, "the dump could not be read for its plan");

    const std::string output = world.folder + "/dump.bin";
    bool done = ToolDump(toolBoard, output).done;
    row.heapBackup = HeapPeakOf([&] { return ToolDump(toolBoard, output).done; }, done);
    row.heapWrite = HeapPeakOf([&] { return ToolRestore(toolBoard, path).done; }, done);
    if (!done || toolBoard.Flash() != dump) Note(row, "kelmtool's dump or restore failed");
    return row;
}

}  // namespace

std::vector<Comparison> CompareWithKelmtool() {
    std::vector<Comparison> rows;
    sim::Board windowBoard;
    sim::Board toolBoard;
    toolBoard.SetHistoryKept(false);
    World world;
    if (!OpenWorld(world, windowBoard)) {
        Comparison failed;
        failed.name = "the world";
        failed.fault = "did not open";
        rows.push_back(failed);
        CloseWorld(world);
        return rows;
    }
    for (const ImageCase& image : kImages) rows.push_back(CompareImage(world, toolBoard, image));
    rows.push_back(CompareDump(world, toolBoard));
    const std::string faults = CloseWorld(world);
    if (!faults.empty()) {
        for (Comparison& row : rows) Note(row, "the window's world: " + faults);
    }
    for (const std::string& violation : toolBoard.Violations()) {
        for (Comparison& row : rows) Note(row, "kelmtool's board saw: " + violation);
    }
    return rows;
}
