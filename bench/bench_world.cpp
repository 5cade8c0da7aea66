#include "bench_world.h"

#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "catalogue/catalogue_scan.h"
#include "catalogue/flash_layout.h"
#include "device/flash_transfer.h"
#include "device/hid_access.h"
#include "ui/flash_menu.h"
#include "ui/resource.h"
#include "ui/status_line.h"
#include "win32/standin.h"

namespace {

// The shape of a real HID interface path of the board.
constexpr char kBoardPath[] =
    "\\\\?\\hid#vid_03eb&pid_0001#6&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
constexpr char kFolderTemplate[] = "/tmp/kelm_bench_XXXXXX";

constexpr int kMenuButtons[] = {IDC_WRITE, IDC_READ, IDC_ERASE, IDC_ABORT};

HWND CreateMainWindow() {
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
    for (int id : kMenuButtons) {
        standin::ControlSpec button;
        button.id = id;
        button.className = "BUTTON";
        controls.push_back(button);
    }
    return standin::CreateTestDialog(controls);
}

}  // namespace

bool OpenWorld(World& world, sim::Board& board) {
    standin::Reset();
    standin::SetVirtualClock(true);
    // A long run would otherwise time and weigh the record of every report.
    standin::SetHistoryKept(false);
    board.SetHistoryKept(false);
    world = World();
    world.board = &board;

    standin::HidInterface hid;
    hid.path = kBoardPath;
    hid.vendorId = sim::kVendorId;
    hid.productId = sim::kProductId;
    hid.board = &board;
    standin::AddHidInterface(hid);

    // The erase question is answered Yes; any other box is an error box (OK) and a fault of
    // the run.
    standin::SetMessageBoxHandler([&world](const standin::MessageBoxRecord& box) {
        if ((box.type & MB_TYPEMASK) == MB_YESNO) return IDYES;
        ++world.unexpectedBoxes;
        std::cerr << "bench: message box \"" << box.text << "\"\n";
        return IDOK;
    });

    char folder[sizeof kFolderTemplate];
    std::memcpy(folder, kFolderTemplate, sizeof kFolderTemplate);
    if (mkdtemp(folder) == nullptr) {
        std::cerr << "bench: no temporary folder\n";
        return false;
    }
    world.folder = folder;

    InitializeCriticalSection(&DeviceLock);
    StartProgress(0);
    world.window = CreateMainWindow();
    MainWindow = world.window;
    if (!BindHidLibrary()) {
        std::cerr << "bench: HID.DLL not bound\n";
        return false;
    }
    if (OpenBoard() != 1) {
        std::cerr << "bench: no kelm board found\n";
        return false;
    }
    ScanCatalogue(world.window);
    SetFlashMenuMode(world.window, MenuMode::Idle);
    return true;
}

std::string CloseWorld(World& world) {
    CloseCommandChannel();
    ReleaseHidLibrary();
    MainWindow = nullptr;
    if (world.window != nullptr) {
        standin::DestroyTestDialog(world.window);
        world.window = nullptr;
    }
    standin::SetMessageBoxHandler(nullptr);
    standin::SetFileDialogHandler(nullptr);
    if (!world.folder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(world.folder, ignored);
    }

    std::string faults;
    if (standin::OpenHandleCount() != 0) faults += "handles left open; ";
    if (standin::HidLibraryLoadCount() != 0) faults += "HID.DLL left loaded; ";
    if (world.board != nullptr) {
        for (const std::string& violation : world.board->Violations()) {
            faults += "protocol breach: " + violation + "; ";
        }
    }
    if (world.unexpectedBoxes != 0) {
        faults += std::to_string(world.unexpectedBoxes) + " error boxes; ";
    }
    return faults;
}

uint64_t ReportCount(const World& world) { return world.board->ExchangeCount(); }

int RepaintCount(const World& world) { return standin::RepaintCount(world.window); }

std::vector<uint8_t> SlotHeaderBytes(const char (&magic)[4], const std::string& name,
                                     uint32_t size) {
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
    // xorshift32: cheap and deterministic.
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

void LayApplication(sim::Board& board, int slot, int slots) {
    const size_t start = static_cast<size_t>(slot) * kSlotSize;
    const size_t length = static_cast<size_t>(slots) * kSlotSize;
    board.SetFlash(start,
                   SlotHeaderBytes(kMagicElf, "bench application", static_cast<uint32_t>(length)));
    board.SetFlash(start + kHeaderSize,
                   PatternBytes(length - kHeaderSize, static_cast<uint32_t>(slot + 1)));
}

std::string WritePatternFile(const World& world, const std::string& name, size_t length) {
    const std::string path = world.folder + "/" + name;
    const std::vector<uint8_t> bytes = PatternBytes(length, static_cast<uint32_t>(length));
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.close();
    return file ? path : std::string();
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return {};
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file),
                                std::istreambuf_iterator<char>());
}
