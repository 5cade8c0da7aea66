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

TEST_F(EventTest, ManualResetStaysSignalledUntilReset) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    ASSERT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    ASSERT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST_F(EventTest, AutoResetReleasesOneWaitOnly) {
    HANDLE event = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST_F(EventTest, SetFromAnotherThreadWakesAnInfiniteWait) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread setter([event] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        SetEvent(event);
    });
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
    setter.join();
    CloseHandle(event);
}

using MultipleWaitTest = KernelTest;

TEST_F(MultipleWaitTest, LowestSignalledIndexWinsAndOnlyItIsConsumed) {
    HANDLE events[3];
    for (HANDLE& event : events) {
        event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    SetEvent(events[2]);
    SetEvent(events[1]);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_TIMEOUT);
    for (HANDLE event : events) {
        CloseHandle(event);
    }
}

TEST_F(MultipleWaitTest, WaitAllNeedsEveryObjectAndConsumesThemAll) {
    HANDLE events[2] = {CreateEventA(nullptr, FALSE, TRUE, nullptr),
                        CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, 0), WAIT_TIMEOUT);
    // The failed wait-all took nothing.
    SetEvent(events[1]);
    EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(2, events, FALSE, 0), WAIT_TIMEOUT);
    CloseHandle(events[0]);
    CloseHandle(events[1]);
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

TEST_F(TimeoutTest, TimedWaitLastsItsTimeScaled) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    standin::SetWaitScale(0.01);  // 3000 ms become 30 ms
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(WaitForSingleObject(event, 3000), WAIT_TIMEOUT);
    const long elapsed = ElapsedMs(start);
    EXPECT_GE(elapsed, 29);
    EXPECT_LT(elapsed, 1500);
    CloseHandle(event);
}

TEST_F(TimeoutTest, InfiniteIsNotScaledToATimeout) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    standin::SetWaitScale(0.0);
    std::thread setter([event] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        SetEvent(event);
    });
    EXPECT_EQ(WaitForMultipleObjects(1, &event, FALSE, INFINITE), WAIT_OBJECT_0);
    setter.join();
    CloseHandle(event);
}

using ThreadTest = KernelTest;

DWORD WINAPI ReturnParameter(LPVOID parameter) {
    return static_cast<DWORD>(reinterpret_cast<uintptr_t>(parameter));
}

TEST_F(ThreadTest, HandleIsSignalledWhenTheThreadEndsAndStaysValidUntilClosed) {
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, ReturnParameter,
                                 reinterpret_cast<LPVOID>(static_cast<uintptr_t>(42)), 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    // Ended long ago, still there: signalled, with its exit code.
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_EQ(standin::OpenHandleCount(), 1);
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_FALSE(GetExitCodeThread(thread, &code));
}

struct Work {
    HANDLE go = nullptr;
    std::atomic<bool> done{false};
};

DWORD WINAPI WaitThenMarkDone(LPVOID parameter) {
    Work* work = static_cast<Work*>(parameter);
    WaitForSingleObject(work->go, INFINITE);
    work->done = true;
    return 7;
}

TEST_F(ThreadTest, ClosingTheHandleDoesNotStopTheThread) {
    Work work;
    work.go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, WaitThenMarkDone, &work, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);

    EXPECT_TRUE(CloseHandle(thread));
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
    EXPECT_EQ(CreateThread(nullptr, 0, ReturnParameter, nullptr, createSuspended, nullptr),
              nullptr);
    EXPECT_EQ(standin::OpenHandleCount(), 0);
}

using HungWaitTest = KernelTest;

TEST_F(HungWaitTest, NextMultipleWaitHangsUntilReleasedThenWaitsNormally) {
    HANDLE stop = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    standin::HangNextMultipleWait();
    // A single-object wait is not the one that hangs.
    EXPECT_EQ(WaitForSingleObject(stop, 0), WAIT_OBJECT_0);

    std::atomic<DWORD> result{WAIT_FAILED};
    std::atomic<bool> returned{false};
    std::thread waiter([&] {
        result = WaitForMultipleObjects(1, &stop, FALSE, 0);
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned.load());
    standin::ReleaseHungWaits();
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_OBJECT_0);
    // Only the next wait hangs.
    EXPECT_EQ(WaitForMultipleObjects(1, &stop, FALSE, 0), WAIT_OBJECT_0);
    CloseHandle(stop);
}

TEST_F(HungWaitTest, ResetReleasesTheHungWait) {
    HANDLE stop = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    standin::HangNextMultipleWait();
    std::atomic<DWORD> result{WAIT_OBJECT_0};
    std::thread waiter([&] { result = WaitForMultipleObjects(1, &stop, FALSE, INFINITE); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    standin::Reset();
    waiter.join();
    // It goes on as a normal wait, on a handle that the reset has forgotten.
    EXPECT_EQ(result.load(), WAIT_FAILED);
}

}  // namespace
