// --trace: every report exchanged, one line on standard error, around any other link.
#pragma once

#include <cstdint>
#include <cstdio>

#include "board_link.h"

class TraceLink : public BoardLink {
  public:
    TraceLink(BoardLink& inner, std::FILE* out) : inner_(inner), out_(out) {}
    bool WriteReport(const uint8_t* report) override;
    bool GetFeature(uint8_t* report) override;
    InputRead ReadInput(uint8_t* report, int timeoutMs) override;

  private:
    void Line(const char* direction, const uint8_t* bytes, size_t count);
    BoardLink& inner_;
    std::FILE* out_;
};
