// The window's side of the HID binding: its error boxes, the command channel, DevicePath.
#include "device/hid_access.h"

#include <windows.h>

#include <cstring>

#include "device/hid_binding.h"

HANDLE CommandChannel = INVALID_HANDLE_VALUE;
char DevicePath[kPathSize] = {};

namespace {

// The HID.DLL binding. Written by the dialog thread only (start-up and end of the program).
HidBinding Hid;

constexpr char kErrorCaption[] = "Error";
constexpr char kLoadFailedText[] = "Failed to load HID.DLL.";
constexpr char kEntryPointsMissingText[] = "Couldn't find one or more HID entry points.";
constexpr char kDeviceSetFailedText[] = "Failed to open handle to HID device set.";

void CloseDevice(HANDLE device) {
    // Nothing more can be done: the handle is given up either way.
    static_cast<void>(CloseHandle(device));
}

// Opens one interface and checks it is the board. Returns its handle, or INVALID_HANDLE_VALUE
// when it cannot be opened or is some other HID device (closed again at once).
HANDLE OpenIfBoard(const char* path) {
    HANDLE device =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        return INVALID_HANDLE_VALUE;
    }
    if (!IsKelmBoard(Hid, device)) {
        CloseDevice(device);
        return INVALID_HANDLE_VALUE;
    }
    return device;
}

// Takes the interface when it is the board: true when CommandChannel and DevicePath are set.
bool TakeIfBoard(const char* path, size_t length) {
    // A path that would not fit DevicePath (terminator included) cannot be handed to the monitor.
    if (length >= kPathSize) return false;
    const HANDLE device = OpenIfBoard(path);
    if (device == INVALID_HANDLE_VALUE) return false;
    std::memcpy(DevicePath, path, length + 1);
    CommandChannel = device;
    return true;
}

}  // namespace

bool BindHidLibrary() {
    switch (BindHid(Hid)) {
        case HidBindResult::Bound:
            return true;
        case HidBindResult::NotLoaded:
            ShowError(kLoadFailedText);
            return false;
        case HidBindResult::EntryMissing:
        default:
            ShowError(kEntryPointsMissingText);
            ReleaseHid(Hid);
            return false;
    }
}

void ReleaseHidLibrary() { ReleaseHid(Hid); }

int OpenBoard() {
    if (Hid.getHidGuid == nullptr) {
        return 0;  // HID.DLL is not bound
    }
    switch (WalkHidInterfaces(Hid, TakeIfBoard)) {
        case HidWalk::Stopped:
            return 1;
        case HidWalk::SetUnavailable:
            ShowError(kDeviceSetFailedText);
            return 0;
        case HidWalk::Exhausted:
        default:
            return 0;
    }
}

bool IsConnected() { return CommandChannel != INVALID_HANDLE_VALUE; }

void CloseCommandChannel() {
    if (CommandChannel == INVALID_HANDLE_VALUE) {
        return;
    }
    CloseDevice(CommandChannel);
    CommandChannel = INVALID_HANDLE_VALUE;
}

void ShowError(const char* text) {
    // No owner: the box runs its own loop and leaves the dialog working underneath. A box that
    // cannot be shown leaves no other way to tell the user.
    static_cast<void>(MessageBoxA(nullptr, text, kErrorCaption, MB_OK | MB_ICONWARNING));
}

BOOLEAN HidGetFeature(HANDLE device, void* report, ULONG length) {
    if (Hid.getFeature == nullptr) {
        return FALSE;
    }
    return Hid.getFeature(device, report, length);
}
