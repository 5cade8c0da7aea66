// Numbers from the command line, read strictly: a slot is a decimal number from 0 to 31, a
// duration a finite decimal number of seconds within a stated range. strtol's base 0 would read
// "010" as slot 8, and a double taken as it comes lets "nan" or "1e300" through to the board.
#pragma once

#include <string>

#include "outcome.h"

// "0" to "31", decimal digits only ("010" is slot 10). BadInput otherwise.
Outcome ParseSlot(const std::string& text, int& slot);

struct SecondsRange {
    const char* option;  // "--timeout"
    double least;
    double most;
};
constexpr SecondsRange kTimeoutRange = {"--timeout", 0.1, 3600};
constexpr SecondsRange kWaitRange = {"--wait", 0, 86400};
constexpr SecondsRange kMonitorRange = {"--seconds", 0, 86400};

// Digits with an optional fraction ("2", "0.5"), within the range. BadInput otherwise, naming
// the range.
Outcome ParseSeconds(const std::string& text, const SecondsRange& range, double& seconds);
