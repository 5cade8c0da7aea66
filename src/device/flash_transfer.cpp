// Streamed CMD_READ and CMD_WRITE transfers, and the kilobyte countdown in the status line.
#include "device/flash_transfer.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "core/flash_layout.h"
#include "device/command_protocol.h"
#include "device/hid_access.h"
#include "ui/status_line.h"

Progress ProgressCounter = {0, 0};
CRITICAL_SECTION DeviceLock;

namespace {

constexpr uint32_t kKilobyte = 1024;
constexpr size_t kProgressTextSize = 64;

constexpr char kInvalidParameterText[] = "Invalid parameter.";
constexpr char kReadSendFailedText[] = "Error sending CMD_READ command.";
constexpr char kReadAnswerFailedText[] = "Error reading CMD_READ response.";
constexpr char kWriteSendFailedText[] = "Error sending CMD_WRITE command.";
constexpr char kWriteDataFailedText[] = "Error writing data.";

OutputReport MakeTransferReport(CommandCode command, uint8_t bank, uint16_t offset,
                                uint16_t length) {
    OutputReport report = MakeCommandReport(command);
    PutFlashAddress(report, FlashAddress{bank, offset});
    report[kLengthHighByte] = static_cast<uint8_t>(length >> 8);
    report[kLengthLowByte] = static_cast<uint8_t>(length & 0xFF);
    return report;
}

// Every failure box of a transfer is shown while the lock is still held, then the lock goes.
int FailLocked(const char* text) {
    ShowError(text);
    LeaveCriticalSection(&DeviceLock);
    return 0;
}

}  // namespace

void StartProgress(uint32_t bytes) {
    ProgressCounter.remaining = bytes;
    ProgressCounter.lastShown = bytes;
}

void CountDownProgress(uint32_t n, const char* format) {
    ProgressCounter.remaining -= n;
    uint32_t shownKilobytes = ProgressCounter.lastShown / kKilobyte;
    if (ProgressCounter.remaining / kKilobyte == shownKilobytes) {
        return;
    }
    // The number is the one from before this report: one more than the whole kilobytes left.
    char text[kProgressTextSize];
    int written = std::snprintf(text, sizeof(text), format, static_cast<int>(shownKilobytes));
    if (written > 0) {
        SetStatusLine(text);
    }
    ProgressCounter.lastShown = ProgressCounter.remaining;
    // The dialog thread is busy with the transfer, so the window would not repaint by itself.
    RepaintMainWindow();
}

int ReadFlash(uint8_t bank, uint16_t offset, uint8_t* destination, uint16_t length) {
    if (length == 0) {
        ShowError(kInvalidParameterText);
        return 0;
    }
    FeatureReport report = MakeTransferReport(CMD_READ, bank, offset, length);
    EnterCriticalSection(&DeviceLock);
    if (!SendReport(report)) {
        return FailLocked(kReadSendFailedText);
    }
    uint32_t left = length;
    while (left != 0) {
        if (!FetchFeature(report)) {
            return FailLocked(kReadAnswerFailedText);
        }
        uint32_t n = left < kPayloadSize ? left : static_cast<uint32_t>(kPayloadSize);
        std::memcpy(destination, report.data() + kPayloadByte, n);
        destination += n;
        left -= n;
        CountDownProgress(n, kReadingText);
    }
    LeaveCriticalSection(&DeviceLock);
    return 1;
}

int WriteFlash(uint8_t bank, uint16_t offset, const uint8_t* source, uint16_t length) {
    if (length == 0) {
        ShowError(kInvalidParameterText);
        return 0;
    }
    EnterCriticalSection(&DeviceLock);
    OutputReport report = MakeTransferReport(CMD_WRITE, bank, offset, length);
    if (!SendReport(report)) {
        return FailLocked(kWriteSendFailedText);
    }
    // The board takes the data reports back to back and answers none of them.
    uint32_t left = length;
    while (left != 0) {
        uint32_t n = left < kPayloadSize ? left : static_cast<uint32_t>(kPayloadSize);
        report.fill(0);
        std::memcpy(report.data() + kPayloadByte, source, n);
        if (!SendReport(report)) {
            return FailLocked(kWriteDataFailedText);
        }
        source += n;
        left -= n;
        CountDownProgress(n, kWritingText);
    }
    LeaveCriticalSection(&DeviceLock);
    return 1;
}

int ReadRange(uint8_t* destination, int32_t address, int32_t length) {
    // The reads go ahead even when the bus was refused: the caller learns of it from the box.
    // Not examined: the reads follow even after "Bus busy", and each failure has its message.
    static_cast<void>(GetBus());
    uint32_t at = static_cast<uint32_t>(address);
    while (length > 0) {
        // The pieces are as long as an image chunk, the largest transfer the board is sent.
        uint32_t piece = static_cast<uint32_t>(length) <= kChunkSize ? static_cast<uint32_t>(length)
                                                                     : kChunkSize;
        // A failed piece has shown its message; the next one is read all the same.
        static_cast<void>(ReadFlash(static_cast<uint8_t>(at >> 16),
                                    static_cast<uint16_t>(at & 0xFFFF), destination,
                                    static_cast<uint16_t>(piece)));
        destination += piece;
        at += piece;
        length -= static_cast<int32_t>(piece);
    }
    return ReleaseBus();
}
