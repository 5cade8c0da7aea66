// What every benchmark publishes per operation, and the reporter that keeps the results for
// the goals while it prints them.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Counters, each an average per operation (iteration).
constexpr char kReportsCounter[] = "reports";    // Out and Feature reports on the link
constexpr char kBytesCounter[] = "bytes";        // flash bytes moved, both ways
constexpr char kRepaintsCounter[] = "repaints";  // UpdateWindow calls on the main window
constexpr char kLinkCounter[] = "link_ms";       // link time the pacer charged (link model)
// Shown on the console only.
constexpr char kPerReportCounter[] = "per_report";
constexpr char kRateCounter[] = "MB/s";

// Repetitions of every benchmark; the goals take each one's fastest.
constexpr int kRepetitions = 3;
constexpr char kFastest[] = "min";

// Reports, bytes and repaints of `operations` operations.
void PublishCounters(benchmark::State& state, uint64_t reports, uint64_t bytes, uint64_t repaints,
                     uint64_t operations);
// For Apply: repetitions, the fastest kept among the aggregates, only the aggregates reported.
void Repeated(benchmark::internal::Benchmark* benchmark);

struct BenchResult {
    std::string name;
    double realSeconds = 0;  // per operation
    double cpuSeconds = 0;   // per operation, the dialog thread's
    std::map<std::string, double> counters;
};

// Prints like the console reporter and keeps the fastest repetition of each benchmark (the one
// run of a benchmark without repetitions) and the message of every one that failed.
class KeepingReporter : public benchmark::ConsoleReporter {
  public:
    explicit KeepingReporter(OutputOptions options) : ConsoleReporter(options) {}
    void ReportRuns(const std::vector<Run>& runs) override;

    const BenchResult* Find(const std::string& name) const;  // null when it did not run
    const std::vector<std::string>& Failures() const { return failures_; }

  private:
    std::vector<BenchResult> results_;
    std::vector<std::string> failures_;
};
