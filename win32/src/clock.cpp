// The clock behind Sleep and GetTickCount: real, or virtual so that tests of timed behaviour
// run at once; and the scale applied to timed waits.
#include <windows.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "win32/src/kernel_objects.h"

namespace standin {
namespace detail {

namespace {

struct ClockState {
    std::mutex mutex;
    bool virtualClock = false;
    uint64_t virtualMs = 0;  // NowMs while the clock is virtual
    double waitScale = 1.0;
    std::vector<DWORD> sleeps;
    const std::chrono::steady_clock::time_point origin = std::chrono::steady_clock::now();
};

// Written by any thread, under its own mutex.
ClockState& Clock() {
    static ClockState* clock = new ClockState();
    return *clock;
}

uint64_t RealMs(const ClockState& clock) {
    const auto elapsed = std::chrono::steady_clock::now() - clock.origin;
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

uint64_t NowLocked(const ClockState& clock) {
    return clock.virtualClock ? clock.virtualMs : RealMs(clock);
}

}  // namespace

double WaitScale() {
    ClockState& clock = Clock();
    std::lock_guard<std::mutex> lock(clock.mutex);
    return clock.waitScale;
}

void ResetClock() {
    ClockState& clock = Clock();
    std::lock_guard<std::mutex> lock(clock.mutex);
    clock.virtualClock = false;
    clock.virtualMs = 0;
    clock.waitScale = 1.0;
    clock.sleeps.clear();
}

}  // namespace detail

void SetVirtualClock(bool virtualClock) {
    detail::ClockState& clock = detail::Clock();
    std::lock_guard<std::mutex> lock(clock.mutex);
    if (virtualClock && !clock.virtualClock) {
        // The clock goes on from where it is, never backwards.
        clock.virtualMs = detail::RealMs(clock);
    }
    clock.virtualClock = virtualClock;
}

void SetWaitScale(double factor) {
    detail::ClockState& clock = detail::Clock();
    std::lock_guard<std::mutex> lock(clock.mutex);
    clock.waitScale = factor < 0 ? 0 : factor;
}

uint64_t NowMs() {
    detail::ClockState& clock = detail::Clock();
    std::lock_guard<std::mutex> lock(clock.mutex);
    return detail::NowLocked(clock);
}

std::vector<DWORD> SleepCalls() {
    detail::ClockState& clock = detail::Clock();
    std::lock_guard<std::mutex> lock(clock.mutex);
    return clock.sleeps;
}

}  // namespace standin

extern "C" {

void WINAPI Sleep(DWORD milliseconds) {
    standin::detail::ClockState& clock = standin::detail::Clock();
    {
        std::lock_guard<std::mutex> lock(clock.mutex);
        clock.sleeps.push_back(milliseconds);
        if (clock.virtualClock) {
            clock.virtualMs += milliseconds;
            return;
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

DWORD WINAPI GetTickCount(void) {
    // Wraps after 49.7 days, as on Windows.
    return static_cast<DWORD>(standin::NowMs());
}

}  // extern "C"
