// The board's two-line text, as its input reports build it up piece by piece.
#include "core/input_text.h"

#include <cstring>

namespace {

constexpr size_t kTextEnd = kInputStateSize - 1;  // byte 36 stays 0

}  // namespace

bool ApplyInputReport(char* state, const uint8_t* report) {
    int position = static_cast<int8_t>(report[kInputPositionByte]);
    if (position < 0 || position > static_cast<int>(kTextEnd)) return false;
    size_t count = kTextEnd - static_cast<size_t>(position);
    if (count > kInputPieceSize) count = kInputPieceSize;
    std::memcpy(state + position, report + kInputTextByte, count);
    return true;
}

void RenderInputState(const char* state, char* text) {
    std::memcpy(text, state, kInputLineLength);
    text[kInputLineLength] = '\r';
    text[kInputLineLength + 1] = '\n';
    std::memcpy(text + kInputLineLength + 2, state + kInputLineLength, kInputLineLength);
    text[kInputTextSize - 1] = '\0';
}
