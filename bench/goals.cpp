#include "goals.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "core/flash_layout.h"
#include "many_boards_goals.h"
#include "memory_peaks.h"
#include "operation_runs.h"

namespace {

// A full-speed USB link carries one report of the board per 1 ms frame.
constexpr double kFrameSeconds = 1e-3;
constexpr double kFrameMs = 1.0;
// The host may take 1% of that, so that it never is the bottleneck.
constexpr double kHostShare = 0.01;
constexpr double kPerReportLimitNs = kFrameSeconds * kHostShare * 1e9;
constexpr double kMemoryToleranceBytes = 64 * 1024;
constexpr uint64_t kKilobyte = 1024;
constexpr double kLinkTolerance = 0.01;

// The status line's countdown writes its text, and repaints, when the bytes left pass a
// kilobyte boundary. Every countdown starts at a whole number of kilobytes, so its first
// report passes one: a countdown of n bytes repaints once per started kilobyte.
constexpr double StartedKilobytes(uint64_t bytes) {
    return static_cast<double>((bytes + kKilobyte - 1) / kKilobyte);
}
// BackupApplication repaints the window once the save dialog has closed, before its reads.
constexpr double kBackupOwnRepaints = 1;

const char* const kCostBenchmarks[] = {
    "WriteFlash_32KB", "ReadFlash_32KB", "ScanCatalogue_32Images", "ScanCatalogue_Erased",
    "WriteImage_2MB",  "BackUp_32Slots", "Erase_32Slots",
};
const char* const kWholeOperations[] = {"WriteImage_2MB", "BackUp_32Slots"};
const char* const kLinkBenchmarks[] = {
    "Link1ms_WriteFlash_32KB",
    "Link1ms_ReadFlash_32KB",
    "Link1ms_ScanCatalogue_32Images",
    "Link1ms_KelmtoolWrite_65281B",
};

struct RepaintCase {
    const char* benchmark;
    double limit;  // started kilobytes of its countdowns, and repaints of its own
    const char* limitText;
};
const RepaintCase kRepaintCases[] = {
    {"WriteFlash_32KB", StartedKilobytes(kChunkSize), "32 for 32 KB"},
    {"ReadFlash_32KB", StartedKilobytes(kChunkSize), "32 for 32 KB"},
    {"WriteImage_2MB", StartedKilobytes(kFlashSize) + StartedKilobytes(kHeaderSize),
     "2048 for 2 MB, 1 for the rescan's one 256-byte header"},
    {"BackUp_32Slots", StartedKilobytes(kFlashSize) + kBackupOwnRepaints,
     "2048 for 2 MB, 1 for the window after the save dialog"},
};

double Counter(const BenchResult& result, const char* name) {
    const auto found = result.counters.find(name);
    return found != result.counters.end() ? found->second : 0;
}

// Adds a goal for a benchmark, or a miss when it did not run (unless a filter left it out).
template <class Measure>
void ForBenchmark(std::vector<Goal>& goals, const KeepingReporter& results, bool allRan,
                  const char* name, Measure measure) {
    const BenchResult* result = results.Find(name);
    if (result == nullptr) {
        if (allRan) goals.push_back({NAN, Format("%s: did not run or failed", name)});
        return;
    }
    goals.push_back(measure(*result));
}

void AddCostGoals(std::vector<Goal>& goals, const KeepingReporter& results, bool allRan) {
    for (const char* name : kCostBenchmarks) {
        ForBenchmark(goals, results, allRan, name, [name](const BenchResult& result) {
            const double ns = result.cpuSeconds * 1e9 / Counter(result, kReportsCounter);
            return Goal{ns / kPerReportLimitNs,
                        Format("%s: host cost %.0f ns per report (limit %.0f ns, 1%% of a "
                               "1 ms frame)",
                               name, ns, kPerReportLimitNs)};
        });
    }
    for (const char* name : kWholeOperations) {
        ForBenchmark(goals, results, allRan, name, [name](const BenchResult& result) {
            const double reports = Counter(result, kReportsCounter);
            const double share = result.cpuSeconds / (reports * kFrameSeconds);
            return Goal{share / kHostShare,
                        Format("%s: host share %.3f%% of the link's %.0f reports x 1 ms "
                               "(limit 1%%)",
                               name, share * 100, reports)};
        });
    }
}

void AddMemoryGoal(std::vector<Goal>& goals, const char* what, const MemoryPeak& one,
                   const MemoryPeak& all) {
    if (!one.done || !all.done) {
        goals.push_back({NAN, Format("%s: the operation failed (%s%s)", what, one.fault.c_str(),
                                     all.fault.c_str())});
        return;
    }
    const double difference = std::fabs(static_cast<double>(all.bytes) - one.bytes);
    // A peak below the one 32 KB buffer would mean the counting missed the program's buffer.
    if (one.bytes < kChunkSize || all.bytes < kChunkSize) {
        goals.push_back({NAN, Format("%s: peak heap %zu / %zu bytes, below the 32,768-byte "
                                     "buffer: not counted",
                                     what, one.bytes, all.bytes)});
        return;
    }
    goals.push_back({difference / kMemoryToleranceBytes,
                     Format("%s: peak heap %zu bytes for 1 slot, %zu for 32 slots, %.0f apart "
                            "(limit 65,536)",
                            what, one.bytes, all.bytes, difference)});
}

void AddRepaintGoals(std::vector<Goal>& goals, const KeepingReporter& results, bool allRan) {
    for (const RepaintCase& repaintCase : kRepaintCases) {
        ForBenchmark(goals, results, allRan, repaintCase.benchmark, [&](const BenchResult& r) {
            const double repaints = Counter(r, kRepaintsCounter);
            const double bytes = Counter(r, kBytesCounter);
            return Goal{repaints / repaintCase.limit,
                        Format("%s: %.0f repaints for %.0f bytes moved, one per %.1f bytes "
                               "(limit one per started kilobyte: %s)",
                               repaintCase.benchmark, repaints, bytes, bytes / repaints,
                               repaintCase.limitText)};
        });
    }
}

void AddLinkGoals(std::vector<Goal>& goals, const KeepingReporter& results, bool allRan) {
    for (const char* name : kLinkBenchmarks) {
        ForBenchmark(goals, results, allRan, name, [name](const BenchResult& result) {
            const double reports = Counter(result, kReportsCounter);
            const double wholeMs = result.realSeconds * 1e3;
            const double linkMs = reports * kFrameMs;
            const double off = std::fabs(wholeMs - linkMs) / linkMs;
            const double hostMs = wholeMs - Counter(result, kLinkCounter);
            return Goal{off / kLinkTolerance,
                        Format("%s: %.1f ms for %.0f reports x 1 ms, %.2f%% off (limit 1%%); "
                               "host share measured %.2f ms",
                               name, wholeMs, reports, off * 100, hostMs)};
        });
    }
}

void PrintFigures(std::ostream& out, const KeepingReporter& results) {
    out << "\nFigures (fastest of " << kRepetitions
        << " repetitions; host cost = the dialog thread's CPU time, the simulated board's own "
           "work included)\n";
    out << Format("  %-32s %9s %12s %12s %10s %9s\n", "benchmark", "reports", "time/op",
                  "ns/report", "MB/s", "repaints");
    for (const char* name : kCostBenchmarks) {
        const BenchResult* result = results.Find(name);
        if (result == nullptr) continue;
        const double reports = Counter(*result, kReportsCounter);
        out << Format("  %-32s %9.0f %10.3f ms %12.0f %10.1f %9.0f\n", name, reports,
                      result->cpuSeconds * 1e3, result->cpuSeconds * 1e9 / reports,
                      Counter(*result, kBytesCounter) / result->cpuSeconds / 1e6,
                      Counter(*result, kRepaintsCounter));
    }
    for (const char* name : kLinkBenchmarks) {
        const BenchResult* result = results.Find(name);
        if (result == nullptr) continue;
        const double reports = Counter(*result, kReportsCounter);
        out << Format("  %-32s %9.0f %10.3f ms %12.0f %10.3f %9.0f   (real time, 1 ms link)\n",
                      name, reports, result->realSeconds * 1e3, result->realSeconds * 1e9 / reports,
                      Counter(*result, kBytesCounter) / result->realSeconds / 1e6,
                      Counter(*result, kRepaintsCounter));
    }
}

}  // namespace

std::string Format(const char* format, ...) {
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

int CheckGoals(std::ostream& out, const KeepingReporter& results, bool allRan) {
    PrintFigures(out, results);

    std::vector<Goal> goals;
    for (const std::string& failure : results.Failures()) {
        goals.push_back({NAN, "benchmark failed: " + failure});
    }
    AddCostGoals(goals, results, allRan);
    AddMemoryGoal(goals, "image write", PeakOfImageWrite(kOneSlotDolBytes),
                  PeakOfImageWrite(kFullFlashDolBytes));
    AddMemoryGoal(goals, "backup", PeakOfBackup(1), PeakOfBackup(kSlotCount));
    AddRepaintGoals(goals, results, allRan);
    AddLinkGoals(goals, results, allRan);
    AddToolGoals(out, goals);
    AddManyBoardsGoals(goals, results, allRan);

    out << "\nGoals (ratio = measured / limit; PASS at 1 or below)\n";
    int missed = 0;
    for (const Goal& goal : goals) {
        const bool pass = goal.ratio <= 1.0;  // false for NaN
        if (!pass) ++missed;
        out << (std::isnan(goal.ratio) ? std::string("     --") : Format("%7.3f", goal.ratio))
            << (pass ? "  PASS  " : "  FAIL  ") << goal.text << "\n";
    }
    out << "bench: " << goals.size() << " goals, " << goals.size() - missed << " met, " << missed
        << " missed\n";
    out.flush();
    return missed;
}
