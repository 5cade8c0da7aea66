#include "testworld/world.h"

#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "catalogue/catalogue_scan.h"
#include "core/flash_layout.h"
#include "device/flash_transfer.h"
#include "device/hid_access.h"
#include "ui/resource.h"
#include "ui/status_line.h"
#include "win32/standin.h"

namespace testworld {
namespace {

constexpr int kFlashMenuButtons[] = {IDC_WRITE, IDC_READ, IDC_ERASE, IDC_ABORT};

std::vector<standin::ControlSpec> WindowControls(Buttons buttons) {
    std::vector<standin::ControlSpec> controls;
    standin::ControlSpec status;
    status.id = IDC_STATUS;
    status.className = "STATIC";
    status.text = "Not connected to kelm";
    status.style = WS_CHILD | WS_VISIBLE | SS_CENTER | SS_SUNKEN;
    controls.push_back(status);
    for (int id : SlotButtonIds) {
        standin::ControlSpec slot;
        slot.id = id;
        slot.className = "BUTTON";
        slot.style = WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX | BS_PUSHLIKE;
        controls.push_back(slot);
    }
    if (buttons == Buttons::WithFlashMenu) {
        for (int id : kFlashMenuButtons) {
            standin::ControlSpec button;
            button.id = id;
            button.className = "BUTTON";
            controls.push_back(button);
        }
    }
    return controls;
}

}  // namespace

void ResetStandin() {
    standin::Reset();
    standin::SetVirtualClock(true);
}

void PlugIn(sim::Board& board) {
    standin::HidInterface hid;
    hid.path = kBoardPath;
    hid.vendorId = sim::kVendorId;
    hid.productId = sim::kProductId;
    hid.board = &board;
    standin::AddHidInterface(hid);
}

HWND OpenMainWindow(Buttons buttons) {
    StartProgress(0);
    HWND window = standin::CreateTestDialog(WindowControls(buttons));
    MainWindow = window;
    return window;
}

std::string OpenBoardLink() {
    if (!BindHidLibrary()) return "HID.DLL not bound";
    if (OpenBoard() != 1) return "the board was not opened";
    return "";
}

void CloseBoardLinkAndWindow(HWND& window) {
    CloseCommandChannel();
    ReleaseHidLibrary();
    MainWindow = nullptr;
    if (window != nullptr) {
        standin::DestroyTestDialog(window);
        window = nullptr;
    }
}

std::vector<std::string> LeftBehind(int handlesMeantOpen) {
    std::vector<std::string> faults;
    if (standin::OpenHandleCount() != handlesMeantOpen) faults.push_back("handles left open");
    if (standin::ReadsOutlivingTheirThread() != 0) {
        faults.push_back("a thread ended while its read was still owed a completion");
    }
    if (standin::OpenDeviceInfoSets() != 0) faults.push_back("device information lists left open");
    if (standin::HidLibraryLoadCount() != 0) faults.push_back("HID.DLL left loaded");
    return faults;
}

std::vector<std::string> ProtocolFaults(const sim::Board& board, const ProtocolAllowance& allowed) {
    std::vector<std::string> faults;
    if (!allowed.violations) {
        for (const std::string& violation : board.Violations()) {
            faults.push_back("protocol breach: " + violation);
        }
    }
    if (allowed.flashWithoutBus) return faults;
    for (const sim::ProtocolEvent& event : board.ProtocolEvents()) {
        const bool refusedRead =
            event.command == sim::kCmdRead && event.lapse == sim::BusLapse::Refused;
        if (refusedRead && allowed.readsAfterRefusedBus) continue;
        faults.push_back("careless host: " + event.text);
    }
    return faults;
}

std::string Status(HWND window) { return standin::Text(window, IDC_STATUS); }

std::vector<std::string> BoxTexts() {
    std::vector<std::string> texts;
    for (const standin::MessageBoxRecord& box : standin::MessageBoxes()) texts.push_back(box.text);
    return texts;
}

std::vector<uint8_t> SlotHeaderBytes(const char* magic, const std::string& name, uint32_t size) {
    std::vector<uint8_t> header(kHeaderSize, 0);
    std::memcpy(header.data() + kMagicOffset, magic, kMagicSize);
    // The name keeps a terminating zero inside its field.
    const size_t nameLength = std::min(name.size(), kNameSize - 1);
    std::memcpy(header.data() + kNameOffset, name.data(), nameLength);
    for (int i = 0; i < 4; ++i) {
        header[kSizeOffset + i] = static_cast<uint8_t>(size >> (24 - 8 * i));
    }
    return header;
}

std::vector<uint8_t> PatternBytes(size_t length, uint32_t seed) {
    // xorshift32: cheap and deterministic; a zero seed would stay zero.
    uint32_t state = seed != 0 ? seed : 0x9E3779B9u;
    std::vector<uint8_t> bytes(length);
    for (uint8_t& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

std::string MakeTempFolder(const std::string& prefix) {
    std::string folder = "/tmp/" + prefix + "_XXXXXX";
    if (mkdtemp(folder.data()) == nullptr) return "";
    return folder;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return {};
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file),
                                std::istreambuf_iterator<char>());
}

}  // namespace testworld
