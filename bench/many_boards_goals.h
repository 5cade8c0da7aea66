// The goals of kelmtool --all on several simulated boards (many_boards_bench.cpp).
#pragma once

#include <vector>

#include "bench_results.h"
#include "goals.h"

// Counters of the benchmark: the two writes' wall times, and the boards whose flash came out
// as one board's write leaves it, of how many.
constexpr char kOneBoardMsCounter[] = "one_board_ms";
constexpr char kAllBoardsMsCounter[] = "all_boards_ms";
constexpr char kExactBoardsCounter[] = "exact_boards";
constexpr char kBoardsCounter[] = "boards";

// --all write on four boards lasts within 10% of one board's write, and every board's flash is
// exact. With allRan false, a benchmark that a filter left out adds no goal.
void AddManyBoardsGoals(std::vector<Goal>& goals, const KeepingReporter& results, bool allRan);
