// A backup or dump under construction: written to a temporary file that it alone created, beside
// the target, and renamed into place only when complete, so that a failed run never leaves a file
// under the chosen name, and no run writes into or removes a file it did not create.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "outcome.h"

// BadInput unless target may be written: a name is given, it is the flash file of none of the
// simulated boards (simFiles) under any name, and nothing stands there, or with
// force a file or a link (the link itself is replaced).
Outcome CheckOutputTarget(const std::string& target, bool force,
                          const std::vector<std::string>& simFiles);

class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Removes the temporary file unless Commit renamed it or kept it.
    ~OutputFile();

    // Creates the temporary file in target's folder; BadInput when the folder cannot take it.
    Outcome Open(const std::string& target, bool force);
    Outcome Append(const uint8_t* bytes, uint32_t count);
    // Closes the temporary file and renames it to the target: with force over what is there;
    // without, Failed when a file appeared there meanwhile. A rename that fails keeps the
    // complete data under the temporary's name, which the message gives.
    Outcome Commit();

  private:
    std::string target_;
    std::string temporary_;
    std::FILE* file_ = nullptr;
    bool force_ = false;
    bool kept_ = false;  // the temporary is renamed into place, or holds data to keep
};
