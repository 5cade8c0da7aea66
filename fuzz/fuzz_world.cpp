#include "fuzz_world.h"

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "device/flash_transfer.h"
#include "device/hid_access.h"
#include "device/input_monitor.h"
#include "ui/resource.h"
#include "ui/status_line.h"
#include "win32/standin.h"

namespace fuzzworld {
namespace {

// The shape of a real HID interface path of the board.
constexpr char kBoardPath[] =
    "\\\\?\\hid#vid_03eb&pid_0001#6&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";

constexpr int kSlotButtons[] = {
    IDC_SLOT_0,  IDC_SLOT_1,  IDC_SLOT_2,  IDC_SLOT_3,  IDC_SLOT_4,  IDC_SLOT_5,  IDC_SLOT_6,
    IDC_SLOT_7,  IDC_SLOT_8,  IDC_SLOT_9,  IDC_SLOT_10, IDC_SLOT_11, IDC_SLOT_12, IDC_SLOT_13,
    IDC_SLOT_14, IDC_SLOT_15, IDC_SLOT_16, IDC_SLOT_17, IDC_SLOT_18, IDC_SLOT_19, IDC_SLOT_20,
    IDC_SLOT_21, IDC_SLOT_22, IDC_SLOT_23, IDC_SLOT_24, IDC_SLOT_25, IDC_SLOT_26, IDC_SLOT_27,
    IDC_SLOT_28, IDC_SLOT_29, IDC_SLOT_30, IDC_SLOT_31,
};

// Written by the fuzzing thread only.
std::string gTempFolder;

void RemoveTempFolder() {
    std::error_code ignored;
    if (!gTempFolder.empty()) std::filesystem::remove_all(gTempFolder, ignored);
}

std::vector<standin::ControlSpec> WindowControls() {
    std::vector<standin::ControlSpec> controls;
    standin::ControlSpec status;
    status.id = IDC_STATUS;
    status.className = "STATIC";
    status.text = "Not connected to kelm";
    status.style = WS_CHILD | WS_VISIBLE | SS_CENTER | SS_SUNKEN;
    controls.push_back(status);
    for (int id : kSlotButtons) {
        standin::ControlSpec slot;
        slot.id = id;
        slot.className = "BUTTON";
        slot.style = WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX | BS_PUSHLIKE;
        controls.push_back(slot);
    }
    for (int id : {IDC_READ, IDC_WRITE, IDC_ERASE, IDC_ABORT}) {
        standin::ControlSpec button;
        button.id = id;
        button.className = "BUTTON";
        controls.push_back(button);
    }
    return controls;
}

}  // namespace

void Init() {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) Fail("cannot silence stdout");
    standin::Reset();
    InitializeCriticalSection(&DeviceLock);
    StopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Check(StopEvent != nullptr, "no StopEvent");
}

HWND Connect(sim::Board& board) {
    // The StopEvent lives for the whole run, as the entry point's does; Reset would forget it.
    HANDLE stop = StopEvent;
    StopEvent = nullptr;
    static_cast<void>(CloseHandle(stop));
    standin::Reset();
    standin::SetVirtualClock(true);
    StopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Check(StopEvent != nullptr, "no StopEvent");

    board.Plug();
    board.ClearFaults();
    board.SetClock([] { return standin::NowMs(); });

    standin::HidInterface hid;
    hid.path = kBoardPath;
    hid.vendorId = sim::kVendorId;
    hid.productId = sim::kProductId;
    hid.board = &board;
    standin::AddHidInterface(hid);

    StartProgress(0);
    HWND window = standin::CreateTestDialog(WindowControls());
    MainWindow = window;
    Check(BindHidLibrary(), "HID.DLL not bound");
    Check(OpenBoard() == 1, "the board was not opened");
    standin::ClearHistory(window);
    standin::ClearMessageBoxes();
    board.ClearLog();
    board.ClearViolations();
    return window;
}

void Disconnect(sim::Board& board, HWND window) {
    CloseCommandChannel();
    ReleaseHidLibrary();
    MainWindow = nullptr;
    standin::DestroyTestDialog(window);
    // StopEvent is the one handle meant to stay open.
    Check(standin::OpenHandleCount() == 1, "handles left open");
    Check(standin::OpenDeviceInfoSets() == 0, "device information lists left open");
    Check(standin::HidLibraryLoadCount() == 0, "HID.DLL left loaded");
    const std::vector<std::string> violations = board.Violations();
    if (!violations.empty()) Fail("protocol breach: " + violations.front());
}

void Fail(const std::string& what) {
    std::fprintf(stderr, "\n*** fuzz check failed: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

void Check(bool condition, const std::string& what) {
    if (!condition) Fail(what);
}

std::vector<std::string> BoxTexts() {
    std::vector<std::string> texts;
    for (const standin::MessageBoxRecord& box : standin::MessageBoxes()) texts.push_back(box.text);
    return texts;
}

std::string Status(HWND window) { return standin::Text(window, IDC_STATUS); }

const std::string& TempFolder() {
    if (gTempFolder.empty()) {
        char folder[] = "/tmp/kelm_fuzz_XXXXXX";
        if (mkdtemp(folder) == nullptr) Fail("no temporary folder");
        gTempFolder = folder;
        std::atexit(RemoveTempFolder);
    }
    return gTempFolder;
}

uint32_t TakeNumber(const uint8_t* data, size_t size, size_t& pos, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        const uint32_t byte = pos < size ? data[pos] : 0;
        value |= byte << (8 * i);
        ++pos;
    }
    return value;
}

}  // namespace fuzzworld
