// Events, threads and the waits on them.
#include <windows.h>

#include <chrono>
#include <system_error>

#include "win32/src/kernel_objects.h"

namespace standin {
namespace detail {

namespace {

struct WaitState {
    bool hangNext = false;        // the next WaitForMultipleObjects hangs
    uint64_t hangGeneration = 0;  // moves on when hung waits are released
    DWORD nextThreadId = 0x1000;
    int running = 0;  // threads whose routine has not ended; Reset leaves it alone
};

// Set on the threads that CreateThread starts.
thread_local bool standinThread = false;

// Written by any thread, under KernelMutex.
WaitState& Waits() {
    static WaitState* waits = new WaitState();
    return *waits;
}

bool IsWaitable(const KernelObject& object) {
    return object.kind == ObjectKind::Event || object.kind == ObjectKind::Thread;
}

bool IsSignalled(const KernelObject& object) {
    if (object.kind == ObjectKind::Event) {
        return static_cast<const EventObject&>(object).signalled;
    }
    return static_cast<const ThreadObject&>(object).ended;
}

// A satisfied wait resets an auto-reset event; nothing else changes state.
void Acquire(KernelObject& object) {
    if (object.kind == ObjectKind::Event) {
        EventObject& event = static_cast<EventObject&>(object);
        if (!event.manualReset) {
            event.signalled = false;
        }
    }
}

DWORD WaitForObjects(DWORD count, const HANDLE* handles, bool waitAll, DWORD milliseconds,
                     bool mayHang) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::unique_lock<std::mutex> lock(KernelMutex());
    if (mayHang && Waits().hangNext) {
        // A thread that never comes back, until the test lets it go.
        Waits().hangNext = false;
        const uint64_t generation = Waits().hangGeneration;
        KernelChanged().wait(lock, [generation] { return Waits().hangGeneration != generation; });
    }
    std::vector<std::shared_ptr<KernelObject>> objects;
    for (DWORD i = 0; i < count; ++i) {
        std::shared_ptr<KernelObject> object = FindObject(handles[i]);
        if (!object || !IsWaitable(*object)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        objects.push_back(std::move(object));
    }

    using Clock = std::chrono::steady_clock;
    const bool infinite = milliseconds == INFINITE;
    const auto scaled = std::chrono::duration<double, std::milli>(milliseconds * WaitScale());
    const Clock::time_point deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(scaled);
    for (;;) {
        // Also for reads cancelled while this wait goes on.
        for (const auto& object : objects) {
            HurryReadsSetting(*object);
        }
        if (waitAll) {
            bool all = true;
            for (const auto& object : objects) {
                all = all && IsSignalled(*object);
            }
            if (all) {
                for (const auto& object : objects) {
                    Acquire(*object);
                }
                return WAIT_OBJECT_0;
            }
        } else {
            for (DWORD i = 0; i < count; ++i) {
                if (IsSignalled(*objects[i])) {
                    Acquire(*objects[i]);
                    return WAIT_OBJECT_0 + i;
                }
            }
        }
        if (infinite) {
            KernelChanged().wait(lock);
        } else if (Clock::now() >= deadline) {
            return WAIT_TIMEOUT;
        } else {
            KernelChanged().wait_until(lock, deadline);
        }
    }
}

}  // namespace

bool OnStandinThread() { return standinThread; }

void ResetWaitsLocked() {
    Waits().hangNext = false;
    ++Waits().hangGeneration;
    KernelChanged().notify_all();
}

}  // namespace detail

void HangNextMultipleWait() {
    std::lock_guard<std::mutex> lock(detail::KernelMutex());
    detail::Waits().hangNext = true;
}

int RunningThreads() {
    std::lock_guard<std::mutex> lock(detail::KernelMutex());
    return detail::Waits().running;
}

void ReleaseHungWaits() {
    std::lock_guard<std::mutex> lock(detail::KernelMutex());
    // A hang asked for but not yet reached is called off as well.
    detail::Waits().hangNext = false;
    ++detail::Waits().hangGeneration;
    detail::KernelChanged().notify_all();
}

}  // namespace standin

extern "C" {

// A name would share the event with other processes; there are none here, so it is ignored.
HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR) {
    using namespace standin::detail;
    std::lock_guard<std::mutex> lock(KernelMutex());
    SetLastError(ERROR_SUCCESS);
    return AddObject(std::make_shared<EventObject>(manualReset != FALSE, initialState != FALSE));
}

BOOL WINAPI SetEvent(HANDLE event) {
    using namespace standin::detail;
    std::lock_guard<std::mutex> lock(KernelMutex());
    std::shared_ptr<EventObject> found = FindObjectOf<EventObject>(event, ObjectKind::Event);
    if (!found) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    SignalEvent(*found);
    return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE event) {
    using namespace standin::detail;
    std::lock_guard<std::mutex> lock(KernelMutex());
    std::shared_ptr<EventObject> found = FindObjectOf<EventObject>(event, ObjectKind::Event);
    if (!found) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    found->signalled = false;
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    return standin::detail::WaitForObjects(1, &object, false, milliseconds, false);
}

DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll,
                                    DWORD milliseconds) {
    return standin::detail::WaitForObjects(count, objects, waitAll != FALSE, milliseconds, true);
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, size_t, LPTHREAD_START_ROUTINE start,
                           LPVOID parameter, DWORD flags, LPDWORD threadId) {
    using namespace standin::detail;
    // Suspended creation and the other flags are not modelled; the program passes 0.
    if (start == nullptr || flags != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto thread = std::make_shared<ThreadObject>();
    HANDLE handle = nullptr;
    DWORD id = 0;
    {
        std::lock_guard<std::mutex> lock(KernelMutex());
        handle = AddObject(thread);
        id = Waits().nextThreadId;
        Waits().nextThreadId += 4;
        ++Waits().running;
    }
    try {
        std::thread([thread, start, parameter] {
            standinThread = true;
            const DWORD exitCode = start(parameter);
            // Its reads end before the thread does, as on Windows.
            EndThreadIo();
            std::lock_guard<std::mutex> lock(KernelMutex());
            thread->exitCode = exitCode;
            thread->ended = true;
            --Waits().running;
            KernelChanged().notify_all();
        }).detach();
    } catch (const std::system_error&) {
        std::lock_guard<std::mutex> lock(KernelMutex());
        --Waits().running;
        RemoveObject(handle);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (threadId != nullptr) {
        *threadId = id;
    }
    return handle;
}

BOOL WINAPI GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
    using namespace standin::detail;
    std::lock_guard<std::mutex> lock(KernelMutex());
    std::shared_ptr<ThreadObject> found = FindObjectOf<ThreadObject>(thread, ObjectKind::Thread);
    if (!found) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (exitCode == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *exitCode = found->exitCode;
    return TRUE;
}

}  // extern "C"
