// Numbers from the command line, read strictly.
#include "numbers.h"

#include <cstdlib>
#include <sstream>

#include "core/flash_layout.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Digits, then optionally a point and more digits: no sign, exponent, hex, "nan" or "inf".
bool IsPlainDecimal(const std::string& text) {
    size_t at = 0;
    while (at < text.size() && IsDigit(text[at])) ++at;
    if (at == 0) return false;
    if (at == text.size()) return true;
    if (text[at] != '.' || at + 1 == text.size()) return false;
    for (++at; at < text.size(); ++at) {
        if (!IsDigit(text[at])) return false;
    }
    return true;
}

// 0.1 as "0.1", 3600 as "3600": the shortest text that reads back as the value.
std::string Plain(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

}  // namespace

Outcome ParseSlot(const std::string& text, int& slot) {
    size_t first = 0;  // leading zeros change nothing in decimal
    while (first + 1 < text.size() && text[first] == '0') ++first;
    const std::string digits = text.substr(first);
    // Two digits are enough for 31; more are refused before they could overflow.
    const bool decimal = !digits.empty() && digits.size() <= 2 && IsDigit(digits[0]) &&
                         (digits.size() == 1 || IsDigit(digits[1]));
    if (decimal) {
        const int value = std::atoi(digits.c_str());
        if (value < kSlotCount) {
            slot = value;
            return {};
        }
    }
    return Outcome::Fail(ExitCode::BadInput, "slot " + (text.empty() ? std::string("\"\"") : text) +
                                                 " does not exist (a slot is 0 to " +
                                                 std::to_string(kSlotCount - 1) + ")");
}

Outcome ParseSeconds(const std::string& text, const SecondsRange& range, double& seconds) {
    if (IsPlainDecimal(text)) {
        // Bounded by the check above to digits: strtod cannot meet an exponent or a NaN.
        const double value = std::strtod(text.c_str(), nullptr);
        if (value >= range.least && value <= range.most) {
            seconds = value;
            return {};
        }
    }
    return Outcome::Fail(ExitCode::BadInput, std::string(range.option) + " " + text +
                                                 ": give a number of seconds from " +
                                                 Plain(range.least) + " to " + Plain(range.most));
}
