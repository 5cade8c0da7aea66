// kelmtool's inputs from outside: image files of every kind and length written onto random
// flash, and dump files restored. The model of a write is the window's own write: the target
// drives it through the stand-in as image_write_fuzz does (the file chosen under its kind's
// filter, the start clicked) on a board holding the same flash with its free slots erased, then
// runs kelmtool's write command on a --sim flash file holding the flash as laid out. Where the
// free slots were erased, the flash file must then hold the window's flash byte for byte, the
// header part and placement from the shared core and every 0xFF that kelmtool's write plan
// skipped included. Where free slots hold leftovers behind their erased header, kelmtool erases
// the slots of its run before it writes, so the window's write onto them erased is still the
// model: the run must hold exactly the image (header part, file, 0xFF to the run's end), and
// nothing outside the run may change. kelmtool must report the write done (and verified, with
// --verify) exactly when the window sent something and the image is one kelmtool takes, and
// refuse (exit 2) with the flash left as laid out otherwise. It refuses some files that the
// window writes: a DOL shorter than its own 256-byte header, an empty file, an ELF that does not
// start with 7f 45 4c 46, a .gcb whose first 4 bytes are no slot magic. A restore must leave the
// dump itself in the flash file, or, for a file of the wrong size, refuse and leave the flash as
// it was.
//
// Input, byte 0, its two low bits: 1 a dump restored (a quarter of random inputs: a restore moves
// 2 MB every time), else an image write.
// Image write:
//   byte 1      the kind (modulo 4: .gcb, .dol, .elf, .vgc)
//   byte 2      which of the feasible starts is given as --slot
//   bytes 3-6   slots already taken by a one-slot application (bit n: slot n)
//   byte 7      bit 0: free slots hold leftovers behind their erased header (programming can
//               only clear bits, so only an erase before the write gets rid of them);
//               bit 1: a long file of the length in bytes 8-10, made of the payload repeated;
//               bits 4-7: a right shift of that length (most inputs stay short and quick)
//   bytes 8-10  that length (little-endian), taken modulo 2 MB + 128 KB + 1
//   byte 11     length of the file's name, 1 to 230 characters (long paths shorten the name)
//   byte 12     bit 0: --slot given (else kelmtool and the window take the first feasible
//               start); bit 1: --kind given, the file's extension naming no kind; bit 2:
//               --verify; bit 3: the extension in capitals
//   byte 13     the leftover byte
//   byte 14 on  the payload; without bit 1 of byte 7 it is the file itself
// Dump restored:
//   byte 1      bit 0: --verify; bit 1: a file of the wrong size
//   bytes 2-5   slots of the dump holding data (bit n: slot n); the others erased
//   byte 6      length of the 0xFF runs punched into the data (0: none), around the length
//               a write skips
//   byte 7      the distance between those runs, in steps of 64 bytes
//   bytes 8-9   the wrong size's difference from 2 MB (signed; 0 counts as -1)
//   byte 10 on  the payload, repeated to fill the data slots
#include <windows.h>

#include <stdlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "catalogue/catalogue_scan.h"
#include "core/flash_layout.h"
#include "core/slot_header.h"
#include "fuzz_world.h"
#include "kelmtool_runs.h"
#include "operations/write_image.h"
#include "sim/board.h"
#include "ui/flash_menu.h"
#include "win32/standin.h"

namespace {

using fuzzworld::Check;
using fuzzworld::TakeNumber;

constexpr size_t kImageFixedBytes = 14;
constexpr size_t kDumpFixedBytes = 10;
constexpr uint32_t kLongestFile = kFlashSize + 2 * kSlotSize;
constexpr size_t kLongestName = 230;
constexpr uint32_t kRunDistanceStep = 64;
constexpr char kTakenMagic[4] = {'E', 'L', 'F', 0};
constexpr uint8_t kModeBits = 3;
constexpr uint8_t kDumpMode = 1;
constexpr int kDone = 0;
constexpr int kBadInput = 2;
constexpr size_t kDolFileHeaderSize = 256;
constexpr uint8_t kElfFileMagic[] = {0x7f, 'E', 'L', 'F'};
const char* const kSlotMagics[] = {kMagicBios, kMagicElf, kMagicDol, kMagicBin};

const char* const kExtensions[] = {"gcb", "dol", "elf", "vgc"};
constexpr char kNoKindExtension[] = "img";

// Set up by LLVMFuzzerInitialize; written by libFuzzer's thread only.
sim::Board* gBoard = nullptr;
std::vector<uint8_t>* gBefore = nullptr;  // the flash as laid out
std::vector<uint8_t>* gErased = nullptr;  // the same with every free slot erased
std::string* gFlashFolder = nullptr;      // for the flash file and the dumps
std::string* gFlashFile = nullptr;        // kelmtool's --sim flash file

// The simulated board writes its flash file through on every data report: in memory
// (/dev/shm) where there is such a folder, a disk's page cache would take half of every run.
// Image files stay in the common folder, whose short path the window's 260-byte buffer needs.
std::string FlashFolder() {
    char folder[] = "/dev/shm/kelm_fuzz_XXXXXX";
    if (mkdtemp(folder) == nullptr) return fuzzworld::TempFolder();
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(*gFlashFolder, ignored);
    });
    return folder;
}

struct ImageCase {
    int kind = 0;
    uint8_t pick = 0;
    uint32_t taken = 0;
    bool leftovers = false;
    uint8_t leftover = 0;
    bool slotGiven = false;
    bool kindGiven = false;
    bool verify = false;
    std::string path;
    std::vector<uint8_t> file;
};

struct DumpCase {
    bool verify = false;
    bool wrongSize = false;
    std::vector<uint8_t> dump;  // the file, of whatever size
    // The flash it is restored onto: applications where the dump is erased, leftovers of the
    // run length's byte elsewhere.
    ImageCase before;
};

// length bytes of the payload repeated; without a payload, a fixed byte. Bulk copies: a loop
// per byte would spend the run in libFuzzer's comparison hooks.
std::vector<uint8_t> Repeated(const uint8_t* payload, size_t payloadSize, size_t length) {
    std::vector<uint8_t> bytes(length, 0x6B);
    for (size_t at = 0; payloadSize != 0 && at < bytes.size(); at += payloadSize) {
        std::memcpy(bytes.data() + at, payload, std::min(payloadSize, bytes.size() - at));
    }
    return bytes;
}

ImageCase DecodeImage(const uint8_t* data, size_t size) {
    ImageCase c;
    size_t pos = 1;
    c.kind = static_cast<int>(TakeNumber(data, size, pos, 1) % 4);
    c.pick = static_cast<uint8_t>(TakeNumber(data, size, pos, 1));
    c.taken = TakeNumber(data, size, pos, 4);
    const uint32_t flags = TakeNumber(data, size, pos, 1);
    const uint32_t longLength =
        (TakeNumber(data, size, pos, 3) % (kLongestFile + 1)) >> (flags >> 4);
    const size_t nameLength = 1 + TakeNumber(data, size, pos, 1) % kLongestName;
    const uint32_t options = TakeNumber(data, size, pos, 1);
    c.leftover = static_cast<uint8_t>(TakeNumber(data, size, pos, 1));
    c.leftovers = (flags & 1) != 0;
    c.slotGiven = (options & 1) != 0;
    c.kindGiven = (options & 2) != 0;
    c.verify = (options & 4) != 0;
    const uint8_t* payload = data + std::min(size, kImageFixedBytes);
    const size_t payloadSize = size > kImageFixedBytes ? size - kImageFixedBytes : 0;
    if ((flags & 2) != 0) {
        c.file = Repeated(payload, payloadSize, longLength);
    } else {
        c.file.assign(payload, payload + payloadSize);
    }
    std::string name;
    for (size_t i = 0; i < nameLength; ++i) name.push_back(static_cast<char>('a' + i % 26));
    std::string extension = c.kindGiven ? kNoKindExtension : kExtensions[c.kind];
    if ((options & 8) != 0) {
        std::transform(extension.begin(), extension.end(), extension.begin(), ::toupper);
    }
    c.path = fuzzworld::TempFolder() + "/" + name + "." + extension;
    return c;
}

DumpCase DecodeDump(const uint8_t* data, size_t size) {
    DumpCase c;
    size_t pos = 1;
    const uint32_t flags = TakeNumber(data, size, pos, 1);
    const uint32_t dataSlots = TakeNumber(data, size, pos, 4);
    const uint32_t runLength = TakeNumber(data, size, pos, 1);
    const uint32_t distance = (1 + TakeNumber(data, size, pos, 1)) * kRunDistanceStep;
    const int16_t difference = static_cast<int16_t>(TakeNumber(data, size, pos, 2));
    c.verify = (flags & 1) != 0;
    c.wrongSize = (flags & 2) != 0;
    c.before.taken = ~dataSlots;
    c.before.leftovers = true;
    c.before.leftover = static_cast<uint8_t>(runLength);
    const uint8_t* payload = data + std::min(size, kDumpFixedBytes);
    const size_t payloadSize = size > kDumpFixedBytes ? size - kDumpFixedBytes : 0;
    const std::vector<uint8_t> slotBytes = Repeated(payload, payloadSize, kSlotSize);
    c.dump.assign(kFlashSize, kErasedByte);
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if ((dataSlots >> slot & 1) == 0) continue;
        uint8_t* at = c.dump.data() + static_cast<size_t>(slot) * kSlotSize;
        std::memcpy(at, slotBytes.data(), kSlotSize);
        for (uint32_t run = distance; runLength != 0 && run < kSlotSize; run += distance) {
            std::memset(at + run, kErasedByte, std::min<uint32_t>(runLength, kSlotSize - run));
        }
    }
    if (c.wrongSize) {
        const int64_t length =
            static_cast<int64_t>(kFlashSize) + (difference != 0 ? difference : -1);
        c.dump.resize(static_cast<size_t>(length), 0);
    }
    return c;
}

void LayOut(const ImageCase& c, bool leftovers, std::vector<uint8_t>& flash) {
    std::fill(flash.begin(), flash.end(), kErasedByte);
    for (int slot = 0; slot < kSlotCount; ++slot) {
        uint8_t* at = flash.data() + static_cast<size_t>(slot) * kSlotSize;
        if ((c.taken >> slot & 1) != 0) {
            std::memset(at, 0, kHeaderSize);
            std::memcpy(at, kTakenMagic, sizeof kTakenMagic);
            std::snprintf(reinterpret_cast<char*>(at + kNameOffset), kNameSize, "taken %d", slot);
            WriteBigEndian32(at + kSizeOffset, kSlotSize);
            std::memset(at + kHeaderSize, 0x20 + slot, kSlotSize - kHeaderSize);
        } else if (leftovers) {
            std::memset(at + kHeaderSize, c.leftover, kSlotSize - kHeaderSize);
        }
    }
}

void PutFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    Check(static_cast<bool>(out), "cannot write " + path);
}

// Whole-file reads and compares in bulk: a loop per byte over 2 MB would spend the run in
// libFuzzer's comparison hooks.
std::vector<uint8_t> GetFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    Check(file != nullptr, "cannot open " + path);
    bool read = std::fseek(file, 0, SEEK_END) == 0;
    const long length = read ? std::ftell(file) : -1;
    read = read && length >= 0 && std::fseek(file, 0, SEEK_SET) == 0;
    if (read) {
        // One byte more, so that an empty file's buffer is not null.
        bytes.resize(static_cast<size_t>(length) + 1);
        read = std::fread(bytes.data(), 1, static_cast<size_t>(length), file) ==
               static_cast<size_t>(length);
        bytes.pop_back();
    }
    const bool closed = std::fclose(file) == 0;
    Check(read && closed, "cannot read " + path);
    return bytes;
}

void CheckFlash(const std::vector<uint8_t>& actual, const std::vector<uint8_t>& expected,
                const std::string& what) {
    Check(actual.size() == kFlashSize,
          what + ": the flash file is " + std::to_string(actual.size()) + " bytes long");
    if (std::memcmp(actual.data(), expected.data(), kFlashSize) == 0) return;
    const auto differs = std::mismatch(actual.begin(), actual.end(), expected.begin());
    const size_t at = static_cast<size_t>(differs.first - actual.begin());
    fuzzworld::Fail(what + ": flash byte " + std::to_string(at) + " (slot " +
                    std::to_string(at / kSlotSize) + ") is " + std::to_string(*differs.first) +
                    ", expected " + std::to_string(*differs.second));
}

uint64_t HeaderPartOf(int kind) {
    const ImageKind k = static_cast<ImageKind>(kind);
    return k == ImageKind::Bios ? 0 : k == ImageKind::Vgc ? kVgcHeaderPartSize : kHeaderSize;
}

uint64_t ImageLengthOf(const ImageCase& c) { return c.file.size() + HeaderPartOf(c.kind); }

// The files kelmtool refuses although the window writes them: no board could run them.
bool RefusedByKelmtool(const ImageCase& c) {
    const std::vector<uint8_t>& file = c.file;
    if (file.empty()) return true;
    switch (static_cast<ImageKind>(c.kind)) {
        case ImageKind::Dol:
            return file.size() < kDolFileHeaderSize;
        case ImageKind::Elf:
            return file.size() < sizeof kElfFileMagic ||
                   std::memcmp(file.data(), kElfFileMagic, sizeof kElfFileMagic) != 0;
        case ImageKind::Bios:
            return file.size() < kMagicOffset + kMagicSize ||
                   std::none_of(
                       std::begin(kSlotMagics), std::end(kSlotMagics), [&file](const char* magic) {
                           return std::memcmp(file.data() + kMagicOffset, magic, kMagicSize) == 0;
                       });
        case ImageKind::Vgc:
        default:
            return false;
    }
}

// The window's write of the file at the start the case asks for, on flash. Returns the start it
// wrote at (-1: none offered or refused); sent tells whether any CMD_WRITE went out; after is the
// flash it left.
int WindowWrite(const ImageCase& c, const std::vector<uint8_t>& flash, bool& sent,
                std::vector<uint8_t>& after) {
    sim::Board& board = *gBoard;
    HWND window = fuzzworld::Connect(board);
    board.SetFlash(0, flash);
    for (int slot = 0; slot < kSlotCount; ++slot) {
        SlotMap[slot] = (c.taken >> slot & 1) != 0 ? SlotEntry{SlotState::Used, slot}
                                                   : SlotEntry{SlotState::Free, -1};
    }
    SetFlashMenuMode(window, MenuMode::Write);
    standin::ClearMessageBoxes();
    board.ClearLog();

    standin::FileDialogAnswer answer;
    answer.path = c.path;
    answer.filterIndex = static_cast<DWORD>(c.kind) + 1;
    standin::QueueFileDialogAnswers({answer});
    BeginImageWrite(window);
    std::vector<int> enabled;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (standin::Enabled(window, SlotButtonIds[slot])) enabled.push_back(slot);
    }
    int start = -1;
    if (fuzzworld::BoxTexts().empty() && !enabled.empty()) {
        start = c.slotGiven ? enabled[c.pick % enabled.size()] : enabled.front();
        WriteImageAt(window, start);
        if (!fuzzworld::BoxTexts().empty()) start = -1;
    }
    sent = board.CountCommands(sim::kCmdWrite) != 0;
    after = board.Flash();
    fuzzworld::Disconnect(board, window);
    return start;
}

// What kelmtool's write must leave: the window's flash where the free slots were erased; over
// leftovers, the window's run on the flash as laid out.
std::vector<uint8_t> Expected(const ImageCase& c, int start, const std::vector<uint8_t>& window) {
    if (!c.leftovers) return window;
    std::vector<uint8_t> expected = *gBefore;
    const size_t begin = static_cast<size_t>(start) * kSlotSize;
    const size_t end = begin + (ImageLengthOf(c) + kSlotSize - 1) / kSlotSize * kSlotSize;
    std::copy(window.begin() + begin, window.begin() + end, expected.begin() + begin);
    return expected;
}

void RunImage(const ImageCase& c) {
    LayOut(c, c.leftovers, *gBefore);
    LayOut(c, false, *gErased);
    PutFile(c.path, c.file);
    bool sent = false;
    std::vector<uint8_t> windowFlash;
    const int start = WindowWrite(c, *gErased, sent, windowFlash);

    PutFile(*gFlashFile, *gBefore);
    // A --slot the window had nothing to offer for still names a slot: kelmtool must refuse it.
    const int slot = !c.slotGiven ? -1 : start >= 0 ? start : c.pick % kSlotCount;
    const kelmtoolrun::Result result =
        kelmtoolrun::Write(*gFlashFile, c.path, c.kindGiven ? c.kind : -1, slot, c.verify);
    const std::vector<uint8_t> flash = GetFile(*gFlashFile);
    if (!sent || RefusedByKelmtool(c)) {
        CheckFlash(flash, *gBefore, "a refused write");
        Check(result.exitCode == kBadInput,
              std::string("kelmtool did not refuse what ") +
                  (sent ? "no board could run" : "the window did not write") + ": exit " +
                  std::to_string(result.exitCode) + ", " + result.message);
        Check(!result.message.empty(), "a refusal without a message");
    } else {
        Check(start >= 0, "the window sent data and then reported a failure");
        CheckFlash(flash, Expected(c, start, windowFlash), "kelmtool's write against the window's");
        Check(result.exitCode == kDone, "kelmtool did not write what the window wrote: exit " +
                                            std::to_string(result.exitCode) + ", " +
                                            result.message);
        Check(result.slot == start, "kelmtool wrote at slot " + std::to_string(result.slot) +
                                        ", the window at " + std::to_string(start));
        const uint64_t imageLength = ImageLengthOf(c);
        Check(result.bytes == imageLength, "kelmtool reports " + std::to_string(result.bytes) +
                                               " bytes, the image has " +
                                               std::to_string(imageLength));
        Check(static_cast<uint64_t>(result.slots) == (imageLength + kSlotSize - 1) / kSlotSize,
              "kelmtool reports a wrong slot count");
    }
    Check(std::remove(c.path.c_str()) == 0, "cannot remove " + c.path);
}

void RunDump(const DumpCase& c) {
    LayOut(c.before, c.before.leftovers, *gBefore);
    const std::string path = *gFlashFolder + "/dump.bin";
    PutFile(path, c.dump);
    PutFile(*gFlashFile, *gBefore);
    const kelmtoolrun::Result result = kelmtoolrun::Restore(*gFlashFile, path, c.verify);
    const std::vector<uint8_t> after = GetFile(*gFlashFile);
    if (c.wrongSize) {
        Check(result.exitCode == kBadInput, "a dump of " + std::to_string(c.dump.size()) +
                                                " bytes was not refused: exit " +
                                                std::to_string(result.exitCode));
        CheckFlash(after, *gBefore, "a refused restore");
    } else {
        Check(
            result.exitCode == kDone,
            "the restore failed: exit " + std::to_string(result.exitCode) + ", " + result.message);
        CheckFlash(after, c.dump, "the restored flash against the dump");
    }
    Check(std::remove(path.c_str()) == 0, "cannot remove " + path);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzworld::Init();
    gBoard = new sim::Board();
    gBefore = new std::vector<uint8_t>(kFlashSize, kErasedByte);
    gErased = new std::vector<uint8_t>(kFlashSize, kErasedByte);
    gFlashFolder = new std::string(FlashFolder());
    gFlashFile = new std::string(*gFlashFolder + "/flash.bin");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || (data[0] & kModeBits) != kDumpMode) {
        RunImage(DecodeImage(data, size));
    } else {
        RunDump(DecodeDump(data, size));
    }
    return 0;
}
