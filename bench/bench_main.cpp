// kelm_bench: the benchmarks, then the goals. Exits 1 when a goal was missed.
//
// The catalogue scan prints one diagnostic line per slot header on standard output, thousands
// of times over a run; the program's standard output therefore goes to /dev/null (printing
// there is still part of its cost) and the report to the original standard output.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <ext/stdio_filebuf.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <ostream>

#include "bench_results.h"
#include "goals.h"

namespace {

constexpr char kFilterFlag[] = "--benchmark_filter";

// Returns a descriptor of the original standard output, or -1.
int SetProgramOutputAside() {
    std::fflush(stdout);
    const int report = dup(STDOUT_FILENO);
    const int nowhere = open("/dev/null", O_WRONLY);
    if (report < 0 || nowhere < 0 || dup2(nowhere, STDOUT_FILENO) < 0) {
        if (report >= 0) close(report);
        if (nowhere >= 0) close(nowhere);
        return -1;
    }
    close(nowhere);
    return report;
}

bool Filtered(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], kFilterFlag, sizeof kFilterFlag - 1) == 0) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    // Before Initialize, which takes the flags it knows out of argv.
    const bool allRan = !Filtered(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;

    const int reportFd = SetProgramOutputAside();
    if (reportFd < 0) {
        std::cerr << "kelm_bench: cannot set standard output aside\n";
        return 2;
    }
    int missed = 0;
    {
        __gnu_cxx::stdio_filebuf<char> reportBuffer(reportFd, std::ios::out);
        std::ostream report(&reportBuffer);
        KeepingReporter reporter(isatty(reportFd) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                  : benchmark::ConsoleReporter::OO_Tabular);
        reporter.SetOutputStream(&report);
        benchmark::RunSpecifiedBenchmarks(&reporter);
        missed = CheckGoals(report, reporter, allRan);
    }  // the buffer closes the descriptor
    benchmark::Shutdown();
    return missed == 0 ? 0 : 1;
}
