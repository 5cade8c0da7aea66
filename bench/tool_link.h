// kelmtool's board link for the benchmarks: straight onto a simulated board, counting what it
// carries by kind. The link follows each CMD_WRITE's length, so it knows which output reports
// are data and can say which of them carried nothing but 0xFF. It also sorts the reports into
// the two phases of a write that move the flash, since a command runs them in one call: the
// erases (each CMD_ERASE and the status polls that wait for it) and the programming (each
// CMD_WRITE and its data reports).
#pragma once

#include <cstdint>

#include "board_link.h"
#include "sim/board.h"
#include "tool_traffic.h"

class BenchToolLink : public BoardLink {
  public:
    explicit BenchToolLink(sim::Board& board) : board_(board) {}

    bool WriteReport(const uint8_t* report) override;
    bool GetFeature(uint8_t* report) override;
    InputRead ReadInput(uint8_t* report, int timeoutMs) override;

    const ToolTraffic& traffic() const { return traffic_; }
    const ToolTraffic& eraseTraffic() const { return erase_; }
    const ToolTraffic& writeTraffic() const { return write_; }
    // Whether the report being exchanged belongs to an erase, for a board's time charged to it.
    bool Erasing() const { return phase_ == Phase::Erase; }

  private:
    enum class Phase { Other, Erase, Write };

    void Count(const ToolTraffic& report);

    sim::Board& board_;
    ToolTraffic traffic_;
    ToolTraffic erase_;
    ToolTraffic write_;
    Phase phase_ = Phase::Other;
    uint32_t dataDue_ = 0;  // bytes of the current CMD_WRITE not yet carried
};
