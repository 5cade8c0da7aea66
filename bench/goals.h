// The performance goals, each checked as the ratio of what was measured to its limit: at 1 or
// below it passes.
#pragma once

#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "bench_results.h"

struct Goal {
    double ratio = NAN;  // NaN: could not be measured, a miss
    std::string text;
};

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// kelmtool against the window on the same images (tool_goals.cpp): prints the comparison's
// table and adds its goals.
void AddToolGoals(std::ostream& out, std::vector<Goal>& goals);

// Prints the figures of every benchmark and the goals; returns the number of goals missed.
// With allRan false (a filter chose some benchmarks), goals of benchmarks that did not run are
// left out instead of missed.
int CheckGoals(std::ostream& out, const KeepingReporter& results, bool allRan);
