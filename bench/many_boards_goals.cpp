// The goals of kelmtool --all: side by side, four boards cost the time of one.
#include "many_boards_goals.h"

#include <cmath>

namespace {

constexpr char kBenchmark[] = "Link1ms_KelmtoolAllWrite_4Boards";
constexpr double kSideBySideTolerance = 0.10;

double Counter(const BenchResult& result, const char* name) {
    const auto found = result.counters.find(name);
    return found != result.counters.end() ? found->second : NAN;
}

}  // namespace

void AddManyBoardsGoals(std::vector<Goal>& goals, const KeepingReporter& results, bool allRan) {
    const BenchResult* result = results.Find(kBenchmark);
    if (result == nullptr) {
        if (allRan) goals.push_back({NAN, Format("%s: did not run or failed", kBenchmark)});
        return;
    }
    const double oneMs = Counter(*result, kOneBoardMsCounter);
    const double allMs = Counter(*result, kAllBoardsMsCounter);
    const double boards = Counter(*result, kBoardsCounter);
    const double exact = Counter(*result, kExactBoardsCounter);
    const double limitMs = oneMs * (1 + kSideBySideTolerance);
    goals.push_back({oneMs > 0 ? allMs / limitMs : NAN,
                     Format("%s: --all write on %.0f boards %.0f ms, one board's write %.0f ms "
                            "(limit +10%%: %.0f ms)",
                            kBenchmark, boards, allMs, oneMs, limitMs)});
    goals.push_back({exact == boards ? 0.0 : INFINITY,
                     Format("%s: %.0f of %.0f boards' flash exactly as one board's write leaves "
                            "it, the image after its header and nothing else (limit all)",
                            kBenchmark, exact, boards)});
}
