// The hidden engineering commands: raw sector operations, block 0 erase, monitor and reset.
// They work on the flash directly: no catalogue, no bus request.
#include "ui/engineering_panel.h"

#include <windows.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/flash_layout.h"
#include "device/command_protocol.h"
#include "device/flash_transfer.h"
#include "device/hid_access.h"
#include "device/input_monitor.h"
#include "device/path_size.h"
#include "ui/file_dialog.h"
#include "ui/main_dialog.h"
#include "ui/resource.h"
#include "ui/status_line.h"

namespace {

constexpr char kBadCountText[] = "Invalid byte count field value (maximum count allowed is 16).";
constexpr char kBadAddressText[] = "Invalid address field value.";
constexpr char kOpenFailedText[] = "Failed to open file.";
constexpr char kBadSectorFileText[] = "Invalid syntax in hex file.";
constexpr char kReadFailedText[] = "Failed to read file.";
constexpr char kWriteFailedText[] = "Failed to write file.";
constexpr char kMatchText[] = "File content DOES match.";
constexpr char kMatchTitle[] = "Verification successfull";
constexpr char kMismatchText[] = "File contents does NOT match.";
constexpr char kMismatchTitle[] = "Verification failed";
constexpr char kBlankText[] = "Sector is blank.";
constexpr char kNotBlankText[] = "Sector is not blank.";
constexpr char kBlankTitle[] = "Blank Check";
constexpr char kResetText[] = "Board reset.\n\nUnplug and plug back device to re-enumerate.";
constexpr char kResetTitle[] = "Reset";
constexpr char kUploadName[] = "flash.hex";

constexpr size_t kFieldTextSize = 255;  // 254 characters and the terminator
constexpr uint16_t kMaxReadCount = 16;
constexpr size_t kByteTextSize = 3;  // "%02X "
// A sector of the panel is the first image chunk of a bank, read or written in one transfer.
constexpr uint16_t kSectorOffset = 0x0000;
constexpr int kBlockZero = 0;

// The verify has always passed over one byte in every 4 KB of the sector, at offset 0x555 of
// each. Kept, so that a sector and file that verified before still do.
constexpr uint32_t kUncomparedPeriod = 4096;
constexpr uint32_t kUncomparedOffset = 0x555;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The field conversion of scanf's "%x": white space, an optional sign, an optional 0x, then hex
// digits up to the first other character. The value wraps modulo 2^32 instead of overflowing
// (only its low 16 bits are used). False when there is no digit.
bool ParseHex(const char* text, uint32_t& value) {
    while (std::isspace(static_cast<unsigned char>(*text))) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X') && HexDigit(text[2]) >= 0) {
        text += 2;
    }
    if (HexDigit(*text) < 0) return false;
    uint32_t number = 0;
    for (; HexDigit(*text) >= 0; ++text) {
        number = number * 16 + static_cast<uint32_t>(HexDigit(*text));
    }
    value = negative ? 0u - number : number;
    return true;
}

// The text of one of the panel's fields; empty when the window has no such control.
void FieldText(HWND window, int id, char* text) {
    text[0] = '\0';
    HWND field = GetDlgItem(window, id);
    if (field == nullptr) return;
    // An empty field and a failure both leave 0 characters, and both parse as no number.
    if (GetWindowTextA(field, text, static_cast<int>(kFieldTextSize)) <= 0) text[0] = '\0';
}

// The bank is the entry chosen in the bank selector; with none chosen (or no selector), bank 0.
uint8_t SelectedBank(HWND window) {
    HWND selector = GetDlgItem(window, IDC_PANEL_BANK);
    if (selector == nullptr) return 0;
    LRESULT index = SendMessageA(selector, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR || index < 0) return 0;
    return static_cast<uint8_t>(index & 0xFF);
}

// Every transfer of the panel starts its own countdown.
int ReadSector(int bank, uint8_t* sector) {
    StartProgress(kChunkSize);
    return ReadFlash(static_cast<uint8_t>(bank & 0xFF), kSectorOffset, sector,
                     static_cast<uint16_t>(kChunkSize));
}

// A plain box owned by the main window: an OK button and no icon.
void ShowVerdict(const char* text, const char* title) {
    // The box has only an OK button; there is no answer to look at.
    static_cast<void>(MessageBoxA(MainWindow, text, title, MB_OK));
}

}  // namespace

int ManualRead(HWND window) {
    char text[kFieldTextSize];
    uint32_t number = 0;
    FieldText(window, IDC_PANEL_COUNT, text);
    if (!ParseHex(text, number) || static_cast<uint16_t>(number) > kMaxReadCount) {
        ShowError(kBadCountText);
        return 0;
    }
    const uint16_t count = static_cast<uint16_t>(number);

    FieldText(window, IDC_PANEL_ADDRESS, text);
    if (!ParseHex(text, number)) {
        ShowError(kBadAddressText);
        return 0;
    }
    const uint16_t offset = static_cast<uint16_t>(number);
    const uint8_t bank = SelectedBank(window);

    uint8_t data[kMaxReadCount] = {};
    StartProgress(count);
    // A count of 0 is refused by the read itself.
    if (!ReadFlash(bank, offset, data, count)) return 0;

    char shown[kMaxReadCount * kByteTextSize + 1] = {};
    for (uint16_t i = 0; i < count; ++i) {
        // Three characters a byte, sized for 16 bytes and the terminator: it always fits.
        static_cast<void>(std::snprintf(shown + i * kByteTextSize, sizeof shown - i * kByteTextSize,
                                        "%02X ", static_cast<unsigned>(data[i])));
    }
    HWND field = GetDlgItem(window, IDC_PANEL_DATA);
    if (field == nullptr) return 0;  // dialog 101: there is no data field to fill
    return SetWindowTextA(field, shown) ? 1 : 0;
}

void EraseBlockZero() {
    // EraseBank shows its own message; the panel has nothing to add either way.
    static_cast<void>(EraseBank(kBlockZero));
}

int LoadSectorFile(uint8_t* sector) {
    char path[kPathSize] = {};
    if (!ChooseFile(FileDialogKind::Open, MainWindow, nullptr, path)) return 0;

    // The closed dialog left a hole in the window; the transfer after this keeps the thread busy.
    RepaintMainWindow();

    std::memset(sector, kErasedByte, kChunkSize);
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        ShowError(kOpenFailedText);
        ShowError(kBadSectorFileText);
        return 0;
    }
    // A shorter file leaves the rest of the sector erased; a longer one is cut at 32 KB.
    const size_t read = std::fread(sector, 1, kChunkSize, file);
    const bool failed = read < kChunkSize && std::ferror(file) != 0;
    // Nothing was written through this stream: closing it cannot lose anything.
    static_cast<void>(std::fclose(file));
    if (failed) {
        // Half a file padded with 0xFF is not the file: send nothing rather than that.
        ShowError(kReadFailedText);
        return 0;
    }
    return 1;
}

int ProgramSector(int bank) {
    std::vector<uint8_t> sector(kChunkSize);
    if (!LoadSectorFile(sector.data())) return 0;
    // The sector is not erased first: programming only clears bits, as the board's user knows.
    StartProgress(kChunkSize);
    return WriteFlash(static_cast<uint8_t>(bank & 0xFF), kSectorOffset, sector.data(),
                      static_cast<uint16_t>(kChunkSize));
}

int VerifySector(int bank) {
    std::vector<uint8_t> file(kChunkSize);
    if (!LoadSectorFile(file.data())) return 0;
    std::vector<uint8_t> flash(kChunkSize, kErasedByte);
    // A failed read has shown its message, which is the only one.
    if (!ReadSector(bank, flash.data())) return 1;

    for (uint32_t j = 0; j < kChunkSize; ++j) {
        if (j % kUncomparedPeriod == kUncomparedOffset) continue;
        if (file[j] != flash[j]) {
            ShowVerdict(kMismatchText, kMismatchTitle);
            return 1;
        }
    }
    ShowVerdict(kMatchText, kMatchTitle);
    return 1;
}

int BlankCheck(int bank) {
    std::vector<uint8_t> sector(kChunkSize, kErasedByte);
    if (!ReadSector(bank, sector.data())) return 0;
    bool blank = true;
    for (uint8_t byte : sector) blank = blank && byte == kErasedByte;
    ShowVerdict(blank ? kBlankText : kNotBlankText, kBlankTitle);
    return 1;
}

int UploadSector(int bank) {
    std::vector<uint8_t> sector(kChunkSize, kErasedByte);
    if (!ReadSector(bank, sector.data())) return 0;

    char path[kPathSize] = {};
    static_assert(sizeof kUploadName <= sizeof path, "the default name fits the name buffer");
    std::memcpy(path, kUploadName, sizeof kUploadName);
    // The choice of a name is the user's answer: an existing file is replaced without a question.
    if (!ChooseFile(FileDialogKind::Save, MainWindow, nullptr, path)) return 0;

    RepaintMainWindow();

    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        ShowError(kOpenFailedText);
        return 0;
    }
    // A full disk may refuse the bytes at the write or only when the buffer goes out at the
    // close; either way the file is not the sector, and the user must not think it is.
    const bool written = std::fwrite(sector.data(), 1, kChunkSize, file) == kChunkSize;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        ShowError(kWriteFailedText);
        return 0;
    }
    return 1;
}

void StopMonitor() {
    if (MonitorThreadHandle == nullptr) return;
    // If the event cannot be set the thread runs on; a later StartMonitor resets it anyway.
    static_cast<void>(SetEvent(StopEvent));
    // The thread ends by itself once it sees the event; only our handle to it goes.
    static_cast<void>(CloseHandle(MonitorThreadHandle));
    MonitorThreadHandle = nullptr;
}

void PanelReset(HWND window) {
    // A reset that could not be sent has said so; the window is put back to not connected all
    // the same, since ResetBoard has given up the channel either way.
    static_cast<void>(ResetBoard());
    Disconnect(MonitorThreadHandle);
    MonitorThreadHandle = nullptr;
    SetPanelState(window, false);
    static_cast<void>(MessageBoxA(window, kResetText, kResetTitle, MB_OK));
}
