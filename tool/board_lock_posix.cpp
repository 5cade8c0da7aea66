// The board's lock on Linux and macOS: flock on a descriptor of the board's own file, held while
// the descriptor is open. flock belongs to the open file, not the process, so a second open in the
// same run would meet it too.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "board_lock.h"

namespace {

// Non-blocking: a FIFO or a device given as the flash file must not stall the open.
constexpr int kLockOpenFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
// Only a lock file of its own is created; the mode is not looked at otherwise.
constexpr mode_t kLockFileMode = 0600;
#ifdef __APPLE__
constexpr int kLockFileFlags = O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY;
constexpr char kLockFilePrefix[] = "kelmtool-board-";
#endif

LockTake Lock(const char* path, int flags, int& fd, std::string& problem) {
    fd = ::open(path, flags, kLockFileMode);
    if (fd < 0) {
        const int error = errno;
        problem = std::string("cannot open ") + path + " to lock it: " + std::strerror(error);
        return error == ENOENT ? LockTake::Absent : LockTake::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return LockTake::Held;
    const int error = errno;
    static_cast<void>(::close(fd));
    fd = -1;
    if (error == EWOULDBLOCK) return LockTake::InUse;
    problem = std::string("cannot lock ") + path + ": " + std::strerror(error);
    return LockTake::Failed;
}

}  // namespace

LockTake BoardLock::TakeFile(const std::string& path) {
    Release();
    return Lock(path.c_str(), kLockOpenFlags, fd_, problem_);
}

LockTake BoardLock::TakeDevice(const std::string& path) {
    Release();
#ifdef __APPLE__
    // hidapi's paths on macOS name IOService entries, no files: the lock is a file of the temp
    // folder named after the path.
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    if (error) {
        problem_ = "no temp folder for the board's lock: " + error.message();
        return LockTake::Failed;
    }
    const std::string lockPath = (folder / (kLockFilePrefix + LockKey(path))).string();
    return Lock(lockPath.c_str(), kLockFileFlags, fd_, problem_);
#else
    // hidapi's hidraw paths are the device nodes themselves.
    return Lock(path.c_str(), kLockOpenFlags, fd_, problem_);
#endif
}

void BoardLock::Release() {
    if (fd_ < 0) return;
    // Closing the only descriptor of this open lets go of the lock, whatever close says.
    static_cast<void>(::close(fd_));
    fd_ = -1;
}
