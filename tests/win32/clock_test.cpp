// The clock behind Sleep and GetTickCount, and the scale of timed waits.
#include <chrono>

#include "win32/kernel_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

using ClockTest = KernelTest;

TEST_F(ClockTest, VirtualSleepAdvancesTheClockAtOnce) {
    standin::SetVirtualClock(true);
    const uint64_t before = standin::NowMs();
    const DWORD ticksBefore = GetTickCount();
    const Clock::time_point start = Clock::now();
    Sleep(60000);
    Sleep(0);
    Sleep(5);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(standin::NowMs() - before, 60005u);
    EXPECT_EQ(GetTickCount() - ticksBefore, 60005u);
    EXPECT_EQ(standin::SleepCalls(), (std::vector<DWORD>{60000, 0, 5}));
}

// After a reset, waits and sleeps take their real time again, and earlier sleeps are forgotten.
TEST_F(ClockTest, ResetRestoresTheRealClockAndUnscaledWaits) {
    standin::SetVirtualClock(true);
    standin::SetWaitScale(0.0);
    Sleep(100000);
    standin::Reset();
    EXPECT_TRUE(standin::SleepCalls().empty());
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const uint64_t before = standin::NowMs();
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(WaitForSingleObject(event, 30), WAIT_TIMEOUT);
    EXPECT_GE(Clock::now() - start, milliseconds(29));
    Sleep(30);
    EXPECT_GE(Clock::now() - start, milliseconds(59));
    EXPECT_GE(standin::NowMs() - before, 58u);
    EXPECT_LT(standin::NowMs() - before, 100000u);
    EXPECT_EQ(standin::SleepCalls(), (std::vector<DWORD>{30}));
    CloseHandle(event);
}

}  // namespace
