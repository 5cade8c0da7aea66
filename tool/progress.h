// The progress bar on standard error: bytes done and total, rate and time left, at most ten
// updates a second, and only when standard error is a terminal (and --quiet is not given).
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

class Progress {
  public:
    // columns: the terminal's width; 0 asks the terminal out is, on every redraw (a window can
    // be resized during a 33 s write), and takes 80 where it cannot tell.
    Progress(std::FILE* out, bool enabled, int columns = 0)
        : out_(out), enabled_(enabled), columns_(columns) {}
    void Start(const std::string& label, uint64_t total);
    void Advance(uint64_t bytes);
    void Finish();

  private:
    void Draw(bool last);
    using Clock = std::chrono::steady_clock;
    std::FILE* out_;
    bool enabled_;
    int columns_;
    size_t lastWidth_ = 0;  // of the line drawn last, to blank what a shorter one leaves
    std::string label_;
    uint64_t total_ = 0;
    uint64_t done_ = 0;
    bool drawn_ = false;
    Clock::time_point started_;
    Clock::time_point lastDrawn_;
};

// Whether a stream is a terminal.
bool IsTerminal(std::FILE* stream);

// The width of the terminal a stream is, or 0 when it cannot tell.
int TerminalColumns(std::FILE* stream);

// One line of the bar, at most columns - 1 characters wide so that the terminal never wraps it
// (a wrapped line is not redrawn by a carriage return): the bar narrows first, then the line is
// cut.
std::string ProgressLine(const std::string& label, uint64_t done, uint64_t total, double seconds,
                         bool last, int columns);
