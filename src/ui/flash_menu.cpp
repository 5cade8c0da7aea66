// The flash menu's modes and the enabled and checked states of its buttons.
#include "ui/flash_menu.h"

#include <windows.h>

#include <cstdint>

#include "catalogue/catalogue_scan.h"
#include "catalogue/placement.h"
#include "ui/controls.h"
#include "ui/resource.h"

// Changed only by SetFlashMenuMode, on the dialog thread.
MenuMode FlashMenuMode = MenuMode::Idle;

namespace {

// The action buttons, in the order their states are set.
constexpr int kActionButtons[] = {IDC_WRITE, IDC_READ, IDC_ERASE};

void CheckSlot(HWND window, int slot, bool checked) {
    HWND button = GetDlgItem(window, SlotButtonIds[slot]);
    if (button == nullptr) return;
    // BM_SETCHECK always answers 0.
    static_cast<void>(SendMessageA(button, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0));
}

bool IsSlot(int slot) { return slot >= 0 && slot < kSlotCount; }

}  // namespace

void SetFlashMenuMode(HWND window, MenuMode mode) {
    FlashMenuMode = mode;
    bool idle = mode == MenuMode::Idle;
    for (int id : kActionButtons) EnableControl(window, id, idle);
    EnableControl(window, IDC_ABORT, !idle);

    switch (mode) {
        case MenuMode::Idle:
        case MenuMode::Read:
        case MenuMode::Erase:
            HighlightApplication(window, kNoSlot);
            EnableSlotsByUse(window, true);
            break;
        case MenuMode::Write:
            // Which starts are offered is up to BeginImageWrite, which runs right after.
            HighlightApplication(window, kNoSlot);
            break;
        default:
            break;
    }
}

void DisableFlashMenu(HWND window) {
    for (int slot = 0; slot < kSlotCount; ++slot) EnableControl(window, SlotButtonIds[slot], false);
    for (int id : kActionButtons) EnableControl(window, id, false);
    EnableControl(window, IDC_ABORT, false);
    EnableControl(window, IDC_FORMAT, false);
    // With no button to select this unchecks the whole group; it fails only where the window
    // lacks the radio buttons, and then there is nothing to uncheck.
    static_cast<void>(CheckRadioButton(window, IDC_RADIO_1, IDC_RADIO_6, 0));
}

void HighlightApplication(HWND window, int slot) {
    // Anything but a slot (kNoSlot among them) matches no owner and unchecks every button.
    int key = IsSlot(slot) ? SlotMap[slot].owner : slot;
    for (int k = 0; k < kSlotCount; ++k) CheckSlot(window, k, SlotMap[k].owner == key);
}

void HighlightRange(HWND window, int start, int count) {
    int64_t end = static_cast<int64_t>(start) + count;
    for (int k = 0; k < kSlotCount; ++k) CheckSlot(window, k, start <= k && k < end);
}

void EnableSlotsByUse(HWND window, bool used) {
    for (int k = 0; k < kSlotCount; ++k) {
        EnableControl(window, SlotButtonIds[k], (SlotMap[k].state != SlotState::Free) == used);
    }
}

void EnablePlacementStarts(HWND window, int count, int alignMask) {
    for (int k = 0; k < kSlotCount; ++k) {
        EnableControl(window, SlotButtonIds[k], CanPlace(k, count, alignMask));
    }
}
