// The board's lock on Windows: a board attached is held through a mutex named after its device
// path, the simulated one through a lock on its flash file. Both end with the process at the
// latest: a mutex whose owner died is handed on as abandoned, a file's locks go with its handle.
#include <windows.h>

#include <string>

#include "board_lock.h"
#include "system_error_win32.h"

namespace {

// Local: the boards of this session's programs.
constexpr char kMutexPrefix[] = "Local\\kelmtool-board-";
// The byte locked lies far beyond a flash file's end: Windows' locks keep other handles from the
// bytes they cover, and the flash file's own handle must still read and write all 2 MB.
constexpr DWORD kLockOffsetLow = 0xFFFFFFFE;
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;
constexpr DWORD kLockLength = 1;

std::string Problem(const char* what, const std::string& path, DWORD error) {
    return std::string(what) + " " + path + ": " + SystemMessage(error);
}

OVERLAPPED LockRange() {
    OVERLAPPED range = {};
    range.Offset = kLockOffsetLow;
    range.OffsetHigh = kLockOffsetHigh;
    return range;
}

}  // namespace

LockTake BoardLock::TakeFile(const std::string& path) {
    Release();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        problem_ = Problem("cannot open", path, error);
        return error == ERROR_FILE_NOT_FOUND ? LockTake::Absent : LockTake::Failed;
    }
    OVERLAPPED range = LockRange();
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, kLockLength, 0,
                   &range)) {
        handle_ = file;
        fileLocked_ = true;
        return LockTake::Held;
    }
    const DWORD error = GetLastError();
    if (!CloseHandle(file)) {
        // Nothing more can be done: the handle is given up either way.
    }
    if (error == ERROR_LOCK_VIOLATION) return LockTake::InUse;
    problem_ = Problem("cannot lock", path, error);
    return LockTake::Failed;
}

LockTake BoardLock::TakeDevice(const std::string& path) {
    Release();
    const std::string name = kMutexPrefix + LockKey(path);
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
    if (mutex == nullptr) {
        problem_ = Problem("cannot create the lock of", path, GetLastError());
        return LockTake::Failed;
    }
    // An abandoned mutex was held by a run that ended without letting go: the board is free.
    const DWORD waited = WaitForSingleObject(mutex, 0);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        handle_ = mutex;
        fileLocked_ = false;
        return LockTake::Held;
    }
    const DWORD error = GetLastError();
    if (!CloseHandle(mutex)) {
        // Nothing more can be done: the handle is given up either way.
    }
    if (waited == WAIT_TIMEOUT) return LockTake::InUse;
    problem_ = Problem("cannot take the lock of", path, error);
    return LockTake::Failed;
}

void BoardLock::Release() {
    if (handle_ == nullptr) return;
    // Given up in any case when the handle closes; letting go first hands the board on at once.
    if (fileLocked_) {
        OVERLAPPED range = LockRange();
        if (!UnlockFileEx(handle_, 0, kLockLength, 0, &range)) {
            // Closing the handle below unlocks the range as well.
        }
    } else if (!ReleaseMutex(handle_)) {
        // Closing the last handle below ends the mutex as well.
    }
    if (!CloseHandle(handle_)) {
        // Nothing more can be done: the handle is given up either way.
    }
    handle_ = nullptr;
}
