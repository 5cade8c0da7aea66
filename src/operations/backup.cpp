// Backing an application up into a .gcb file: a raw copy of its slots.
#include "operations/backup.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <ios>
#include <vector>

#include "catalogue/catalogue_scan.h"
#include "core/flash_layout.h"
#include "core/slot_map.h"
#include "device/command_protocol.h"
#include "device/flash_transfer.h"
#include "device/hid_access.h"
#include "device/path_size.h"
#include "ui/file_dialog.h"
#include "ui/flash_menu.h"
#include "ui/status_line.h"

namespace {

constexpr char kDefaultName[] = "file.gcb";
constexpr char kBackupFilter[] = "BIOS Files(*.gcb)\0*.gcb\0";
constexpr char kDoneText[] = "Done!";
constexpr char kOpenFailedText[] = "Failed to open file.";
constexpr char kWriteFailedText[] = "Failed to write file.";

// A half slot of flash appended to the file; false when the disk refused it.
bool Append(std::ofstream& file, const std::vector<uint8_t>& piece) {
    file.write(reinterpret_cast<const char*>(piece.data()),
               static_cast<std::streamsize>(piece.size()));
    return static_cast<bool>(file);
}

// A backup the disk could not take is no backup: say so instead of "Done!", and hand the bus
// back, since the board itself is fine.
int FailWrite(HWND window) {
    static_cast<void>(ReleaseBus());  // a failure has shown its own message
    ShowError(kWriteFailedText);
    SetFlashMenuMode(window, MenuMode::Idle);
    return 0;
}

// How saving the run ended.
enum class SaveEnd { Saved, NoBus, ReadFailed, WriteFailed };

// Reads the run's slots half by half into the open file, under the bus it asks for.
SaveEnd SaveRun(std::ofstream& file, int owner, int run) {
    if (!GetBus()) return SaveEnd::NoBus;
    StartProgress(static_cast<uint32_t>(run) * kSlotSize);
    std::vector<uint8_t> piece(kChunkSize, kErasedByte);
    for (int j = 0; j < run; ++j) {
        const uint8_t bank = static_cast<uint8_t>(owner + j);
        for (uint32_t offset = 0; offset < kSlotSize; offset += kChunkSize) {
            // A failed read keeps the whole pieces saved so far.
            if (!ReadFlash(bank, static_cast<uint16_t>(offset), piece.data(),
                           static_cast<uint16_t>(kChunkSize))) {
                return SaveEnd::ReadFailed;
            }
            if (!Append(file, piece)) return SaveEnd::WriteFailed;
        }
    }
    return SaveEnd::Saved;
}

}  // namespace

int CountSlotRun(int owner) { return RunOf(SlotMap, owner); }

int BackupApplication(HWND window, int owner) {
    const int run = CountSlotRun(owner);

    char path[kPathSize] = {};
    static_assert(sizeof kDefaultName <= sizeof path, "the default name fits the name buffer");
    std::memcpy(path, kDefaultName, sizeof kDefaultName);
    // The choice of a name is the user's answer: an existing file is replaced without a question.
    if (!ChooseFile(FileDialogKind::Save, window, kBackupFilter, path)) return 0;

    // The closed dialog left a hole in the window; the transfer below keeps the thread busy.
    RepaintMainWindow();

    std::ofstream file(path, std::ios::out | std::ios::binary | std::ios::trunc);
    if (!file.is_open()) {
        ShowError(kOpenFailedText);
        SetFlashMenuMode(window, MenuMode::Idle);
        return 0;
    }
    SaveEnd end = SaveRun(file, owner, run);
    // The one close of the file, on every path; a close that fails loses what was buffered.
    file.close();
    if (end == SaveEnd::Saved && file.fail()) end = SaveEnd::WriteFailed;
    switch (end) {
        case SaveEnd::NoBus:
            SetFlashMenuMode(window, MenuMode::Idle);
            return 0;
        case SaveEnd::ReadFailed:
            // The read has shown its message. A board that stopped answering mid-transfer is
            // not sent the release, and the menu stays in Read so that a click on the slot
            // tries the backup again.
            return 0;
        case SaveEnd::WriteFailed:
            return FailWrite(window);
        case SaveEnd::Saved:
        default:
            break;
    }
    static_cast<void>(ReleaseBus());  // a failure has shown its message; the file is saved
    SetStatusLine(kDoneText);
    SetFlashMenuMode(window, MenuMode::Idle);
    return 1;
}
