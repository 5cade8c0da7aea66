// The longest path the system handles, terminator included: the board's device path and the
// name buffer of every file dialog.
#pragma once

#include <windows.h>

#include <cstddef>

constexpr size_t kPathSize = MAX_PATH;
