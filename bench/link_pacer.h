// The link model's clock: what the simulated board's SetReportTime calls for every report.
#pragma once

#include <functional>

// Charges each report the given time in real time and adds what it really took to `sleptMs`.
// The scheduler wakes a sleeping thread late, by tens of microseconds on an idle machine and by
// far more on a busy one; that is neither the link's time nor the host's. So the last stretch
// of each wait is spun, and what a wait still overran is taken off the next one: over a run
// the link is charged its frames to within one overrun, as a real link's frame clock never
// slips, while the host's work between reports is never absorbed.
std::function<void(double)> RealTimePacer(double& sleptMs);
