// The progress bar on standard error: bytes done and total, rate and time left, at most ten
// updates a second, and only when standard error is a terminal (and --quiet is not given). With
// several boards at work, one line for each, their serial first.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// The bars of several boards, one line each, kept together at the bottom of the terminal: what
// is printed while they are shown goes above them (Above), and they are drawn again beneath.
class ProgressRows {
  public:
    // Disabled where the terminal cannot move its cursor (a Windows console without VT).
    ProgressRows(std::FILE* out, bool enabled);
    bool enabled() const { return enabled_; }
    std::FILE* out() const { return out_; }
    // A new line at the bottom; the number to draw it by.
    int Add();
    // The line goes, its board done with.
    void Remove(int row);
    void Draw(int row, const std::string& line);
    // text on stream, above the bars.
    void Above(std::FILE* stream, const std::string& text);
    // The bars stay as they are drawn, no longer kept at the bottom: what follows goes below.
    void Leave();

  private:
    void Erase();
    void Redraw();
    std::mutex mutex_;
    std::FILE* out_;
    bool enabled_;
    int nextRow_ = 0;
    std::vector<std::pair<int, std::string>> rows_;
    size_t drawn_ = 0;  // lines on the terminal now
};

class Progress {
  public:
    // A board's bar among several: on a line of rows of its own, label after prefix.
    Progress(ProgressRows& rows, std::string prefix)
        : out_(rows.out()),
          enabled_(rows.enabled()),
          columns_(0),
          rows_(&rows),
          row_(rows.Add()),
          prefix_(std::move(prefix)) {}
    int row() const { return row_; }
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
    ProgressRows* rows_ = nullptr;
    int row_ = -1;
    std::string prefix_;
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
