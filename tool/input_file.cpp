// Opening a regular file to read an image or a dump from.
#include "input_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

Outcome Refuse(const std::string& message) { return Outcome::Fail(ExitCode::BadInput, message); }

std::string Why(const std::string& path) {
    return "cannot open " + path + ": " + std::strerror(errno);
}

}  // namespace

Outcome OpenRegularFile(const std::string& path, ReadOnlyFile& file, uint64_t& size) {
#ifdef _WIN32
    // Windows has no FIFO that an open would wait on; its device names fail the fstat check.
    const int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) return Refuse(Why(path));
    struct _stat64 status = {};
    const bool measured = _fstat64(fd, &status) == 0;
    const bool regular = measured && (status.st_mode & _S_IFMT) == _S_IFREG;
#else
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return Refuse(Why(path));
    struct stat status = {};
    const bool measured = ::fstat(fd, &status) == 0;
    const bool regular = measured && S_ISREG(status.st_mode);
    // Reads of a regular file never wait, but the descriptor is made an ordinary one again.
    const int flags = regular ? ::fcntl(fd, F_GETFL) : -1;
    const bool blocking = flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
#endif
    std::string problem;
    if (!measured) {
        problem = "cannot measure " + path + ": " + std::strerror(errno);
    } else if ((status.st_mode & S_IFMT) == S_IFDIR) {
        problem = path + " is a folder";
    } else if (!regular) {
        problem = path + " is no regular file";
#ifndef _WIN32
    } else if (!blocking) {
        problem = Why(path);
#endif
    } else {
#ifdef _WIN32
        std::FILE* stream = _fdopen(fd, "rb");
#else
        std::FILE* stream = fdopen(fd, "rb");
#endif
        if (stream != nullptr) {
            file.reset(stream);
            size = static_cast<uint64_t>(status.st_size);
            return {};
        }
        problem = Why(path);
    }
    // Nothing was read through it: a failed close loses nothing.
#ifdef _WIN32
    static_cast<void>(_close(fd));
#else
    static_cast<void>(::close(fd));
#endif
    return Refuse(problem);
}
