// Erasing an application: every slot it owns, each under a bus request of its own.
#include "operations/erase.h"

#include <windows.h>

#include <cstdio>

#include "catalogue/catalogue_scan.h"
#include "core/flash_layout.h"
#include "device/command_protocol.h"
#include "ui/flash_menu.h"
#include "ui/status_line.h"

namespace {

constexpr char kConfirmText[] = "Do you really want to erase the\nselected application?\n";
constexpr char kConfirmCaption[] = "Warning";
constexpr UINT kConfirmType = MB_YESNO | MB_ICONWARNING;
constexpr char kErasingFormat[] = "Please wait, erasing block: %d ";
constexpr char kSlotDoneText[] = "Done !";
constexpr size_t kErasingTextSize = 64;

void EraseSlot(int slot) {
    char text[kErasingTextSize];
    const int written = std::snprintf(text, sizeof text, kErasingFormat, slot);
    if (written > 0) SetStatusLine(text);
    // The erase result is not looked at: a slot whose command did not go out still shows up
    // as it is in the rescan that follows.
    // Not examined, as ever: a command that did not go out has shown its message, and the
    // rescan afterwards shows what the slot holds.
    static_cast<void>(EraseBank(slot));
    RepaintMainWindow();
    SetStatusLine(kSlotDoneText);
}

}  // namespace

void EraseApplication(HWND window, int owner) {
    // Free slots own nothing (owner -1): erasing "their application" would erase every free
    // slot. Their buttons are disabled in Erase mode, but a command can still name one.
    if (owner < 0 || owner >= kSlotCount) return;
    // A failed box (0) is no Yes either.
    if (MessageBoxA(window, kConfirmText, kConfirmCaption, kConfirmType) != IDYES) return;

    // The bus goes back after every slot, so the other side is never locked out for the whole
    // application.
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (SlotMap[slot].owner != owner) continue;
        if (!GetBus()) continue;
        EraseSlot(slot);
        // A failed release has shown its message; the next slot asks for the bus afresh.
        static_cast<void>(ReleaseBus());
    }

    ScanCatalogue(window);
    SetFlashMenuMode(window, MenuMode::Idle);
}
