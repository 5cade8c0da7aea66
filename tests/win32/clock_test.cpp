// The clock behind Sleep and GetTickCount, and the scale of timed waits.
#include <chrono>

#include "win32/kernel_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

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

TEST_F(ClockTest, RealSleepSleepsAndIsRecorded) {
    const uint64_t before = standin::NowMs();
    const Clock::time_point start = Clock::now();
    Sleep(30);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(30));
    EXPECT_GE(standin::NowMs() - before, 29u);
    EXPECT_EQ(standin::SleepCalls(), (std::vector<DWORD>{30}));
}

TEST_F(ClockTest, ResetRestoresTheRealClockAndForgetsSleeps) {
    standin::SetVirtualClock(true);
    standin::SetWaitScale(0.0);
    Sleep(100000);
    standin::Reset();
    EXPECT_TRUE(standin::SleepCalls().empty());
    // Unscaled again: a 30 ms wait takes 30 ms.
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(WaitForSingleObject(event, 30), WAIT_TIMEOUT);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(29));
    const uint64_t before = standin::NowMs();
    Sleep(20);
    EXPECT_GE(standin::NowMs() - before, 19u);
    EXPECT_LT(standin::NowMs() - before, 100000u);
    CloseHandle(event);
}

}  // namespace
