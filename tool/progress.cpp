// The progress bar on standard error.
#include "progress.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#define KELM_ISATTY _isatty
#define KELM_FILENO _fileno
#else
#include <sys/ioctl.h>
#include <unistd.h>
#define KELM_ISATTY isatty
#define KELM_FILENO fileno
#endif

#include <algorithm>
#include <cstring>

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);  // at most ten a second
constexpr int kBarWidth = 30;
constexpr int kNarrowestBar = 10;  // below this a bar shows nothing; it is left out
constexpr int kDefaultColumns = 80;
#ifdef _WIN32
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
constexpr DWORD ENABLE_VIRTUAL_TERMINAL_PROCESSING = 0x0004;
#endif
#endif

// Whether the terminal out is moves its cursor on the VT sequences the rows use: a console of
// Windows 10 and later does once asked to.
bool CursorMoves(std::FILE* out) {
#ifdef _WIN32
    HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(KELM_FILENO(out)));
    DWORD mode = 0;
    return console != INVALID_HANDLE_VALUE && GetConsoleMode(console, &mode) &&
           SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
#else
    static_cast<void>(out);
    return true;
#endif
}

}  // namespace

bool IsTerminal(std::FILE* stream) { return KELM_ISATTY(KELM_FILENO(stream)) != 0; }

void Progress::Start(const std::string& label, uint64_t total) {
    label_ = prefix_ + label;
    lastWidth_ = 0;
    total_ = total;
    done_ = 0;
    drawn_ = false;
    started_ = Clock::now();
    lastDrawn_ = started_ - kRedrawInterval;
}

void Progress::Advance(uint64_t bytes) {
    done_ += bytes;
    if (!enabled_) return;
    if (Clock::now() - lastDrawn_ < kRedrawInterval) return;
    Draw(false);
}

void Progress::Finish() {
    if (!enabled_ || total_ == 0) return;
    Draw(true);
    // The bar's line ends here, so that what follows on standard error starts on its own line;
    // a row of several keeps its line.
    if (rows_ == nullptr) static_cast<void>(std::fputc('\n', out_));
}

int TerminalColumns(std::FILE* stream) {
#ifdef _WIN32
    HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(KELM_FILENO(stream)));
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (console == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(console, &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
#else
    struct winsize size = {};
    if (ioctl(KELM_FILENO(stream), TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
#endif
}

std::string ProgressLine(const std::string& label, uint64_t done, uint64_t total, double seconds,
                         bool last, int columns) {
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    const double left = rate > 0 ? static_cast<double>(total - done) / rate : 0;
    char figures[96];
    static_cast<void>(std::snprintf(figures, sizeof figures, "%llu/%llu bytes  %.1f KB/s  %s%.0f s",
                                    static_cast<unsigned long long>(done),
                                    static_cast<unsigned long long>(total), rate / 1024,
                                    last ? "took " : "left ", last ? seconds : left));
    const int room = std::max(columns, 1) - 1;
    // label, " [", the bar, "] ", the figures
    const int around = static_cast<int>(label.size() + std::strlen(figures)) + 4;
    const int width = std::min(kBarWidth, room - around);
    std::string line = label + " ";
    if (width >= kNarrowestBar) {
        const double fraction =
            total == 0 ? 1 : static_cast<double>(done) / static_cast<double>(total);
        std::string bar(static_cast<size_t>(fraction * width), '#');
        bar.resize(static_cast<size_t>(width), '.');
        line += "[" + bar + "] ";
    }
    line += figures;
    if (line.size() > static_cast<size_t>(room)) line.resize(static_cast<size_t>(room));
    return line;
}

void Progress::Draw(bool last) {
    lastDrawn_ = Clock::now();
    drawn_ = true;
    const double seconds = std::chrono::duration<double>(lastDrawn_ - started_).count();
    int columns = columns_ != 0 ? columns_ : TerminalColumns(out_);
    if (columns <= 0) columns = kDefaultColumns;
    std::string line = ProgressLine(label_, done_, total_, seconds, last, columns);
    if (rows_ != nullptr) {
        rows_->Draw(row_, line);
        return;
    }
    const size_t width = line.size();
    if (width < lastWidth_) line.append(lastWidth_ - width, ' ');
    lastWidth_ = width;
    // Progress is for the eye only; a line that cannot be drawn changes nothing.
    static_cast<void>(std::fprintf(out_, "\r%s", line.c_str()));
    static_cast<void>(std::fflush(out_));
}

ProgressRows::ProgressRows(std::FILE* out, bool enabled)
    : out_(out), enabled_(enabled && CursorMoves(out)) {}

int ProgressRows::Add() {
    const std::lock_guard<std::mutex> held(mutex_);
    rows_.emplace_back(nextRow_, std::string());
    return nextRow_++;
}

void ProgressRows::Remove(int row) {
    const std::lock_guard<std::mutex> held(mutex_);
    Erase();
    for (auto at = rows_.begin(); at != rows_.end(); ++at) {
        if (at->first != row) continue;
        rows_.erase(at);
        break;
    }
    Redraw();
}

void ProgressRows::Draw(int row, const std::string& line) {
    const std::lock_guard<std::mutex> held(mutex_);
    for (std::pair<int, std::string>& entry : rows_) {
        if (entry.first == row) entry.second = line;
    }
    Erase();
    Redraw();
}

void ProgressRows::Above(std::FILE* stream, const std::string& text) {
    const std::lock_guard<std::mutex> held(mutex_);
    Erase();
    // The text and the bars reach one terminal through two streams: each is let out in turn.
    static_cast<void>(std::fputs(text.c_str(), stream));
    static_cast<void>(std::fflush(stream));
    Redraw();
}

void ProgressRows::Leave() {
    const std::lock_guard<std::mutex> held(mutex_);
    rows_.clear();
    drawn_ = 0;
}

void ProgressRows::Erase() {
    if (!enabled_ || drawn_ == 0) return;
    // Up to the first bar's line, then everything below it cleared.
    static_cast<void>(std::fprintf(out_, "\x1b[%zuA\r\x1b[J", drawn_));
    drawn_ = 0;
}

void ProgressRows::Redraw() {
    if (!enabled_) return;
    for (const std::pair<int, std::string>& entry : rows_) {
        static_cast<void>(std::fprintf(out_, "%s\n", entry.second.c_str()));
    }
    drawn_ = rows_.size();
    static_cast<void>(std::fflush(out_));
}
