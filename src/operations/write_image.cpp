// Writing an image file into free slots: the file choice, then the write at the clicked slot.
#include "operations/write_image.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <ios>
#include <vector>

#include "catalogue/catalogue_scan.h"
#include "catalogue/placement.h"
#include "core/flash_layout.h"
#include "core/slot_header.h"
#include "device/command_protocol.h"
#include "device/flash_transfer.h"
#include "device/hid_access.h"
#include "operations/file_length.h"
#include "ui/file_dialog.h"
#include "ui/flash_menu.h"
#include "ui/status_line.h"

// Written by the dialog thread only: the open-file dialog fills the path, BeginImageWrite the
// rest; the slot click and WriteImageAt read it.
PendingImageState PendingImage = {};

// The kind is the position of the chosen pair; the list ends with the literal's second zero.
extern const char kImageFilter[] =
    "BIOS Files (*.gcb)\0*.gcb\0"
    "DOL Files (*.dol)\0*.dol\0"
    "ELF Files (*.elf)\0*.elf\0"
    "VGC Files (w/o special encryption) (*.VGC)\0*.vgc\0";

namespace {

constexpr int kImageKindCount = 4;
constexpr DWORD kFirstFilter = 1;

constexpr char kSelectFileText[] = "select file to write!";
constexpr char kSelectPlaceText[] = "select place to write!";
constexpr char kDoneText[] = "Done!";

constexpr char kCannotOpenChosenText[] = "Couldn't open file!";
constexpr char kEncryptedText[] =
    "Sorry, can't flash encrypted .VGC files!\nThey depend on undocumented features\n"
    "which are only available to insider persons!";
constexpr char kNoRoomText[] = "Sorry, not enough free space!\nPlease erase something first!";
constexpr char kCannotOpenAtClickText[] = "Failed to open file!";
constexpr char kGrownText[] = "The file has grown since it was chosen.\nPlease choose it again!";
constexpr char kTooSmallText[] = "file is too small!";
constexpr char kReadFailedText[] = "Failed to read file!";
constexpr char kFlashFailedText[] = "Flash failed!";

// An encrypted VGC file depends on keys the board's loader does not have. A file shorter than
// the 32-byte VGC header counts as plain: the missing bytes read as zero.
bool IsEncryptedVgc(std::ifstream& file) {
    char head[kVgcFileHeaderSize] = {};
    file.read(head, sizeof head);
    return (static_cast<uint8_t>(head[kVgcFlagsByte]) & kVgcEncryptedBit) != 0;
}

// Opens the chosen file, refuses an encrypted VGC and measures it; the file is closed when this
// returns. Null when the file may be placed, else the message that refuses it.
const char* MeasureChosenFile(ImageKind kind, uint64_t& fileLength) {
    std::ifstream file(PendingImage.path, std::ios::in | std::ios::binary);
    if (!file.is_open()) return kCannotOpenChosenText;
    if (kind == ImageKind::Vgc && IsEncryptedVgc(file)) return kEncryptedText;
    if (!MeasureFile(file, fileLength)) return kCannotOpenChosenText;
    return nullptr;
}

void FailChoice(HWND window, const char* text) {
    if (text != nullptr) ShowError(text);
    SetFlashMenuMode(window, MenuMode::Idle);
}

// The rescan shows what the flash now holds, whatever the write got to.
void FinishWrite(HWND window) {
    ScanCatalogue(window);
    SetFlashMenuMode(window, MenuMode::Idle);
}

}  // namespace

void BeginImageWrite(HWND window) {
    SetStatusLine(kSelectFileText);

    DWORD filterIndex = kFirstFilter;  // the filter chosen last is not remembered
    if (!ChooseFile(FileDialogKind::Open, window, kImageFilter, PendingImage.path, &filterIndex)) {
        FailChoice(window, nullptr);
        return;
    }
    // Without a custom filter the index is always one of the four pairs; anything else is not
    // a kind this tool knows how to write.
    if (filterIndex < kFirstFilter || filterIndex > static_cast<DWORD>(kImageKindCount)) {
        FailChoice(window, nullptr);
        return;
    }
    const ImageKind kind = static_cast<ImageKind>(filterIndex - kFirstFilter);

    uint64_t fileLength = 0;
    const char* refusal = MeasureChosenFile(kind, fileLength);
    if (refusal != nullptr) {
        FailChoice(window, refusal);
        return;
    }
    const int32_t alignMask = AlignMaskFor(kind);

    // Lengths stay 64-bit until they are known to fit the flash: a huge file must find no room
    // rather than wrap into a small slot count.
    const uint64_t slotCount = SlotCountFor(ImageLength(kind, fileLength));
    if (slotCount > static_cast<uint64_t>(kSlotCount) ||
        FirstPlace(static_cast<int32_t>(slotCount), alignMask) < 0) {
        FailChoice(window, kNoRoomText);
        return;
    }
    PendingImage.kind = kind;
    PendingImage.slotCount = static_cast<int32_t>(slotCount);
    PendingImage.alignMask = alignMask;

    SetStatusLine(kSelectPlaceText);
    EnablePlacementStarts(window, PendingImage.slotCount, PendingImage.alignMask);
}

namespace {

// How a write at the click ends; WriteImageAt acts on it in one place.
enum class ClickEnd {
    Stay,         // nothing sent: the message, the menu stays in Write mode, no scan
    NoBus,        // the bus was refused (its message shown): rescan, Idle
    ReadFailed,   // the file went short mid-write: bus back, message, rescan, Idle
    FlashFailed,  // a chunk failed (its message shown): "Flash failed!", the rest as it was
    Written,      // bus back, "Done!", rescan, Idle
};

struct ClickResult {
    ClickEnd end;
    const char* text;  // the message that WriteImageAt shows for this end, or null
};

// Sends the pending image from slot start out of file, which WriteImageAt has opened on its
// path; it stays open whatever the end.
ClickResult SendImage(std::ifstream& file, int start) {
    std::vector<uint8_t> chunk(kChunkSize, kErasedByte);
    StartProgress(static_cast<uint32_t>(PendingImage.slotCount) * kSlotSize);

    uint64_t fileLength = 0;
    if (!file.is_open() || !MeasureFile(file, fileLength)) {
        return {ClickEnd::Stay, kCannotOpenAtClickText};
    }
    const ImageKind kind = PendingImage.kind;
    const uint64_t imageLength = ImageLength(kind, fileLength);
    // The run was placed for the length at the choice; a longer image would spill over into
    // slots that were never checked.
    if (SlotCountFor(imageLength) > static_cast<uint64_t>(PendingImage.slotCount)) {
        return {ClickEnd::Stay, kGrownText};
    }

    uint8_t gcbHead[kHeaderSize] = {};
    uint64_t consumed = 0;  // file bytes already read
    if (kind == ImageKind::Bios) {
        file.read(reinterpret_cast<char*>(gcbHead), sizeof gcbHead);
        if (file.gcount() != static_cast<std::streamsize>(sizeof gcbHead)) {
            return {ClickEnd::Stay, kTooSmallText};
        }
        consumed = kHeaderSize;
    }
    BuildHeaderPart(chunk.data(), kind, PendingImage.path, fileLength, gcbHead);
    uint32_t headerPart = HeaderPartSize(kind);
    uint64_t remaining = fileLength - consumed;

    if (!GetBus()) return {ClickEnd::NoBus, nullptr};

    // Only a .gcb file of exactly its header has nothing left to send.
    if (imageLength == consumed) return {ClickEnd::Written, nullptr};
    int bank = start;
    uint32_t offset = 0;
    do {
        const uint32_t room = kChunkSize - headerPart;
        const uint32_t n =
            static_cast<uint32_t>(std::min<uint64_t>(remaining, static_cast<uint64_t>(room)));
        file.read(reinterpret_cast<char*>(chunk.data() + headerPart), n);
        const uint32_t got = static_cast<uint32_t>(std::max<std::streamsize>(file.gcount(), 0));
        // The chunk still holds the previous chunk's bytes: never send those again.
        std::fill(chunk.begin() + headerPart + got, chunk.end(), kErasedByte);
        if (got != n) return {ClickEnd::ReadFailed, kReadFailedText};
        if (!WriteFlash(static_cast<uint8_t>(bank), static_cast<uint16_t>(offset), chunk.data(),
                        static_cast<uint16_t>(kChunkSize))) {
            return {ClickEnd::FlashFailed, kFlashFailedText};
        }
        remaining -= n;
        headerPart = 0;
        offset += kChunkSize;
        if (offset == kSlotSize) {
            ++bank;
            offset = 0;
        }
    } while (remaining != 0);
    return {ClickEnd::Written, nullptr};
}

}  // namespace

void WriteImageAt(HWND window, int start) {
    // Only feasible starts are enabled, but a command can still name any slot button: never
    // write over an occupied slot or past the end of the flash.
    if (!CanPlace(start, PendingImage.slotCount, PendingImage.alignMask)) return;

    std::ifstream file(PendingImage.path, std::ios::in | std::ios::binary);
    const ClickResult result = SendImage(file, start);
    if (result.end == ClickEnd::ReadFailed) {
        // The board is fine, only the file failed: the bus goes back before the message, and
        // the rescan shows what reached the flash.
        static_cast<void>(ReleaseBus());  // a failure has shown its own message
    }
    // The message of a refused or failed write comes while the file is still open: until the
    // user has dismissed it, the file cannot be deleted or renamed on Windows.
    if (result.text != nullptr) ShowError(result.text);
    // The one close, on every path: after the message, before a finished write hands the bus
    // back.
    file.close();
    switch (result.end) {
        case ClickEnd::Stay:
        case ClickEnd::FlashFailed:
            // After a failed chunk deliberately no ReleaseBus and no rescan: the board stopped
            // answering mid-chunk, and the menu stays in Write mode so that the user may click
            // the start again.
            break;
        case ClickEnd::NoBus:
        case ClickEnd::ReadFailed:
            FinishWrite(window);
            break;
        case ClickEnd::Written:
            static_cast<void>(
                ReleaseBus());  // a failure has shown its message; "Done!" all the same
            SetStatusLine(kDoneText);
            FinishWrite(window);
            break;
    }
}
