// A backup or dump under construction, renamed into place only when complete.
#include "output_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#include "exclusive_file.h"

namespace {

// The temporary's name stays short whatever the target's, which may itself be as long as a
// name can be; hidden, and random so that nobody can have a name waiting for it.
constexpr char kTemporaryPrefix[] = ".kelmtool-";
constexpr char kTemporarySuffix[] = ".part";
constexpr int kTemporaryDigits = 8;  // hexadecimal, the 32 bits of one random number
// A name taken this many times in a row is no accident: the folder is not one to use.
constexpr int kTemporaryTries = 16;

std::string TemporaryName(uint32_t random) {
    char digits[kTemporaryDigits + 1];
    std::snprintf(digits, sizeof digits, "%0*x", kTemporaryDigits, static_cast<unsigned>(random));
    return std::string(kTemporaryPrefix) + digits + kTemporarySuffix;
}

}  // namespace

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
    if (!kept_ && !temporary_.empty()) {
        // Best effort: a temporary file that cannot be removed is only clutter, never taken
        // for the finished file.
        std::error_code ignored;
        static_cast<void>(std::filesystem::remove(temporary_, ignored));
    }
}

Outcome OutputFile::Open(const std::string& target, bool force) {
    target_ = target;
    force_ = force;
    const std::filesystem::path folder = std::filesystem::path(target).parent_path();
    std::random_device random;
    std::error_code error;
    for (int attempt = 0; attempt < kTemporaryTries; ++attempt) {
        const std::string name = (folder / TemporaryName(random())).string();
        error = CreateExclusive(name, file_);
        if (!error) {
            temporary_ = name;
            return {};
        }
        if (error != std::errc::file_exists) break;
    }
    const std::string where = folder.empty() ? std::string("the current folder") : folder.string();
    return Outcome::Fail(ExitCode::BadInput,
                         "cannot create a file in " + where + ": " + error.message());
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
    const std::error_code error = MoveOnto(temporary_, target_, force_);
    // Renamed, or complete data that a failed rename must not lose: either way it stays.
    kept_ = true;
    if (!error) return {};
    if (error == std::errc::file_exists) {
        return Outcome::Fail(ExitCode::Failed, target_ +
                                                   " appeared during the run: the data is "
                                                   "kept in " +
                                                   temporary_);
    }
    return Outcome::Fail(ExitCode::Failed, "cannot rename " + temporary_ + " to " + target_ + ": " +
                                               error.message() + "; the data is kept in " +
                                               temporary_);
}
