// The flash menu's action buttons and the slot clicks.
#include "ui/menu_commands.h"

#include <windows.h>

#include <cstring>

#include "catalogue/catalogue_scan.h"
#include "core/flash_layout.h"
#include "operations/backup.h"
#include "operations/erase.h"
#include "operations/write_image.h"
#include "ui/flash_menu.h"
#include "ui/status_line.h"

namespace {

constexpr char kSelectApplicationText[] = "select application to erase!";
constexpr char kCorruptedText[] = "(CORRUPTED)";
constexpr char kEmptyBlockText[] = "(empty block)";

// The name field up to its zero byte; a field without one ends at byte 247, never beyond.
void ShowApplicationName(int owner) {
    char name[kNameSize + 1] = {};
    if (owner >= 0 && owner < kSlotCount) {
        const char* field = HeaderDirectory[owner].name;
        const void* end = std::memchr(field, '\0', kNameSize);
        const size_t length =
            end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - field) : kNameSize;
        std::memcpy(name, field, length);
    }
    SetStatusLine(name);
}

void ShowSlot(int slot) {
    switch (SlotMap[slot].state) {
        case SlotState::Used:
            ShowApplicationName(SlotMap[slot].owner);
            break;
        case SlotState::Corrupted:
            SetStatusLine(kCorruptedText);
            break;
        default:
            SetStatusLine(kEmptyBlockText);
            break;
    }
}

}  // namespace

void OnWriteButton(HWND window) {
    SetFlashMenuMode(window, MenuMode::Write);
    BeginImageWrite(window);
}

void OnReadButton(HWND window) { SetFlashMenuMode(window, MenuMode::Read); }

void OnEraseButton(HWND window) {
    SetFlashMenuMode(window, MenuMode::Erase);
    SetStatusLine(kSelectApplicationText);
}

void OnAbortButton(HWND window) { SetFlashMenuMode(window, MenuMode::Idle); }

void OnSlotClick(HWND window, int id) {
    const int slot = SlotForButtonId(id);
    if (slot < 0) return;

    ShowSlot(slot);
    // The push-like check box has already toggled itself; this sets what it must show.
    if (FlashMenuMode == MenuMode::Write) {
        HighlightRange(window, slot, PendingImage.slotCount);
    } else {
        HighlightApplication(window, slot);
    }

    const int owner = SlotMap[slot].owner;
    switch (FlashMenuMode) {
        case MenuMode::Write:
            WriteImageAt(window, slot);
            break;
        case MenuMode::Read:
            // The menu has nothing to do after a failed backup: it has told the user itself.
            static_cast<void>(BackupApplication(window, owner));
            break;
        case MenuMode::Erase:
            EraseApplication(window, owner);
            break;
        case MenuMode::Idle:
        default:
            break;
    }
}
