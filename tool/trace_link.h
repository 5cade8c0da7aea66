// --trace: every report exchanged, one line on standard error, around any other link.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

#include "board_link.h"

class TraceLink : public BoardLink {
  public:
    // label goes in front of every line (a board's name, where several trace at once).
    TraceLink(BoardLink& inner, std::FILE* out, std::string label = "")
        : inner_(inner), out_(out), label_(std::move(label)) {}
    bool WriteReport(const uint8_t* report) override;
    bool GetFeature(uint8_t* report) override;
    InputRead ReadInput(uint8_t* report, int timeoutMs) override;

  private:
    void Line(const char* direction, const uint8_t* bytes, size_t count);
    BoardLink& inner_;
    std::FILE* out_;
    std::string label_;
};
