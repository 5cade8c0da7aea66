// A dry run's stand-in board: sim/'s board in memory behind a link of its own.
#include "rehearsal.h"

#include <chrono>

#include "interrupt.h"
#include "sim/board.h"

class Rehearsal::Link : public BoardLink {
  public:
    Link() { board_.SetHistoryKept(false); }
    bool WriteReport(const uint8_t* report) override {
        ++exchanges_;
        return board_.WriteOutputReport(report, kReportSize);
    }
    bool GetFeature(uint8_t* report) override {
        ++exchanges_;
        return board_.GetFeatureReport(report, kReportSize);
    }
    // A dry run reads no board text.
    InputRead ReadInput(uint8_t*, int) override { return InputRead::Timeout; }
    uint64_t exchanges() const { return exchanges_; }

  private:
    sim::Board board_;
    uint64_t exchanges_ = 0;
};

Rehearsal::Rehearsal(const ToolOptions& options) : link_(std::make_unique<Link>()) {
    session_ = std::make_unique<BoardSession>(
        *link_, std::chrono::milliseconds(static_cast<long long>(options.timeoutSeconds * 1000)),
        PendingInterrupt);
}

Rehearsal::~Rehearsal() = default;

uint64_t Rehearsal::reports() const { return link_->exchanges(); }
