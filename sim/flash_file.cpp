// A simulated board's flash file: found, checked, read or created, and written through.
#include "sim/flash_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "sim/board.h"

namespace {

std::string Describe(const FlashFileOwner& owner, const std::string& path, const char* what) {
    return std::string(owner.title) + "\n" + path + "\n" + what;
}

std::string DescribeError(const FlashFileOwner& owner, const std::string& path, const char* what,
                          int error) {
    return Describe(owner, path, what) + "\n(" + std::strerror(error) + ")";
}

// Writes the whole of flash into a new file; a file left half written would be taken for a
// board of the wrong size next time, so it is removed again.
FlashFileOpen CreateFlashFile(const std::string& path, const FlashFileOwner& owner,
                              FlashFile& flashFile, std::vector<uint8_t>& flash,
                              std::string& problem) {
    flash = owner.fresh();
    std::FILE* file = std::fopen(path.c_str(), "w+b");
    if (file == nullptr) {
        problem = DescribeError(owner, path, "could not be created.", errno);
        return FlashFileOpen::Failed;
    }
    bool written = std::fwrite(flash.data(), 1, flash.size(), file) == flash.size();
    int error = errno;
    if (written && std::fflush(file) != 0) {
        written = false;
        error = errno;
    }
    if (!written) {
        static_cast<void>(std::fclose(file));
        static_cast<void>(std::remove(path.c_str()));
        problem = DescribeError(owner, path, "could not be written.", error);
        return FlashFileOpen::Failed;
    }
    flashFile.file = file;
    flashFile.path = path;
    return FlashFileOpen::Created;
}

}  // namespace

FlashFileOpen OpenFlashFile(const std::string& path, const FlashFileOwner& owner,
                            FlashFile& flashFile, std::vector<uint8_t>& flash,
                            std::string& problem) {
    std::error_code error;
    const std::filesystem::path where(path);
    const bool exists = std::filesystem::exists(where, error);
    if (error) {
        problem = Describe(owner, path, "could not be looked at.") + "\n(" + error.message() + ")";
        return FlashFileOpen::Failed;
    }
    if (!exists) {
        return CreateFlashFile(path, owner, flashFile, flash, problem);
    }
    const std::uintmax_t size = std::filesystem::file_size(where, error);
    if (error) {
        problem = Describe(owner, path, "could not be looked at.") + "\n(" + error.message() + ")";
        return FlashFileOpen::Failed;
    }
    if (size != sim::kFlashSize) {
        problem = Describe(owner, path, "") + "is " + std::to_string(size) + " bytes long, not " +
                  std::to_string(sim::kFlashSize) + "." + owner.wrongSizeAdvice;
        return FlashFileOpen::WrongSize;
    }
    std::FILE* file = std::fopen(path.c_str(), "r+b");
    if (file == nullptr) {
        problem = DescribeError(owner, path, "could not be opened for reading and writing.", errno);
        return FlashFileOpen::Failed;
    }
    flash.assign(sim::kFlashSize, 0);
    if (std::fread(flash.data(), 1, flash.size(), file) != flash.size()) {
        const int readError = errno;
        static_cast<void>(std::fclose(file));
        problem = DescribeError(owner, path, "could not be read.", readError);
        return FlashFileOpen::Failed;
    }
    flashFile.file = file;
    flashFile.path = path;
    return FlashFileOpen::Loaded;
}

bool WriteFlashRange(FlashFile& flashFile, size_t address, const uint8_t* bytes, size_t length) {
    if (flashFile.file == nullptr || address > sim::kFlashSize ||
        length > sim::kFlashSize - address) {
        return false;
    }
    return std::fseek(flashFile.file, static_cast<long>(address), SEEK_SET) == 0 &&
           std::fwrite(bytes, 1, length, flashFile.file) == length &&
           std::fflush(flashFile.file) == 0;
}

void CloseFlashFile(FlashFile& flashFile) {
    if (flashFile.file != nullptr) {
        // Every write was flushed already; nothing is lost if closing fails.
        static_cast<void>(std::fclose(flashFile.file));
        flashFile.file = nullptr;
    }
}
