// The pace of the demo board's link: every report costs a little time, as on USB, so that the
// kilobyte countdown can be watched, yet a whole 2 MB write takes only a few seconds.
//
// Windows sleeps in whole milliseconds at best (often 15.6 ms), far more than one report costs.
// So the cost is charged to a running account and slept off in larger pieces; a sleep that
// overran leaves credit for the reports after it, and time that the link lay idle is banked only
// up to a small limit, so the average pace holds without bursts after a pause.
#pragma once

constexpr double kDemoReportTimeMs = 0.1;  // one output report or feature fetch
constexpr int kDemoEraseBusyPolls = 500;   // ~100 ms of status polls per erased slot
constexpr int kDemoBusHandoverPolls = 2;

constexpr double kPaceMinSleepMs = 2.0;  // never ask for less than this
constexpr double kPaceCreditMs = 20.0;   // idle time banked at most

// The account, in milliseconds of some steady clock. Written by the thread that exchanges
// reports (the dialog thread).
struct LinkPace {
    double dueMs = 0;  // when the link is done with every report charged so far
    bool started = false;
};

// Charges one report of reportMs at time nowMs; returns the whole milliseconds to sleep now
// (0: go on at once).
unsigned ChargeReport(LinkPace& pace, double reportMs, double nowMs);
