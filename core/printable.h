// Text read from the board (a slot's name field, the board's two-line text) on its way to a
// terminal or a page: bytes below 0x20, 0x7f and above become \xNN, so that no escape sequence
// hidden in a header can move the cursor, retitle the window or worse. JSON output escapes by
// itself.
#pragma once

#include <string>

std::string Printable(const std::string& text);
