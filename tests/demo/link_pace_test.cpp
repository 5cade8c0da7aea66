#include "demo/link_pace.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// Charges reports one after another on a clock that moves only by the sleeps asked for, each
// taking at least minimumSleepMs (the system's timer granularity). Returns the time they took.
double RunReports(LinkPace& pace, int reports, double startMs, double minimumSleepMs) {
    double now = startMs;
    for (int i = 0; i < reports; ++i) {
        const unsigned sleepMs = ChargeReport(pace, kDemoReportTimeMs, now);
        if (sleepMs != 0) now += std::max<double>(sleepMs, minimumSleepMs);
    }
    return now - startMs;
}

TEST(LinkPace, SleepsOnlyOnceAFewMillisecondsAreOwed) {
    LinkPace pace;
    const int free = static_cast<int>(kPaceMinSleepMs / kDemoReportTimeMs) - 1;
    for (int i = 0; i < free; ++i) EXPECT_EQ(ChargeReport(pace, kDemoReportTimeMs, 0.0), 0u);
    EXPECT_EQ(ChargeReport(pace, kDemoReportTimeMs, 0.0), 2u);
}

// A 2 MB write is 33,289 data reports: a few seconds, whatever the timer's granularity, since
// an overlong sleep is made up by the reports after it.
TEST(LinkPace, AWholeFlashWriteTakesAFewSecondsAtAnyTimerGranularity) {
    const int reports = 2097152 / 63 + 1;
    for (double granularityMs : {1.0, 15.6}) {
        SCOPED_TRACE(granularityMs);
        LinkPace pace;
        const double took = RunReports(pace, reports, 1000.0, granularityMs);
        EXPECT_NEAR(took, reports * kDemoReportTimeMs, granularityMs + kPaceMinSleepMs);
    }
}

TEST(LinkPace, IdleTimeIsBankedOnlyUpToTheCredit) {
    LinkPace pace;
    RunReports(pace, 100, 0.0, 1.0);
    // After a long pause the first reports use the banked credit, then the pace holds again.
    const int banked = static_cast<int>(kPaceCreditMs / kDemoReportTimeMs);
    const double took = RunReports(pace, banked + 1000, 60000.0, 1.0);
    EXPECT_NEAR(took, 1000 * kDemoReportTimeMs, kPaceMinSleepMs + 1.0);
}

}  // namespace
