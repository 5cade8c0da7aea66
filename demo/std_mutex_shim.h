// Forced into the simulated board's sources by the demo build only.
//
// Debian's MinGW-w64 cross compiler uses the "win32" thread model, whose libstdc++ has no
// std::mutex. The board needs nothing more than a plain mutex under std::lock_guard (which that
// libstdc++ does have), so the demo build supplies one on a slim reader/writer lock. Compilers
// with a complete <mutex> (MSVC, the "posix" thread model) see nothing of this.
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

  private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};

}  // namespace std

#endif
