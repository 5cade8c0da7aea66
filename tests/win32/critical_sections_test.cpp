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

TEST_F(CriticalSectionDeathTest, MisuseAbortsLoudly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            CRITICAL_SECTION section = {};
            EnterCriticalSection(&section);
        },
        "not initialised");
    EXPECT_DEATH(
        {
            CRITICAL_SECTION section;
            InitializeCriticalSection(&section);
            DeleteCriticalSection(&section);
            EnterCriticalSection(&section);
        },
        "not initialised");
    // A copy is not the section: Windows keeps pointers into the block itself.
    EXPECT_DEATH(
        {
            CRITICAL_SECTION section;
            InitializeCriticalSection(&section);
            CRITICAL_SECTION copy = section;
            EnterCriticalSection(&copy);
        },
        "not initialised");
    EXPECT_DEATH(
        {
            CRITICAL_SECTION section;
            InitializeCriticalSection(&section);
            LeaveCriticalSection(&section);
        },
        "does not hold");
    EXPECT_DEATH(
        {
            CRITICAL_SECTION section;
            InitializeCriticalSection(&section);
            std::thread([&] { EnterCriticalSection(&section); }).join();
            LeaveCriticalSection(&section);
        },
        "does not hold");
}

}  // namespace
