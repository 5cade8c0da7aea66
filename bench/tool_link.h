// kelmtool's board link for the benchmarks: straight onto a simulated board, counting what it
// carries by kind. The link follows each CMD_WRITE's length, so it knows which output reports
// are data and can say which of them carried nothing but 0xFF.
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

  private:
    sim::Board& board_;
    ToolTraffic traffic_;
    uint32_t dataDue_ = 0;  // bytes of the current CMD_WRITE not yet carried
};
