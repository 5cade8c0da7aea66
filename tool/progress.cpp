// The progress bar on standard error.
#include "progress.h"

#ifdef _WIN32
#include <io.h>
#define KELM_ISATTY _isatty
#define KELM_FILENO _fileno
#else
#include <unistd.h>
#define KELM_ISATTY isatty
#define KELM_FILENO fileno
#endif

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);  // at most ten a second
constexpr int kBarWidth = 30;

}  // namespace

bool IsTerminal(std::FILE* stream) { return KELM_ISATTY(KELM_FILENO(stream)) != 0; }

void Progress::Start(const std::string& label, uint64_t total) {
    label_ = label;
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
    // The bar's line ends here, so that what follows on standard error starts on its own line.
    static_cast<void>(std::fputc('\n', out_));
}

void Progress::Draw(bool last) {
    lastDrawn_ = Clock::now();
    drawn_ = true;
    const double seconds = std::chrono::duration<double>(lastDrawn_ - started_).count();
    const double rate = seconds > 0 ? static_cast<double>(done_) / seconds : 0;
    const double fraction =
        total_ == 0 ? 1 : static_cast<double>(done_) / static_cast<double>(total_);
    const int filled = static_cast<int>(fraction * kBarWidth);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(kBarWidth, '.');
    const double left = rate > 0 ? static_cast<double>(total_ - done_) / rate : 0;
    // Progress is for the eye only; a line that cannot be drawn changes nothing.
    static_cast<void>(std::fprintf(
        out_, "\r%s [%s] %llu/%llu bytes  %.1f KB/s  %s%.0f s ", label_.c_str(), bar.c_str(),
        static_cast<unsigned long long>(done_), static_cast<unsigned long long>(total_),
        rate / 1024, last ? "took " : "left ", last ? seconds : left));
    static_cast<void>(std::fflush(out_));
}
