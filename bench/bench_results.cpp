#include "bench_results.h"

#include <algorithm>

namespace {

constexpr double kMegabyte = 1e6;

double Fastest(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
}

double SecondsPer(double adjustedTime, benchmark::TimeUnit unit) {
    switch (unit) {
        case benchmark::kNanosecond:
            return adjustedTime * 1e-9;
        case benchmark::kMicrosecond:
            return adjustedTime * 1e-6;
        case benchmark::kMillisecond:
            return adjustedTime * 1e-3;
        default:
            return adjustedTime;
    }
}

}  // namespace

void PublishCounters(benchmark::State& state, uint64_t reports, uint64_t bytes, uint64_t repaints,
                     uint64_t operations) {
    using benchmark::Counter;
    const double perOperation = operations != 0 ? 1.0 / static_cast<double>(operations) : 0;
    state.counters[kReportsCounter] = static_cast<double>(reports) * perOperation;
    state.counters[kBytesCounter] = static_cast<double>(bytes) * perOperation;
    state.counters[kRepaintsCounter] = static_cast<double>(repaints) * perOperation;
    state.counters[kPerReportCounter] =
        Counter(static_cast<double>(reports), Counter::kIsRate | Counter::kInvert);
    state.counters[kRateCounter] =
        Counter(static_cast<double>(bytes) / kMegabyte, Counter::kIsRate);
}

void Repeated(benchmark::internal::Benchmark* benchmark) {
    benchmark->Repetitions(kRepetitions)
        ->ComputeStatistics(kFastest, &Fastest)
        ->ReportAggregatesOnly(true);
}

void KeepingReporter::ReportRuns(const std::vector<Run>& runs) {
    for (const Run& run : runs) {
        const std::string name = run.run_name.function_name;
        if (run.error_occurred) {
            // Once, however many repetitions failed alike.
            const std::string failure = name + ": " + run.error_message;
            if (std::find(failures_.begin(), failures_.end(), failure) == failures_.end()) {
                failures_.push_back(failure);
            }
            continue;
        }
        // A benchmark run once (its goal compares figures of the one run) has no aggregates.
        const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
        const bool fastest = run.run_type == Run::RT_Aggregate && run.aggregate_name == kFastest;
        if (!single && !fastest) continue;
        BenchResult result;
        result.name = name;
        result.realSeconds = SecondsPer(run.GetAdjustedRealTime(), run.time_unit);
        result.cpuSeconds = SecondsPer(run.GetAdjustedCPUTime(), run.time_unit);
        for (const auto& counter : run.counters) result.counters[counter.first] = counter.second;
        results_.push_back(result);
    }
    ConsoleReporter::ReportRuns(runs);
}

const BenchResult* KeepingReporter::Find(const std::string& name) const {
    for (const BenchResult& result : results_) {
        if (result.name == name) return &result;
    }
    return nullptr;
}
