// Critical sections: recursive per thread, exclusive between threads, loud when misused.
#include <atomic>
#include <chrono>
#include <thread>

#include "win32/kernel_fixture.h"

namespace {

using CriticalSectionTest = KernelTest;

TEST_F(CriticalSectionTest, OwnerMayEnterAgainAndOthersWaitForTheLastLeave) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    // As the program's DeviceLock is, once per start-up, without a delete in between.
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);

    std::atomic<bool> entered{false};
    std::thread other([&] {
        EnterCriticalSection(&section);
        entered = true;
        LeaveCriticalSection(&section);
    });
    LeaveCriticalSection(&section);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(entered.load()) << "entered while the owner still held it once";
    LeaveCriticalSection(&section);
    other.join();
    EXPECT_TRUE(entered.load());
    DeleteCriticalSection(&section);
}

using CriticalSectionDeathTest = KernelTest;

// Each misuse dies in a child of its own, which runs the test up to it.
TEST_F(CriticalSectionDeathTest, MisuseAbortsLoudly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    CRITICAL_SECTION never = {};
    EXPECT_DEATH(EnterCriticalSection(&never), "not initialised");
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    // A copy is not the section: Windows keeps pointers into the block itself.
    CRITICAL_SECTION copy = section;
    EXPECT_DEATH(EnterCriticalSection(&copy), "not initialised");
    EXPECT_DEATH(LeaveCriticalSection(&section), "does not hold");
    std::thread([&] { EnterCriticalSection(&section); }).join();
    EXPECT_DEATH(LeaveCriticalSection(&section), "does not hold");  // held by another thread
    DeleteCriticalSection(&section);
    EXPECT_DEATH(EnterCriticalSection(&section), "not initialised");
}

}  // namespace
