// The performance goals, each checked as the ratio of what was measured to its limit: at 1 or
// below it passes.
#pragma once

#include <ostream>

#include "bench_results.h"

// Prints the figures of every benchmark and the goals; returns the number of goals missed.
// With allRan false (a filter chose some benchmarks), goals of benchmarks that did not run are
// left out instead of missed.
int CheckGoals(std::ostream& out, const KeepingReporter& results, bool allRan);
