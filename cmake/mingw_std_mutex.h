// Forced into the simulated board's sources of the demo build (cmake/windows.cmake) and into
// GoogleTest and the tests of the Windows build (cmake/windows_tests.cmake); never into kelm.exe.
//
// Debian's MinGW-w64 cross compiler uses the "win32" thread model, whose libstdc++ has neither
// std::mutex nor std::condition_variable. The board needs a plain mutex under std::lock_guard;
// GoogleTest's Windows port needs both (for a notification that only its own tests use). This
// supplies them on a slim reader/writer lock and a condition variable of Windows. Compilers with
// a complete <mutex> (MSVC, the "posix" thread model) see nothing of it.
#pragma once

#include <cstddef>  // the library's configuration macros

#if defined(__MINGW32__) && defined(__GLIBCXX__) && !defined(_GLIBCXX_HAS_GTHREADS)

#include <mutex>

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

}  // namespace std

#endif
