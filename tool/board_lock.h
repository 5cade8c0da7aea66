// A run's hold on its board, from open until its link is gone: two runs on one board would mix
// their reports (an erase in the middle of another run's write, which then reads back what it
// wrote before the erase). The system keeps the lock, so a run that ends in any way, a crash
// too, lets go of it. Each platform's source defines the members.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

constexpr char kBoardInUseText[] = "the board is in use by another kelmtool";

enum class LockTake {
    Held,    // the board is this run's until the lock is released
    InUse,   // another run holds it
    Absent,  // nothing is at the path to lock (a flash file not created yet); problem() says so
    Failed,  // problem() says why
};

class BoardLock {
  public:
    BoardLock() = default;
    ~BoardLock() { Release(); }
    BoardLock(const BoardLock&) = delete;
    BoardLock& operator=(const BoardLock&) = delete;

    // The simulated board whose flash is the file at path. The lock belongs to the file, so
    // that a link to it or another spelling of its path meets the same lock.
    LockTake TakeFile(const std::string& path);
    // The real board at a device path that enumeration listed.
    LockTake TakeDevice(const std::string& path);
    // Lets go of the board, if held.
    void Release();
    const std::string& problem() const { return problem_; }

  private:
#ifdef _WIN32
    void* handle_ = nullptr;  // a mutex of the device, or the flash file's handle
    bool fileLocked_ = false;
#else
    int fd_ = -1;
#endif
    std::string problem_;
};

// A fixed-length name for a device path, for platforms whose locks are named (Windows' mutexes,
// macOS' lock files): FNV-1a over the path's bytes, as 16 hex digits.
inline std::string LockKey(const std::string& path) {
    constexpr uint64_t kFnvOffset = 14695981039346656037ull;
    constexpr uint64_t kFnvPrime = 1099511628211ull;
    uint64_t hash = kFnvOffset;
    for (const char c : path) {
        hash ^= static_cast<unsigned char>(c);
        hash *= kFnvPrime;
    }
    char text[17] = {};
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}
