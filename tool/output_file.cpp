// A backup or dump under construction, renamed into place only when complete.
#include "output_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#define KELM_GETPID _getpid
#else
#include <unistd.h>
#define KELM_GETPID getpid
#endif

Outcome CheckOutputTarget(const std::string& target, bool force) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(target, error);
    if (std::filesystem::is_directory(status)) {
        return Outcome::Fail(ExitCode::BadInput, target + " is a folder");
    }
    if (std::filesystem::exists(status) && !force) {
        return Outcome::Fail(ExitCode::BadInput,
                             target + " exists already: give --force to replace it");
    }
    return {};
}

OutputFile::~OutputFile() {
    if (file_ != nullptr) static_cast<void>(std::fclose(file_));
    if (!committed_ && !temporary_.empty()) {
        // Best effort: a temporary file that cannot be removed is only clutter, never taken
        // for the finished file.
        std::error_code ignored;
        static_cast<void>(std::filesystem::remove(temporary_, ignored));
    }
}

Outcome OutputFile::Open(const std::string& target) {
    target_ = target;
    temporary_ = target + ".kelmtool-" + std::to_string(KELM_GETPID()) + ".part";
    file_ = std::fopen(temporary_.c_str(), "wb");
    if (file_ == nullptr) {
        const std::string why = std::strerror(errno);
        temporary_.clear();
        return Outcome::Fail(ExitCode::Failed,
                             "cannot create a file beside " + target + ": " + why);
    }
    return {};
}

Outcome OutputFile::Append(const uint8_t* bytes, uint32_t count) {
    if (std::fwrite(bytes, 1, count, file_) == count) return {};
    return Outcome::Fail(ExitCode::Failed,
                         "cannot write " + temporary_ + ": " + std::strerror(errno));
}

Outcome OutputFile::Commit() {
    std::FILE* file = file_;
    file_ = nullptr;
    const bool flushed = std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    if (!flushed || !closed) {
        return Outcome::Fail(ExitCode::Failed,
                             "cannot write " + temporary_ + ": " + std::strerror(errno));
    }
    std::error_code error;
    std::filesystem::rename(temporary_, target_, error);
    if (error) {
        return Outcome::Fail(ExitCode::Failed, "cannot rename " + temporary_ + " to " + target_ +
                                                   ": " + error.message());
    }
    committed_ = true;
    return {};
}
