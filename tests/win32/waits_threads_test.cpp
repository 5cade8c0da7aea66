// Events, threads and the waits on them.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>

#include "win32/kernel_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

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
    std::fill(std::begin(many), std::end(many), event);
    const HANDLE withClosed[2] = {event, closed};
    const std::tuple<const char*, DWORD, const HANDLE*, long> cases[] = {
        {"no objects", 0, many, ERROR_INVALID_PARAMETER},
        {"too many objects", MAXIMUM_WAIT_OBJECTS + 1, many, ERROR_INVALID_PARAMETER},
        {"null array", 1, nullptr, ERROR_INVALID_PARAMETER},
        // A closed handle fails the wait even when an earlier object is signalled.
        {"closed handle", 2, withClosed, ERROR_INVALID_HANDLE},
    };
    for (const auto& [name, count, handles, error] : cases) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(WaitForMultipleObjects(count, handles, FALSE, 0), WAIT_FAILED) << name;
        EXPECT_EQ(LastError(), error) << name;
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
    EXPECT_GE(Clock::now() - start, milliseconds(29));
    EXPECT_LT(Clock::now() - start, milliseconds(1500));

    standin::SetWaitScale(0.0);
    std::thread setter([event] {
        std::this_thread::sleep_for(milliseconds(30));
        SetEvent(event);
    });
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
    setter.join();
    CloseHandle(event);
}

using ThreadTest = KernelTest;

struct Work {
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> done{0};
};

DWORD WINAPI WaitThenMarkDone(LPVOID parameter) {
    Work* work = static_cast<Work*>(parameter);
    WaitForSingleObject(work->go, INFINITE);
    ++work->done;
    return 42;
}

// A second thread, whose handle is closed at once, runs to its end all the same.
TEST_F(ThreadTest, HandleSignalledAtTheEndKeepsTheExitCodeUntilClosedClosingItStopsNothing) {
    Work work;
    ASSERT_TRUE(CloseHandle(CreateThread(nullptr, 0, WaitThenMarkDone, &work, 0, nullptr)));
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
    const Clock::time_point start = Clock::now();
    while (work.done < 2 && Clock::now() - start < std::chrono::seconds(5)) {
        std::this_thread::sleep_for(milliseconds(1));
    }
    EXPECT_EQ(work.done, 2);
    CloseHandle(work.go);
}

TEST_F(ThreadTest, RefusesNoRoutineAndFlagsItDoesNotModel) {
    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
    EXPECT_EQ(LastError(), ERROR_INVALID_PARAMETER);
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
        std::this_thread::sleep_for(milliseconds(50));
        EXPECT_FALSE(returned.load());
        byReset ? standin::Reset() : standin::ReleaseHungWaits();
        waiter.join();
        EXPECT_EQ(result.load(), byReset ? WAIT_FAILED : WAIT_OBJECT_0);
        if (!byReset) {
            EXPECT_EQ(WaitForMultipleObjects(1, &stop, FALSE, 0), WAIT_OBJECT_0);
            CloseHandle(stop);
        }
    }
}

}  // namespace
