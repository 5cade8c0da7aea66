// kelmtool's goals against the window, on the images of tool_comparison.h. The table also shows
// the whole command's reports against the window's, with no goal: kelmtool reads the catalogue
// before it writes, where the window places on the map of a scan it made earlier, and erases the
// slots it writes, which the window programs as it finds them, so a write that fills the flash
// costs kelmtool a scan and 32 erases more than it saves.
// - a write's data reports: at most ceil(B / 63) + S, where B is PlanFigures::mustSend (the
//   image's bytes other than 0xFF, and the 0xFF bytes between two of them in a run too short to
//   skip) and S the spans PlanSpans makes of the pieces the write sends (its chunks, the held-back
//   headers apart); at the same time the write must send exactly S CMD_WRITEs, none past its
//   bank's end, and no data report of only 0xFF;
// - the erase before it: exactly one CMD_ERASE for each slot the image covers (a restore: all
//   32), and no more than its status poll and the answer to it for each, as the board of the
//   benchmark is done with an erase at once: so the table's erase cost is the protocol's own;
// - info sends at most 60% of the reports of the window's scan of the same flash, but never
//   needs to go below one header read under one bus request, which both pay alike;
// - the flash after kelmtool's write is the window's, byte for byte (both write onto erased
//   slots: the benchmark lays no left-over data behind a free header);
// - kelmtool's peak heap of write, verify, backup, dump and restore within 64 KB, whatever the
//   size.
#include <cmath>
#include <string>
#include <vector>

#include "core/flash_layout.h"
#include "core/report_layout.h"
#include "goals.h"
#include "tool_comparison.h"

namespace {

constexpr double kInfoShare = 0.6;
// CMD_BUS, CMD_GET_STATUS and its answer; CMD_READ of 256 bytes and its 5 answers; CMD_BUS,
// CMD_GET_STATUS and its answer.
constexpr double kOneHeaderReports = 3 + 1 + (kHeaderSize + kPayloadSize - 1) / kPayloadSize + 3;
constexpr double kHeapLimitBytes = 64 * 1024;
// CMD_ERASE, CMD_GET_STATUS and its answer.
constexpr double kOneEraseReports = 3;

double Ceil63(uint64_t bytes) {
    return static_cast<double>((bytes + kPayloadSize - 1) / kPayloadSize);
}

double Ratio(double measured, double limit) { return limit > 0 ? measured / limit : NAN; }

void AddWriteGoal(std::vector<Goal>& goals, const Comparison& row) {
    const ToolTraffic& write = row.tool.write;
    const double limit = Ceil63(row.plan.mustSend) + static_cast<double>(row.plan.spans);
    const bool shaped =
        write.writes == row.plan.spans && write.bankCrossings == 0 && write.erasedData == 0;
    goals.push_back(
        {shaped ? Ratio(static_cast<double>(write.data), limit) : NAN,
         Format("%s: %llu data reports for %llu bytes to send (%llu not 0xFF) in %llu spans, "
                "limit ceil(%llu / 63) + %llu = %.0f; %llu CMD_WRITEs, %llu past a bank's end, "
                "%llu data reports of only 0xFF",
                row.name.c_str(), static_cast<unsigned long long>(write.data),
                static_cast<unsigned long long>(row.plan.mustSend),
                static_cast<unsigned long long>(row.plan.nonErased),
                static_cast<unsigned long long>(row.plan.spans),
                static_cast<unsigned long long>(row.plan.mustSend),
                static_cast<unsigned long long>(row.plan.spans), limit,
                static_cast<unsigned long long>(write.writes),
                static_cast<unsigned long long>(write.bankCrossings),
                static_cast<unsigned long long>(write.erasedData))});
}

void AddEraseGoal(std::vector<Goal>& goals, const Comparison& row) {
    const ToolTraffic& erase = row.tool.erase;
    const double limit = kOneEraseReports * static_cast<double>(row.plan.slots);
    goals.push_back(
        {erase.erases == row.plan.slots ? Ratio(static_cast<double>(erase.Reports()), limit) : NAN,
         Format("%s: %llu CMD_ERASEs for %llu slots, %llu reports with their status polls "
                "(limit %.0f: one poll each)",
                row.name.c_str(), static_cast<unsigned long long>(erase.erases),
                static_cast<unsigned long long>(row.plan.slots),
                static_cast<unsigned long long>(erase.Reports()), limit)});
}

void AddRowGoals(std::vector<Goal>& goals, const Comparison& row) {
    const char* name = row.name.c_str();
    if (!row.fault.empty()) {
        goals.push_back({NAN, Format("%s: %s", name, row.fault.c_str())});
        return;
    }
    AddWriteGoal(goals, row);
    AddEraseGoal(goals, row);
    const double scan = static_cast<double>(row.windowScanReports);
    const double infoLimit = std::max(kInfoShare * scan, kOneHeaderReports);
    goals.push_back(
        {Ratio(static_cast<double>(row.infoReports), infoLimit),
         Format("%s: info %llu reports, the window's scan %.0f (limit 60%%, at "
                "least %.0f: one header under one bus request)",
                name, static_cast<unsigned long long>(row.infoReports), scan, kOneHeaderReports)});
    goals.push_back({row.differingBytes == 0 ? 0.0 : INFINITY,
                     Format("%s: the flash after kelmtool's %s differs from the window's in "
                            "%llu bytes (limit 0)",
                            name, row.dump ? "restore" : "write",
                            static_cast<unsigned long long>(row.differingBytes))});
    struct Peak {
        const char* what;
        size_t bytes;
    };
    const Peak peaks[] = {
        {row.dump ? "restore" : "write", row.heapWrite},
        {"verify", row.heapVerify},
        {row.dump ? "dump" : "backup", row.heapBackup},
    };
    for (const Peak& peak : peaks) {
        if (row.dump && peak.bytes == 0) continue;  // no verify measured for the dump
        // Below the one 32 KB chunk buffer the counting would have missed it.
        const bool counted = peak.bytes >= kChunkSize;
        goals.push_back(
            {counted ? Ratio(static_cast<double>(peak.bytes), kHeapLimitBytes) : NAN,
             Format("%s: kelmtool's %s peak heap %zu bytes (limit 65,536%s)", name, peak.what,
                    peak.bytes, counted ? "" : "; below its 32 KB buffer: not counted")});
    }
}

void PrintTable(std::ostream& out, const std::vector<Comparison>& rows) {
    out << "\nkelmtool against the window (link model: 1 ms a report, plus the host's own time; "
           "heap: kelmtool's peak)\n";
    out << Format("  %-34s %9s %9s %6s %10s %10s %6s %8s %8s %6s %6s %7s %7s %7s %6s %6s %7s\n",
                  "image", "window", "kelmtool", "ratio", "window s", "kelmtool s", "ratio", "data",
                  "limit", "scan", "info", "heap w", "heap v", "heap b", "erases", "polls",
                  "erase s");
    for (const Comparison& row : rows) {
        const double toolReports = static_cast<double>(row.tool.whole.Reports());
        const double limit = Ceil63(row.plan.mustSend) + static_cast<double>(row.plan.spans);
        out << Format(
            "  %-34s %9llu %9.0f %6.3f %10.3f %10.3f %6.3f %8llu %8.0f %6llu %6llu "
            "%7zu %7zu %7zu %6llu %6llu %7.3f\n",
            row.name.c_str(), static_cast<unsigned long long>(row.windowReports), toolReports,
            toolReports / static_cast<double>(row.windowReports), row.windowModelMs / 1e3,
            row.tool.ModelMs() / 1e3, row.tool.ModelMs() / row.windowModelMs,
            static_cast<unsigned long long>(row.tool.write.data), limit,
            static_cast<unsigned long long>(row.windowScanReports),
            static_cast<unsigned long long>(row.infoReports), row.heapWrite, row.heapVerify,
            row.heapBackup, static_cast<unsigned long long>(row.tool.erase.erases),
            static_cast<unsigned long long>(row.tool.erase.polls), row.tool.eraseMs / 1e3);
    }
    out << "  (dump row: the window's bus, erases and 64 full chunks; kelmtool's restore; heap w "
           "= restore, heap b = dump; erases, polls, erase s: kelmtool's erase before it writes, "
           "its share of kelmtool s)\n";
}

}  // namespace

void AddToolGoals(std::ostream& out, std::vector<Goal>& goals) {
    const std::vector<Comparison> rows = CompareWithKelmtool();
    PrintTable(out, rows);
    for (const Comparison& row : rows) AddRowGoals(goals, row);
}
