// Writing arbitrary files of every kind at arbitrary feasible starts. The whole road runs: the
// file chosen through the open-file dialog, the room test, the enabled start buttons, the write
// at one of them through the simulated board, and the rescan. Afterwards the flash must hold
// exactly the image (header part as the kind prescribes, then the file, then 0xFF to the end of
// the last chunk) programmed over what the run held, inside the run, and nothing outside it may
// have changed. Refusals (encrypted VGC, no room, a .gcb shorter than its header, a file grown
// past the run it was placed for) must leave the flash untouched.
//
// Input:
//   byte 0      the filter picked in the dialog (1-4: .gcb, .dol, .elf, .vgc)
//   byte 1      which of the feasible starts is clicked
//   bytes 2-5   slots already taken by a one-slot application (bit n: slot n)
//   byte 6      bit 0: free slots hold leftovers behind their erased header (NOR programming
//               can only clear bits, so the write lands on them ANDed);
//               bit 1: a long file of the length in bytes 7-9, made of the payload repeated;
//               bit 2: the file changes its length between the choice and the click;
//               bits 4-7: a right shift of the long file's length (most inputs stay short and
//               quick, while every length up to the whole flash and beyond stays reachable)
//   bytes 7-9   that length (little-endian), taken modulo 2 MB + 128 KB
//   byte 10     length of the file's name, 1 to 230 characters (long paths test the name field)
//   byte 11     the change: signed, in steps of 1021 bytes (a file that grew past its placed
//               run must be refused, one that shrank written as it is now)
//   byte 12 on  the payload; without bit 1 of byte 6 it is the file itself
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "catalogue/catalogue_scan.h"
#include "core/flash_layout.h"
#include "core/slot_header.h"
#include "data/vgc_block.h"
#include "fuzz_world.h"
#include "operations/write_image.h"
#include "sim/board.h"
#include "ui/flash_menu.h"
#include "win32/standin.h"

namespace {

using fuzzworld::Check;

constexpr size_t kFixedBytes = 12;
constexpr int kChangeStep = 1021;
constexpr uint32_t kLongestFile = kFlashSize + 2 * kSlotSize;
constexpr size_t kLongestName = 230;
constexpr uint8_t kLeftover = 0x5C;  // bits a free slot may still hold behind its header
constexpr char kTakenMagic[4] = {'E', 'L', 'F', 0};

constexpr char kEncryptedText[] =
    "Sorry, can't flash encrypted .VGC files!\nThey depend on undocumented features\n"
    "which are only available to insider persons!";
constexpr char kNoRoomText[] = "Sorry, not enough free space!\nPlease erase something first!";
constexpr char kTooSmallText[] = "file is too small!";
constexpr char kSelectPlaceText[] = "select place to write!";

constexpr uint64_t kWholeFlashEvery = 64;

// Set up by LLVMFuzzerInitialize; written by libFuzzer's thread only.
sim::Board* gBoard = nullptr;
uint64_t gRuns = 0;                       // inputs run so far
std::vector<uint8_t>* gBefore = nullptr;  // the flash as laid out

struct Case {
    ImageKind kind;
    uint8_t startPick;
    uint32_t taken;
    bool leftovers;
    std::string path;
    std::vector<uint8_t> file;     // as chosen
    std::vector<uint8_t> clicked;  // as it is at the click
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

Case Decode(const uint8_t* data, size_t size) {
    Case c;
    size_t pos = 0;
    const uint32_t filter = fuzzworld::TakeNumber(data, size, pos, 1) % 4;
    c.kind = static_cast<ImageKind>(filter);
    c.startPick = static_cast<uint8_t>(fuzzworld::TakeNumber(data, size, pos, 1));
    c.taken = fuzzworld::TakeNumber(data, size, pos, 4);
    const uint32_t flags = fuzzworld::TakeNumber(data, size, pos, 1);
    const uint32_t longLength =
        (fuzzworld::TakeNumber(data, size, pos, 3) % (kLongestFile + 1)) >> (flags >> 4);
    const size_t nameLength = 1 + fuzzworld::TakeNumber(data, size, pos, 1) % kLongestName;
    const int change = static_cast<int8_t>(fuzzworld::TakeNumber(data, size, pos, 1));
    c.leftovers = (flags & 1) != 0;
    const uint8_t* payload = data + std::min(size, kFixedBytes);
    const size_t payloadSize = size > kFixedBytes ? size - kFixedBytes : 0;
    if ((flags & 2) != 0) {
        c.file = Repeated(payload, payloadSize, longLength);
    } else {
        c.file.assign(payload, payload + payloadSize);
    }
    c.clicked = c.file;
    if ((flags & 4) != 0) {
        const int64_t changed = static_cast<int64_t>(c.file.size()) + change * kChangeStep;
        c.clicked =
            Repeated(payload, payloadSize, static_cast<size_t>(std::max<int64_t>(changed, 0)));
    }
    std::string name;
    for (size_t i = 0; i < nameLength; ++i) name.push_back(static_cast<char>('a' + i % 26));
    c.path = fuzzworld::TempFolder() + "/" + name;
    return c;
}

void LayOut(const Case& c, std::vector<uint8_t>& flash) {
    std::fill(flash.begin(), flash.end(), kErasedByte);
    for (int slot = 0; slot < kSlotCount; ++slot) {
        uint8_t* at = flash.data() + static_cast<size_t>(slot) * kSlotSize;
        if ((c.taken >> slot & 1) != 0) {
            std::memset(at, 0, kHeaderSize);
            std::memcpy(at, kTakenMagic, sizeof kTakenMagic);
            std::snprintf(reinterpret_cast<char*>(at + kNameOffset), kNameSize, "taken %d", slot);
            WriteBigEndian32(at + kSizeOffset, kSlotSize);
            std::memset(at + kHeaderSize, 0x20 + slot, kSlotSize - kHeaderSize);
        } else if (c.leftovers) {
            std::memset(at + kHeaderSize, kLeftover, kSlotSize - kHeaderSize);
        }
    }
}

uint64_t SlotsFor(uint64_t imageLength) { return (imageLength + kSlotSize - 1) / kSlotSize; }

std::vector<int> FeasibleStarts(const Case& c, uint64_t slots) {
    std::vector<int> starts;
    const bool even = c.kind == ImageKind::Bios || c.kind == ImageKind::Vgc;
    for (int start = 0; start < kSlotCount; ++start) {
        if (even && start % 2 != 0) continue;
        if (start + std::max<uint64_t>(slots, 1) > static_cast<uint64_t>(kSlotCount)) continue;
        bool free = true;
        for (uint64_t k = 0; k < std::max<uint64_t>(slots, 1); ++k) {
            free = free && (c.taken >> (start + k) & 1) == 0;
        }
        if (free) starts.push_back(start);
    }
    return starts;
}

uint64_t HeaderPartOf(ImageKind kind) {
    return kind == ImageKind::Bios ? 0 : kind == ImageKind::Vgc ? kVgcHeaderPartSize : kHeaderSize;
}

// The image as it must stand in the flash from offset 0 of the start slot: the file as it is
// at the click.
std::vector<uint8_t> ExpectedImage(const Case& c) {
    const std::vector<uint8_t>& file = c.clicked;
    const uint64_t fileLength = file.size();
    std::vector<uint8_t> image;
    uint32_t sizeField = 0;
    switch (c.kind) {
        case ImageKind::Bios:
            sizeField = static_cast<uint32_t>(SlotsFor(fileLength) * kSlotSize);
            image = file;
            break;
        case ImageKind::Vgc:
            sizeField = static_cast<uint32_t>(SlotsFor(fileLength + 2048) * kSlotSize);
            image.assign(256, 0);
            std::memcpy(image.data(), "(C) ", 4);
            image.insert(image.end(), VgcBlock, VgcBlock + sizeof VgcBlock);
            image.insert(image.end(), file.begin(), file.end());
            break;
        default:
            sizeField = static_cast<uint32_t>(SlotsFor(fileLength + 256) * kSlotSize);
            image.assign(256, 0);
            std::memcpy(image.data(), "ELF", 4);
            image.insert(image.end(), file.begin(), file.end());
            break;
    }
    if (c.kind != ImageKind::Bios && c.path.size() + 1 <= kNameSize) {
        std::memcpy(image.data() + kNameOffset, c.path.data(), c.path.size());
    }
    image[252] = static_cast<uint8_t>(sizeField >> 24);
    image[253] = static_cast<uint8_t>(sizeField >> 16);
    image[254] = static_cast<uint8_t>(sizeField >> 8);
    image[255] = static_cast<uint8_t>(sizeField);
    return image;
}

void CheckNameField(const Case& c, const uint8_t* header) {
    if (c.kind == ImageKind::Bios) return;
    const char* name = reinterpret_cast<const char*>(header + kNameOffset);
    const size_t length = strnlen(name, kNameSize);
    Check(length < kNameSize, "the name field has no terminating zero");
    for (size_t i = length; i < kNameSize; ++i) {
        Check(name[i] == 0, "bytes after the name are not 0");
    }
    Check(ReadBigEndian32(header + kReservedOffset) == 0, "the reserved word is not 0");
    if (c.path.size() + 1 > kNameSize) {
        // Shortened: it must still end with the file's name, as far as that fits.
        const std::string kept(name, length);
        const std::string fileName = c.path.substr(c.path.find_last_of('/') + 1);
        const size_t n = std::min(fileName.size(), kept.size());
        Check(n != 0 && kept.compare(kept.size() - n, n, fileName, fileName.size() - n, n) == 0,
              "a shortened name lost the file's name");
    }
}

// Every change of the flash as the board reports it: address and length. Filled by the board's
// flash listener on the thread that programs the flash (the fuzzing thread).
struct Change {
    size_t address;
    size_t length;
};
std::vector<Change>* gChanges = nullptr;

void CheckUntouched(sim::Board& board, const char* why) {
    Check(board.CountCommands(sim::kCmdWrite) == 0 && board.CountCommands(sim::kCmdErase) == 0,
          std::string(why) + ": the flash was written");
    Check(gChanges->empty(), std::string(why) + ": the flash changed");
}

// The changes, in order, tile [from, to) exactly: every chunk byte programmed once, nothing
// outside.
void CheckChangesTile(size_t from, size_t to) {
    size_t at = from;
    for (const Change& change : *gChanges) {
        Check(change.address == at, "the flash changed out of turn at " +
                                        std::to_string(change.address) + ", expected " +
                                        std::to_string(at));
        at += change.length;
    }
    Check(at == to, "the changes end at " + std::to_string(at) + ", not " + std::to_string(to));
}

void PutFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    Check(static_cast<bool>(out), "cannot write " + path);
}

void Run(const Case& c) {
    sim::Board& board = *gBoard;
    std::vector<uint8_t>& before = *gBefore;
    HWND window = fuzzworld::Connect(board);
    LayOut(c, before);
    board.SetFlash(0, before);
    gChanges->clear();
    PutFile(c.path, c.file);
    // The map a scan of this flash leaves (the catalogue scan has a target of its own): each
    // taken slot a one-slot run, the rest free.
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

    const uint64_t slots = SlotsFor(c.file.size() + HeaderPartOf(c.kind));
    const std::vector<int> starts = FeasibleStarts(c, slots);
    const std::vector<std::string> boxes = fuzzworld::BoxTexts();
    if (c.kind == ImageKind::Vgc && c.file.size() > kVgcFlagsByte &&
        (c.file[kVgcFlagsByte] & kVgcEncryptedBit) != 0) {
        Check(boxes == std::vector<std::string>{kEncryptedText}, "encrypted VGC not refused");
        CheckUntouched(board, "encrypted VGC");
    } else if (starts.empty()) {
        Check(boxes == std::vector<std::string>{kNoRoomText}, "no room, but no refusal");
        CheckUntouched(board, "no room");
    } else {
        Check(boxes.empty(), "a box at the file choice: " + (boxes.empty() ? "" : boxes[0]));
        Check(fuzzworld::Status(window) == kSelectPlaceText, "no prompt for the place");
        std::vector<int> enabled;
        for (int slot = 0; slot < kSlotCount; ++slot) {
            if (standin::Enabled(window, SlotButtonIds[slot])) enabled.push_back(slot);
        }
        Check(enabled == starts, "the enabled starts are not the feasible ones");
        const int start = starts[c.startPick % starts.size()];

        if (c.clicked.size() != c.file.size()) PutFile(c.path, c.clicked);
        WriteImageAt(window, start);

        const uint64_t clickedSlots = SlotsFor(c.clicked.size() + HeaderPartOf(c.kind));
        if (clickedSlots > slots) {
            // Grown past the run it was placed for: the slots after the run were never checked.
            Check(fuzzworld::BoxTexts().size() == 1, "a grown file was not refused");
            CheckUntouched(board, "grown file");
        } else if (c.kind == ImageKind::Bios && c.clicked.size() < kHeaderSize) {
            Check(fuzzworld::BoxTexts() == std::vector<std::string>{kTooSmallText},
                  "a short .gcb was not refused");
            Check(board.ExchangeCount() == 0, "a short .gcb reached the board");
            CheckUntouched(board, "short .gcb");
        } else {
            Check(fuzzworld::BoxTexts().empty(), "a box during the write");
            Check(fuzzworld::Status(window) == kScanDoneText, "no rescan after the write");
            Check(board.BusState() == sim::kBusReleased, "the bus was not released");
            const std::vector<uint8_t> image = ExpectedImage(c);
            // Nothing but the header for a .gcb of exactly 256 bytes: no chunk at all.
            const uint64_t chunks = c.kind == ImageKind::Bios && c.clicked.size() == kHeaderSize
                                        ? 0
                                        : (image.size() + kChunkSize - 1) / kChunkSize;
            Check(chunks * kChunkSize <= slots * kSlotSize, "chunks past the run");
            Check(board.CountCommands(sim::kCmdWrite) == static_cast<int>(chunks),
                  "one CMD_WRITE per chunk");
            const size_t base = static_cast<size_t>(start) * kSlotSize;
            const size_t end = base + chunks * kChunkSize;
            // The board reports every byte it programs, so the chunks are all that needs
            // reading back; copying all 2 MB under ASan would cost more than the write. Now and
            // then the whole flash is compared all the same.
            CheckChangesTile(base, end);
            std::vector<uint8_t> chunkBytes(end - base, kErasedByte);
            std::copy(image.begin(), image.begin() + std::min(image.size(), chunkBytes.size()),
                      chunkBytes.begin());
            // How a path too long for the name field is shortened is the program's own choice:
            // those bytes are taken as written and judged by CheckNameField.
            const bool shortened = c.kind != ImageKind::Bios && c.path.size() + 1 > kNameSize;
            for (size_t i = 0; i < chunkBytes.size(); ++i) {
                const bool name = i >= kNameOffset && i < kNameOffset + kNameSize;
                if (shortened && name) chunkBytes[i] = board.FlashByte(base + i);
                chunkBytes[i] &= before[base + i];
                if (board.FlashByte(base + i) != chunkBytes[i]) {
                    fuzzworld::Fail("image byte " + std::to_string(i) + " at start slot " +
                                    std::to_string(start));
                }
            }
            if (gRuns % kWholeFlashEvery == 0) {
                const std::vector<uint8_t> after = board.Flash();
                Check(std::memcmp(after.data(), before.data(), base) == 0 &&
                          std::memcmp(after.data() + end, before.data() + end, kFlashSize - end) ==
                              0 &&
                          std::equal(chunkBytes.begin(), chunkBytes.end(), after.begin() + base),
                      "the whole flash is not what the changes said");
            }
            if (chunks != 0) {
                CheckNameField(c, chunkBytes.data());
                // The rescan sees the new image as a run of exactly its slots.
                const bool known = std::memcmp(image.data(), "ELF", 4) == 0 ||
                                   std::memcmp(image.data(), "DOL", 4) == 0 ||
                                   std::memcmp(image.data(), "BIN", 4) == 0 ||
                                   std::memcmp(image.data(), "(C) ", 4) == 0;
                if (known) {
                    for (uint64_t k = 0; k < clickedSlots; ++k) {
                        const SlotEntry& entry = SlotMap[start + k];
                        Check(entry.state == SlotState::Used && entry.owner == start,
                              "the rescan does not see the run");
                    }
                }
            }
        }
    }
    std::remove(c.path.c_str());
    fuzzworld::Disconnect(board, window);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzworld::Init();
    gBoard = new sim::Board();
    gBefore = new std::vector<uint8_t>(kFlashSize);
    gChanges = new std::vector<Change>();
    gBoard->SetFlashListener([](size_t address, size_t length) {
        gChanges->push_back({address, length});
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Run(Decode(data, size));
    ++gRuns;
    return 0;
}
