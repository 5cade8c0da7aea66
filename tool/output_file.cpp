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

// Whether two names reach one file: by device and inode, or, for a --sim file not created yet,
// by their spelling once made absolute and rid of links, . and ..
bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    if (std::filesystem::equivalent(a, b, error)) return true;
    const auto resolved = [&error](const std::string& name) {
        const std::filesystem::path absolute = std::filesystem::absolute(name, error);
        return error ? absolute : std::filesystem::weakly_canonical(absolute, error);
    };
    const std::filesystem::path left = resolved(a);
    if (error) return false;
    const std::filesystem::path right = resolved(b);
    return !error && left == right;
}

}  // namespace

Outcome CheckOutputTarget(const std::string& target, bool force,
                          const std::vector<std::string>& simFiles) {
    if (target.empty()) return Outcome::Fail(ExitCode::BadInput, "the output file's name is empty");
    std::error_code error;
    // A link is judged as itself: it is what a rename would replace.
    const std::filesystem::file_status status = std::filesystem::symlink_status(target, error);
    const bool exists = std::filesystem::exists(status);
    if (std::filesystem::is_directory(status)) {
        return Outcome::Fail(ExitCode::BadInput, target + " is a folder");
    }
    if (exists && !std::filesystem::is_regular_file(status) &&
        !std::filesystem::is_symlink(status)) {
        return Outcome::Fail(ExitCode::BadInput,
                             target +
                                 " is a device, pipe or socket: only a file or a link is "
                                 "replaced");
    }
    for (const std::string& simFile : simFiles) {
        if (SameFile(target, simFile)) {
            return Outcome::Fail(ExitCode::BadInput,
                                 target + " is the simulated board's own flash file");
        }
    }
    if (exists && !force) {
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
