// Events, threads and the waits on them.
#include <atomic>
#include <chrono>
#include <thread>

#include "win32/kernel_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

using EventTest = KernelTest;

TEST_F(EventTest, ManualResetStaysSignalledUntilResetAutoResetReleasesOneWait) {
    HANDLE manual = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE automatic = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    std::vector<DWORD> results = {WaitForSingleObject(manual, 0)};
    ASSERT_TRUE(SetEvent(manual));
    results.push_back(WaitForSingleObject(manual, 0));
    results.push_back(WaitForSingleObject(manual, 0));
    ASSERT_TRUE(ResetEvent(manual));
    results.push_back(WaitForSingleObject(manual, 0));
    results.push_back(WaitForSingleObject(automatic, 0));
    results.push_back(WaitForSingleObject(automatic, 0));
    EXPECT_EQ(results, (std::vector<DWORD>{WAIT_TIMEOUT, WAIT_OBJECT_0, WAIT_OBJECT_0, WAIT_TIMEOUT,
                                           WAIT_OBJECT_0, WAIT_TIMEOUT}));
    CloseHandle(manual);
    CloseHandle(automatic);
}

using MultipleWaitTest = KernelTest;

// Waiting for any: the lowest signalled index wins and only it is consumed. Waiting for all: a
// wait that fails takes nothing.
TEST_F(MultipleWaitTest, AnyTakesTheLowestSignalledAllTakesAllOrNothing) {
    HANDLE events[3];
    for (HANDLE& event : events) event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    SetEvent(events[2]);
    SetEvent(events[1]);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(3, events, TRUE, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_TIMEOUT);
    for (HANDLE event : events) SetEvent(event);
    EXPECT_EQ(WaitForMultipleObjects(3, events, TRUE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_TIMEOUT);
    for (HANDLE event : events) CloseHandle(event);
}

TEST_F(MultipleWaitTest, BadArgumentsFail) {
    HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    HANDLE closed = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    CloseHandle(closed);
    HANDLE many[MAXIMUM_WAIT_OBJECTS + 1];
    for (HANDLE& handle : many) {
        handle = event;
    }
    const HANDLE withClosed[2] = {event, closed};
    struct Case {
        const char* name;
        DWORD count;
        const HANDLE* handles;
        DWORD error;
    } cases[] = {
        {"no objects", 0, many, ERROR_INVALID_PARAMETER},
        {"too many objects", MAXIMUM_WAIT_OBJECTS + 1, many, ERROR_INVALID_PARAMETER},
        {"null array", 1, nullptr, ERROR_INVALID_PARAMETER},
        // A closed handle fails the wait even when an earlier object is signalled.
        {"closed handle", 2, withClosed, ERROR_INVALID_HANDLE},
    };
    for (const Case& c : cases) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(WaitForMultipleObjects(c.count, c.handles, FALSE, 0), WAIT_FAILED) << c.name;
        EXPECT_EQ(GetLastError(), c.error) << c.name;
    }
    EXPECT_EQ(WaitForSingleObject(closed, INFINITE), WAIT_FAILED);
    CloseHandle(event);
}

using TimeoutTest = KernelTest;

// A timed wait lasts its time scaled (3000 ms become 30 ms); INFINITE is never scaled into a
// time-out, even at scale 0, and another thread's SetEvent ends it.
TEST_F(TimeoutTest, TimedWaitsAreScaledInfiniteIsNot) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    standin::SetWaitScale(0.01);
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(WaitForSingleObject(event, 3000), WAIT_TIMEOUT);
    const long elapsed = ElapsedMs(start);
    EXPECT_GE(elapsed, 29);
    EXPECT_LT(elapsed, 1500);

    standin::SetWaitScale(0.0);
    std::thread setter([event] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        SetEvent(event);
    });
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
    setter.join();
    CloseHandle(event);
}

using ThreadTest = KernelTest;

struct Work {
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> done{false};
};

DWORD WINAPI WaitThenMarkDone(LPVOID parameter) {
    Work* work = static_cast<Work*>(parameter);
    WaitForSingleObject(work->go, INFINITE);
    work->done = true;
    return 42;
}

TEST_F(ThreadTest, HandleIsSignalledAtTheEndAndKeepsTheExitCodeUntilClosed) {
    Work work;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, WaitThenMarkDone, &work, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);
    SetEvent(work.go);
    ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);  // ended, and still there
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_EQ(standin::OpenHandleCount(), 2);
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_FALSE(GetExitCodeThread(thread, &code));
    CloseHandle(work.go);
}

TEST_F(ThreadTest, ClosingTheHandleDoesNotStopTheThread) {
    Work work;
    ASSERT_TRUE(CloseHandle(CreateThread(nullptr, 0, WaitThenMarkDone, &work, 0, nullptr)));
    SetEvent(work.go);
    const Clock::time_point start = Clock::now();
    while (!work.done && ElapsedMs(start) < 5000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(work.done);
    CloseHandle(work.go);
}

TEST_F(ThreadTest, RefusesNoRoutineAndFlagsItDoesNotModel) {
    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    const DWORD createSuspended = 0x4;
    EXPECT_EQ(CreateThread(nullptr, 0, WaitThenMarkDone, nullptr, createSuspended, nullptr),
              nullptr);
    EXPECT_EQ(standin::OpenHandleCount(), 0);
}

using HungWaitTest = KernelTest;

// Only the next multiple-object wait hangs, until released or until a reset; either way it
// goes on as a normal wait (after a reset, on a handle that the reset has forgotten).
TEST_F(HungWaitTest, NextMultipleWaitHangsUntilReleasedOrReset) {
    for (bool byReset : {false, true}) {
        HANDLE stop = CreateEventA(nullptr, TRUE, TRUE, nullptr);
        standin::HangNextMultipleWait();
        EXPECT_EQ(WaitForSingleObject(stop, 0), WAIT_OBJECT_0);  // not the one that hangs

        std::atomic<DWORD> result{WAIT_TIMEOUT};
        std::atomic<bool> returned{false};
        std::thread waiter([&] {
            result = WaitForMultipleObjects(1, &stop, FALSE, byReset ? INFINITE : 0);
            returned = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(returned.load());
        if (byReset) {
            standin::Reset();
        } else {
            standin::ReleaseHungWaits();
        }
        waiter.join();
        EXPECT_EQ(result.load(), byReset ? WAIT_FAILED : WAIT_OBJECT_0);
        if (!byReset) {
            EXPECT_EQ(WaitForMultipleObjects(1, &stop, FALSE, 0), WAIT_OBJECT_0);
            CloseHandle(stop);
        }
    }
}

}  // namespace
