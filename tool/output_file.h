// A backup or dump under construction: written to a temporary file beside the target and renamed
// into place only when complete, so that a failed run never leaves a file under the chosen name.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "outcome.h"

// BadInput when target exists and force is not given, or names a folder.
Outcome CheckOutputTarget(const std::string& target, bool force);

class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Removes the temporary file unless Commit succeeded.
    ~OutputFile();

    Outcome Open(const std::string& target);
    Outcome Append(const uint8_t* bytes, uint32_t count);
    // Closes the temporary file and renames it to the target, replacing what is there.
    Outcome Commit();

  private:
    std::string target_;
    std::string temporary_;
    std::FILE* file_ = nullptr;
    bool committed_ = false;
};
