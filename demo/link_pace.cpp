// Pacing the demo board's reports.
#include "demo/link_pace.h"

unsigned ChargeReport(LinkPace& pace, double reportMs, double nowMs) {
    if (!pace.started || pace.dueMs < nowMs - kPaceCreditMs) {
        pace.dueMs = nowMs - (pace.started ? kPaceCreditMs : 0.0);
        pace.started = true;
    }
    pace.dueMs += reportMs;
    const double ahead = pace.dueMs - nowMs;
    if (ahead < kPaceMinSleepMs) {
        return 0;
    }
    return static_cast<unsigned>(ahead);
}
