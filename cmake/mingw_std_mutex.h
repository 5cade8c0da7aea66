// Forced into the simulated board's sources of the demo build (cmake/windows.cmake) and into
// GoogleTest and the tests of the Windows build (cmake/windows_tests.cmake); never into kelm.exe.
//
// Debian's MinGW-w64 cross compiler uses the "win32" thread model, whose libstdc++ has neither
// std::mutex nor std::condition_variable nor std::thread. The board needs a plain mutex under
// std::lock_guard; GoogleTest's Windows port needs both (for a notification that only its own
// tests use); kelmtool's --all a thread for each board, started and joined. This supplies them on
// a slim reader/writer lock, a condition variable and a thread of Windows. Compilers with a
// complete <mutex> (MSVC, the "posix" thread model) see nothing of it.
#pragma once

#include <cstddef>  // the library's configuration macros

#if defined(__MINGW32__) && defined(__GLIBCXX__) && !defined(_GLIBCXX_HAS_GTHREADS)

#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <utility>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace std {

class mutex {
  public:
    mutex() noexcept = default;
    mutex(const mutex&) = delete;
    mutex& operator=(const mutex&) = delete;

    void lock() { AcquireSRWLockExclusive(&lock_); }
    bool try_lock() { return TryAcquireSRWLockExclusive(&lock_) != 0; }
    void unlock() { ReleaseSRWLockExclusive(&lock_); }
    SRWLOCK* native_handle() { return &lock_; }

  private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};

class condition_variable {
  public:
    condition_variable() noexcept = default;
    condition_variable(const condition_variable&) = delete;
    condition_variable& operator=(const condition_variable&) = delete;

    void notify_one() noexcept { WakeConditionVariable(&condition_); }
    void notify_all() noexcept { WakeAllConditionVariable(&condition_); }
    void wait(unique_lock<mutex>& lock) {
        // INFINITE never times out, so the result tells nothing.
        static_cast<void>(
            SleepConditionVariableSRW(&condition_, lock.mutex()->native_handle(), INFINITE, 0));
    }
    template <typename Predicate>
    void wait(unique_lock<mutex>& lock, Predicate ready) {
        while (!ready()) wait(lock);
    }

  private:
    CONDITION_VARIABLE condition_ = CONDITION_VARIABLE_INIT;
};

// Only what kelmtool uses: a callable without arguments, joinable, join.
class thread {
  public:
    thread() noexcept = default;
    template <typename Function>
    explicit thread(Function function) {
        auto work = std::make_unique<std::function<void()>>(std::move(function));
        handle_ = CreateThread(nullptr, 0, Run, work.get(), 0, nullptr);
        if (handle_ == nullptr) {
            throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                    "CreateThread");
        }
        static_cast<void>(work.release());  // the thread owns it now
    }
    thread(const thread&) = delete;
    thread& operator=(const thread&) = delete;
    thread(thread&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    thread& operator=(thread&& other) noexcept {
        if (joinable()) std::terminate();
        handle_ = std::exchange(other.handle_, nullptr);
        return *this;
    }
    // As std::thread: a thread neither joined nor detached ends the program.
    ~thread() {
        if (joinable()) std::terminate();
    }
    bool joinable() const noexcept { return handle_ != nullptr; }
    void join() {
        if (WaitForSingleObject(handle_, INFINITE) != WAIT_OBJECT_0) {
            throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                    "WaitForSingleObject");
        }
        static_cast<void>(CloseHandle(handle_));
        handle_ = nullptr;
    }

  private:
    static DWORD WINAPI Run(void* work) {
        const std::unique_ptr<std::function<void()>> owned(
            static_cast<std::function<void()>*>(work));
        (*owned)();
        return 0;
    }
    HANDLE handle_ = nullptr;
};

}  // namespace std

#endif
