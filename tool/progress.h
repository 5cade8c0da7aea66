// The progress bar on standard error: bytes done and total, rate and time left, at most ten
// updates a second, and only when standard error is a terminal (and --quiet is not given).
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

class Progress {
  public:
    Progress(std::FILE* out, bool enabled) : out_(out), enabled_(enabled) {}
    void Start(const std::string& label, uint64_t total);
    void Advance(uint64_t bytes);
    void Finish();

  private:
    void Draw(bool last);
    using Clock = std::chrono::steady_clock;
    std::FILE* out_;
    bool enabled_;
    std::string label_;
    uint64_t total_ = 0;
    uint64_t done_ = 0;
    bool drawn_ = false;
    Clock::time_point started_;
    Clock::time_point lastDrawn_;
};

// Whether a stream is a terminal.
bool IsTerminal(std::FILE* stream);
