#include "operation_runs.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "catalogue/catalogue_scan.h"
#include "core/flash_layout.h"
#include "ui/flash_menu.h"
#include "ui/menu_commands.h"
#include "win32/standin.h"

void ChooseFileAlways(const std::string& path, int filterIndex) {
    standin::SetFileDialogHandler([path, filterIndex](const standin::FileDialogRecord&) {
        standin::FileDialogAnswer answer;
        answer.path = path;
        answer.filterIndex = static_cast<DWORD>(filterIndex);
        return answer;
    });
}

void WriteImage(const World& world, int start) {
    OnWriteButton(world.window);
    OnSlotClick(world.window, SlotButtonIds[start]);
}

void BackUp(const World& world, int owner) {
    OnReadButton(world.window);
    OnSlotClick(world.window, SlotButtonIds[owner]);
}

void Erase(const World& world, int owner) {
    OnEraseButton(world.window);
    OnSlotClick(world.window, SlotButtonIds[owner]);
}

void EraseEverything(const World& world) {
    world.board->FillFlash(kErasedByte);
    ScanCatalogue(world.window);
    SetFlashMenuMode(world.window, MenuMode::Idle);
}

void PrepareApplication(const World& world, int slots) {
    world.board->FillFlash(kErasedByte);
    LayApplication(*world.board, 0, slots);
    ScanCatalogue(world.window);
    SetFlashMenuMode(world.window, MenuMode::Idle);
}

bool FlashHoldsImage(const World& world, int start, const std::string& file) {
    const std::vector<uint8_t> bytes = ReadWholeFile(file);
    const std::vector<uint8_t> flash = world.board->Flash();
    const size_t at = static_cast<size_t>(start) * kSlotSize;
    if (bytes.empty() || at + kHeaderSize + bytes.size() > flash.size()) return false;
    const bool magic = std::memcmp(flash.data() + at, kMagicElf, kMagicSize) == 0;
    return magic && std::equal(bytes.begin(), bytes.end(), flash.begin() + at + kHeaderSize);
}

bool FileHoldsSlots(const World& world, const std::string& file, int slots) {
    const std::vector<uint8_t> bytes = ReadWholeFile(file);
    const std::vector<uint8_t> flash = world.board->Flash();
    const size_t length = static_cast<size_t>(slots) * kSlotSize;
    return bytes.size() == length && std::equal(bytes.begin(), bytes.end(), flash.begin());
}

bool AllSlotsFree() {
    return std::all_of(std::begin(SlotMap), std::end(SlotMap),
                       [](const SlotEntry& entry) { return entry.state == SlotState::Free; });
}
