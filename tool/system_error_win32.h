// The system's own words for a Windows error code, for kelmtool's messages.
#pragma once

#include <windows.h>

#include <string>

// FormatMessage's text without its trailing full stop and line break; "system error N" where the
// system has no text for the code.
std::string SystemMessage(DWORD error);
