// Streamed flash transfers with the kilobyte countdown in the status line.
#pragma once

#include <windows.h>

#include <cstdint>

struct Progress {
    uint32_t remaining;  // bytes still to go, wrapping modulo 2^32
    uint32_t lastShown;  // remaining when the status line was last written
};

// Set by the operation that starts a long job, counted down by every transfer.
// Dialog thread only.
extern Progress ProgressCounter;

// Held by each transfer from its command report to its last data report, and by the monitor
// while it starts an input read. Initialised at start-up, never deleted.
extern CRITICAL_SECTION DeviceLock;

// Sets both fields of ProgressCounter.
void StartProgress(uint32_t bytes);
// Counts the progress down by n and writes the status text when a kilobyte boundary is passed.
void CountDownProgress(uint32_t n, const char* format);

constexpr char kReadingText[] = "Please wait, reading flash: %d kbytes remaining";
constexpr char kWritingText[] = "Please wait, writing flash: %d kbytes remaining";

int ReadFlash(uint8_t bank, uint16_t offset, uint8_t* destination, uint16_t length);
int WriteFlash(uint8_t bank, uint16_t offset, const uint8_t* source, uint16_t length);
// Reads any span of flash under one bus request; returns the result of ReleaseBus.
int ReadRange(uint8_t* destination, int32_t address, int32_t length);
