#include "bench_world.h"

#include <filesystem>
#include <fstream>
#include <iostream>

#include "catalogue/catalogue_scan.h"
#include "core/flash_layout.h"
#include "device/flash_transfer.h"
#include "ui/flash_menu.h"
#include "win32/standin.h"

bool OpenWorld(World& world, sim::Board& board) {
    testworld::ResetStandin();
    // A long run would otherwise time and weigh the record of every report.
    standin::SetHistoryKept(false);
    board.SetHistoryKept(false);
    world = World();
    world.board = &board;

    testworld::PlugIn(board);

    // The erase question is answered Yes; any other box is an error box (OK) and a fault of
    // the run.
    standin::SetMessageBoxHandler([&world](const standin::MessageBoxRecord& box) {
        if ((box.type & MB_TYPEMASK) == MB_YESNO) return IDYES;
        ++world.unexpectedBoxes;
        std::cerr << "bench: message box \"" << box.text << "\"\n";
        return IDOK;
    });

    world.folder = testworld::MakeTempFolder("kelm_bench");
    if (world.folder.empty()) {
        std::cerr << "bench: no temporary folder\n";
        return false;
    }

    InitializeCriticalSection(&DeviceLock);
    world.window = testworld::OpenMainWindow(testworld::Buttons::WithFlashMenu);
    const std::string failed = testworld::OpenBoardLink();
    if (!failed.empty()) {
        std::cerr << "bench: " << failed << "\n";
        return false;
    }
    ScanCatalogue(world.window);
    SetFlashMenuMode(world.window, MenuMode::Idle);
    return true;
}

std::string CloseWorld(World& world) {
    testworld::CloseBoardLinkAndWindow(world.window);
    standin::SetMessageBoxHandler(nullptr);
    standin::SetFileDialogHandler(nullptr);
    if (!world.folder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(world.folder, ignored);
    }

    std::string faults;
    for (const std::string& fault : testworld::LeftBehind(0)) faults += fault + "; ";
    if (world.board != nullptr) {
        // Only breaches: the runs call the transfer routines alone too, without the bus.
        testworld::ProtocolAllowance allowed;
        allowed.flashWithoutBus = true;
        for (const std::string& breach : testworld::ProtocolFaults(*world.board, allowed)) {
            faults += breach + "; ";
        }
    }
    if (world.unexpectedBoxes != 0) {
        faults += std::to_string(world.unexpectedBoxes) + " error boxes; ";
    }
    return faults;
}

uint64_t ReportCount(const World& world) { return world.board->ExchangeCount(); }

int RepaintCount(const World& world) { return standin::RepaintCount(world.window); }

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
