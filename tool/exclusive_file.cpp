// Exclusive creation and renames that never replace by surprise, on POSIX and on Win32.
#include "exclusive_file.h"

#ifdef _WIN32
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdint>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#if defined(__linux__) && !defined(RENAME_NOREPLACE)
#include <linux/fs.h>
#include <sys/syscall.h>
#endif
#endif

namespace {

#ifdef _WIN32

std::error_code LastError() {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) {
        return std::make_error_code(std::errc::file_exists);
    }
    return std::error_code(static_cast<int>(code), std::system_category());
}

#else

// Read and write for everyone the umask lets, as fopen creates files.
constexpr mode_t kNewFileMode = 0666;

std::error_code LastError() { return std::error_code(errno, std::generic_category()); }

#ifdef __linux__
// 0, or -1 with errno. glibc has the wrapper only since 2.28; the system call is older.
int RenameNoReplace(const char* from, const char* to) {
#ifdef RENAME_NOREPLACE
    return renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
#else
    return static_cast<int>(syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE));
#endif
}
#endif

#endif

}  // namespace

#ifdef _WIN32

std::error_code CreateExclusive(const std::string& path, std::FILE*& file) {
    file = nullptr;
    // CREATE_NEW fails on any name that is taken, a link's included, and follows none.
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return LastError();
    std::error_code error;
    // From here the descriptor owns the handle, and the stream the descriptor.
    const int descriptor =
        _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (descriptor >= 0) file = _fdopen(descriptor, "wb");
    if (file == nullptr) {
        error = std::error_code(errno, std::generic_category());
        // The file is new and its name known to nobody else: it goes. There is nothing more to
        // do if that fails.
        if (descriptor >= 0) {
            static_cast<void>(_close(descriptor));
        } else {
            static_cast<void>(CloseHandle(handle));
        }
        static_cast<void>(DeleteFileA(path.c_str()));
    }
    return error;
}

std::error_code MoveOnto(const std::string& from, const std::string& to, bool replace) {
    const DWORD flags = replace ? MOVEFILE_REPLACE_EXISTING : 0;
    if (MoveFileExA(from.c_str(), to.c_str(), flags)) return {};
    return LastError();
}

#else

std::error_code CreateExclusive(const std::string& path, std::FILE*& file) {
    file = nullptr;
    const int descriptor =
        open(path.c_str(), O_CREAT | O_EXCL | O_NOFOLLOW | O_WRONLY | O_CLOEXEC, kNewFileMode);
    if (descriptor < 0) return LastError();
    file = fdopen(descriptor, "wb");
    if (file != nullptr) return {};
    const std::error_code error = LastError();
    // The file is new and its name known to nobody else: it goes. There is nothing more to do if
    // that fails.
    static_cast<void>(close(descriptor));
    static_cast<void>(unlink(path.c_str()));
    return error;
}

std::error_code MoveOnto(const std::string& from, const std::string& to, bool replace) {
    if (replace) return rename(from.c_str(), to.c_str()) == 0 ? std::error_code() : LastError();
#ifdef __linux__
    if (RenameNoReplace(from.c_str(), to.c_str()) == 0) return {};
    // Other errors are the rename's own; these two say only that it cannot refuse to replace
    // (an older kernel, a file system without the flag).
    if (errno != EINVAL && errno != ENOSYS) return LastError();
#endif
    // A second name, which link never lets replace anything, then the first one removed.
    if (link(from.c_str(), to.c_str()) != 0) return LastError();
    // The data is complete under to: a first name left behind is clutter, not a failed run.
    static_cast<void>(unlink(from.c_str()));
    return {};
}

#endif
