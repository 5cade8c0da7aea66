// The short commands of the board: status query, reset, bank erase and the bus hand-over.
#include "device/command_protocol.h"

#include <windows.h>

#include "device/hid_access.h"

namespace {

constexpr DWORD kResetSettleMs = 2000;

constexpr char kStatusSendFailedText[] = "Error sending CMD_STATUS response.";
constexpr char kStatusReadFailedText[] = "Error reading CMD_GET_STATUS response.";
constexpr char kResetSendFailedText[] = "Error sending CMD_RESET command.";
constexpr char kEraseSendFailedText[] = "Error sending CMD_ERASE command.";
constexpr char kGetBusSendFailedText[] = "Error sending GetBus command.";
constexpr char kReleaseBusSendFailedText[] = "Error sending ReleaseBus command.";
constexpr char kBusBusyText[] = "Bus busy. Please try again later";

bool WriteReportOn(HANDLE device, const OutputReport& report) {
    if (device == INVALID_HANDLE_VALUE) {
        return false;
    }
    // HID takes exactly one whole output report per write; the count written tells nothing more.
    DWORD written = 0;
    return WriteFile(device, report.data(), static_cast<DWORD>(report.size()), &written, nullptr) !=
           FALSE;
}

OutputReport MakeBusReport(uint8_t request) {
    OutputReport report = MakeCommandReport(CMD_BUS);
    report[kBankByte] = 0;
    report[kBusArgumentByte] = request;
    return report;
}

}  // namespace

void PutFlashAddress(OutputReport& report, FlashAddress address) {
    report[kBankByte] = address.bank;
    report[kOffsetHighByte] = static_cast<uint8_t>(address.offset >> 8);
    report[kOffsetLowByte] = static_cast<uint8_t>(address.offset & 0xFF);
}

OutputReport MakeCommandReport(CommandCode command) {
    OutputReport report = {};
    report[kReportIdByte] = 0;
    report[kCommandByte] = command;
    return report;
}

bool SendReport(const OutputReport& report) { return WriteReportOn(CommandChannel, report); }

bool FetchFeature(FeatureReport& answer) {
    answer.fill(0);  // report ID 0: the board has no numbered reports
    return HidGetFeature(CommandChannel, answer.data(), static_cast<ULONG>(answer.size())) != FALSE;
}

bool GetStatus(FeatureReport& answer) {
    if (!SendReport(MakeCommandReport(CMD_GET_STATUS))) {
        ShowError(kStatusSendFailedText);
        return false;
    }
    if (!FetchFeature(answer)) {
        ShowError(kStatusReadFailedText);
        return false;
    }
    return true;
}

bool ResetBoard() {
    // The board drops off the bus when it resets, so the channel counts as gone from the start.
    HANDLE device = CommandChannel;
    CommandChannel = INVALID_HANDLE_VALUE;
    // The pause lets whatever the board is still busy with (an erase's last polls, the monitor's
    // read, whose thread the panel has just told to stop) come to rest before the board drops off
    // the bus mid-way.
    Sleep(kResetSettleMs);
    bool sent = WriteReportOn(device, MakeCommandReport(CMD_RESET));
    if (device != INVALID_HANDLE_VALUE) {
        // Nothing more can be done if this fails: the handle is given up either way.
        static_cast<void>(CloseHandle(device));
    }
    if (!sent) {
        ShowError(kResetSendFailedText);
        return false;
    }
    return true;
}

bool EraseBank(int bank) {
    OutputReport report = MakeCommandReport(CMD_ERASE);
    PutFlashAddress(report, FlashAddress{static_cast<uint8_t>(bank & 0xFF), 0});
    if (!SendReport(report)) {
        ShowError(kEraseSendFailedText);
        return false;
    }
    // A failed query has shown its message; the caller goes on as if the erase had finished.
    FeatureReport answer = {};
    do {
        if (!GetStatus(answer)) {
            return true;
        }
    } while (answer[kBusyByte] != 0);
    return true;
}

bool GetBus() {
    if (!SendReport(MakeBusReport(kBusRequest))) {
        ShowError(kGetBusSendFailedText);
        return false;
    }
    FeatureReport answer = {};
    if (!GetStatus(answer)) {
        return true;
    }
    while (answer[kBusStateByte] != kBusGranted) {
        if ((answer[kBusStateByte] & kBusBusyBit) != 0) {
            ShowError(kBusBusyText);
            return false;
        }
        if (!GetStatus(answer)) {
            return true;
        }
    }
    return true;
}

bool ReleaseBus() {
    if (!SendReport(MakeBusReport(kBusRelease))) {
        ShowError(kReleaseBusSendFailedText);
        return false;
    }
    // The other side may hold the bus meanwhile; only the release itself ends the wait.
    FeatureReport answer = {};
    do {
        if (!GetStatus(answer)) {
            return true;
        }
    } while (answer[kBusStateByte] != kBusReleased);
    return true;
}
