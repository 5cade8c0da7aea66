// The board's two-line text, as its input reports build it up piece by piece.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/report_layout.h"

constexpr size_t kInputStateSize = 37;  // two lines of 18 characters and a zero
constexpr size_t kInputTextSize = 39;   // rendered: 18 characters, CR LF, 18, and a zero
constexpr size_t kInputLineLength = 18;

// Applies one 9-byte report to a 37-byte state; returns false when its position is ignored.
bool ApplyInputReport(char* state, const uint8_t* report);
// Renders a state as the text of control 1002: 18 characters, CR LF, 18 characters, zero.
void RenderInputState(const char* state, char* text);
