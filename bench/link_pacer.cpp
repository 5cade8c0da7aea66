#include "link_pacer.h"

#include <chrono>
#include <memory>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;
// Longer than an idle machine's wake-up delay, short enough not to burn the frame.
constexpr auto kSpinStretch = std::chrono::microseconds(300);

}  // namespace

std::function<void(double)> RealTimePacer(double& sleptMs) {
    // Time charged beyond the frames so far: the overrun that the next waits make up.
    auto overrunMs = std::make_shared<double>(0.0);
    return [&sleptMs, overrunMs](double milliseconds) {
        const Clock::time_point start = Clock::now();
        const double waitMs = milliseconds - *overrunMs;
        if (waitMs > 0) {
            const Clock::time_point end =
                start + std::chrono::duration_cast<Clock::duration>(Milliseconds(waitMs));
            if (end - start > kSpinStretch) std::this_thread::sleep_until(end - kSpinStretch);
            while (Clock::now() < end) {
            }
        }
        const double tookMs = Milliseconds(Clock::now() - start).count();
        *overrunMs += tookMs - milliseconds;
        sleptMs += tookMs;
    };
}
