// The entry point: binds the HID library, runs the main dialog, cleans up.
#include <windows.h>

#include <cstring>

#include "catalogue/catalogue_scan.h"
#include "device/flash_transfer.h"
#include "device/hid_access.h"
#include "device/input_monitor.h"
#include "operations/write_image.h"
#include "ui/flash_menu.h"
#include "ui/main_dialog.h"
#include "ui/resource.h"

namespace {

constexpr char kStopEventFailedText[] = "Failed to create stop event.";

// A run starts from the state the program has when it is loaded: not connected, no monitor,
// menu Idle, no file chosen and the catalogue all zero until the first scan.
void StartFromScratch() {
    MonitorThreadHandle = nullptr;
    FlashMenuMode = MenuMode::Idle;
    std::memset(SlotMap, 0, sizeof(SlotMap));
    std::memset(HeaderDirectory, 0, sizeof(HeaderDirectory));
    PendingImage = PendingImageState{};
    ProgressCounter = Progress{};
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    // There is no command line and the dialog decides how it is shown.
    static_cast<void>(previous);
    static_cast<void>(commandLine);
    static_cast<void>(show);
    StartFromScratch();

    if (!BindHidLibrary()) return 0;
    StopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (StopEvent == nullptr) {
        // Without it no monitor could ever be stopped.
        ShowError(kStopEventFailedText);
        ReleaseHidLibrary();
        return 0;
    }
    InitializeCriticalSection(&DeviceLock);
    // The dialog's result carries nothing; whether it could run at all, the clean-up is the same.
    static_cast<void>(
        DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc, 0));
    static_cast<void>(CloseHandle(StopEvent));
    StopEvent = nullptr;
    ReleaseHidLibrary();
    return 0;
}
