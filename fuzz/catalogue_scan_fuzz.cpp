// The catalogue scan over arbitrary flash contents. Each input lays out the 32 slots; the scan
// runs through the HID reports of the simulated board, and then the slot map must keep its
// invariant (every slot in exactly one run, runs back to back, every Used slot owned by a Used
// head at or before it that owns itself) and agree with what the flash holds.
//
// Input: two bytes for a fault, then one record per slot, from slot 0 on; slots after the last
// record stay erased.
//   fault: byte 0 picks none (0, or 4 and up), 1 a refused feature fetch, 2 a failed output
//   report, 3 the board unplugged; byte 1 times 2 is the exchange it hits. With a fault the scan
//   classifies whatever the failed read left, so only the invariant and "KELM OK!" are checked.
// Records:
//   byte 0 of a record, low 2 bits, what the slot's first 256 bytes are:
//     0  erased (0xFF), with bytes 1-2 a fill byte and flag for the rest of the slot
//     1  a header: bytes 1-4 the magic (a byte 1 below 32 picks known magic byte 1 mod 4, else
//        bytes 1-4 as they are), bytes 5-8 the size (big-endian in flash), byte 9 a name fill
//     2  erased but for one byte: bytes 1-2 its place and value
//     3  raw: the next 256 bytes as they are
//   bits 2-7: a fill byte for the bytes behind the header, which the scan must never read.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "catalogue/catalogue_scan.h"
#include "core/flash_layout.h"
#include "core/slot_header.h"
#include "fuzz_world.h"
#include "sim/board.h"
#include "win32/standin.h"

namespace {

using fuzzworld::Check;

constexpr uint8_t kKnownMagics[4][4] = {
    {'(', 'C', ')', ' '}, {'E', 'L', 'F', 0}, {'D', 'O', 'L', 0}, {'B', 'I', 'N', 0}};

constexpr size_t kFaultBytes = 2;

// The board and the layout live for the whole run: 2 MB allocated for every input would cost
// more than the scan itself. Set up by LLVMFuzzerInitialize; libFuzzer's thread only.
sim::Board* gBoard = nullptr;
std::vector<uint8_t>* gFlash = nullptr;

// The fault the input asks for, armed on the board; false when it asks for none.
bool ArmFault(sim::Board& board, const uint8_t* data, size_t size) {
    const uint8_t kind = size > 0 ? data[0] : 0;
    const uint64_t exchange = size > 1 ? data[1] * 2u : 0;
    switch (kind) {
        case 1:
            board.InjectFault(exchange, sim::Fault::RefuseFeature);
            return true;
        case 2:
            board.InjectFault(exchange, sim::Fault::FailWrite);
            return true;
        case 3:
            board.InjectFault(exchange, sim::Fault::Unplug);
            return true;
        default:
            return false;
    }
}

void LayOut(const uint8_t* data, size_t size, std::vector<uint8_t>& flash) {
    std::fill(flash.begin(), flash.end(), kErasedByte);
    size_t pos = kFaultBytes;
    for (int slot = 0; slot < kSlotCount && pos < size; ++slot) {
        uint8_t* at = flash.data() + static_cast<size_t>(slot) * kSlotSize;
        const uint8_t control = data[pos++];
        const uint8_t behind = static_cast<uint8_t>(control & 0xFC);
        std::memset(at + kHeaderSize, behind, kSlotSize - kHeaderSize);
        switch (control & 3) {
            case 0:
                break;
            case 1: {
                const size_t magicAt = pos;
                pos += 4;
                if (magicAt < size && data[magicAt] < 4 * 8) {
                    std::memcpy(at, kKnownMagics[data[magicAt] % 4], 4);
                } else {
                    for (size_t i = 0; i < 4; ++i) {
                        at[i] = magicAt + i < size ? data[magicAt + i] : 0;
                    }
                }
                const uint32_t headerSize = fuzzworld::TakeNumber(data, size, pos, 4);
                const uint8_t nameFill = pos < size ? data[pos] : 0;
                ++pos;
                std::memset(at + kNameOffset, nameFill, kNameSize);
                WriteBigEndian32(at + kReservedOffset, headerSize ^ 0x5A5A5A5Au);
                WriteBigEndian32(at + kSizeOffset, headerSize);
                break;
            }
            case 2: {
                const uint8_t place = pos < size ? data[pos] : 0;
                const uint8_t value = pos + 1 < size ? data[pos + 1] : 0;
                pos += 2;
                at[place] = value;
                break;
            }
            default:
                for (size_t i = 0; i < kHeaderSize; ++i, ++pos) {
                    at[i] = pos < size ? data[pos] : kErasedByte;
                }
                break;
        }
    }
}

struct Expected {
    SlotEntry map[kSlotCount];
    std::string labels[kSlotCount];
    SlotHeader directory[kSlotCount];
    bool refreshed[kSlotCount];  // heads, free and corrupted slots: read by the scan
    int reads;
};

// What the scan must make of the flash, slot by slot.
Expected Model(const std::vector<uint8_t>& flash) {
    Expected e = {};
    int i = 0;
    while (i < kSlotCount) {
        const uint8_t* header = flash.data() + static_cast<size_t>(i) * kSlotSize;
        ++e.reads;
        e.refreshed[i] = true;
        std::memcpy(&e.directory[i], header, kHeaderSize);
        e.directory[i].reserved = ReadBigEndian32(header + kReservedOffset);
        e.directory[i].size = ReadBigEndian32(header + kSizeOffset);
        bool erased = true;
        for (size_t b = 0; b < kHeaderSize; ++b) erased = erased && header[b] == kErasedByte;
        if (erased) {
            e.map[i] = {SlotState::Free, -1};
            e.labels[i] = kLabelFree;
            ++i;
            continue;
        }
        int magic = -1;
        for (int m = 0; m < 4; ++m) {
            if (std::memcmp(header, kKnownMagics[m], 4) == 0) magic = m;
        }
        if (magic < 0) {
            e.map[i] = {SlotState::Corrupted, i};
            e.labels[i] = kLabelCorrupted;
            ++i;
            continue;
        }
        uint64_t bytes = e.directory[i].size;
        const uint64_t left = static_cast<uint64_t>(kSlotCount - i) * kSlotSize;
        if (bytes > left) bytes = 0;
        e.directory[i].size = static_cast<uint32_t>(bytes);
        int run = bytes == 0 ? 2 : static_cast<int>((bytes + kSlotSize - 1) / kSlotSize);
        if (i + run > kSlotCount) run = kSlotCount - i;
        for (int k = i; k < i + run; ++k) {
            e.map[k] = {SlotState::Used, i};
            e.labels[k] =
                k == i ? (magic == 0 ? kLabelBios : kLabelApplication) : kLabelContinuation;
        }
        i += run;
    }
    return e;
}

// The invariant, on the map alone.
void CheckInvariant() {
    int k = 0;
    while (k < kSlotCount) {
        const SlotEntry& entry = SlotMap[k];
        const std::string where = "slot " + std::to_string(k);
        if (entry.state == SlotState::Free) {
            Check(entry.owner == -1, where + ": a free slot has an owner");
            ++k;
        } else if (entry.state == SlotState::Corrupted) {
            Check(entry.owner == k, where + ": a corrupted slot is not its own run");
            ++k;
        } else {
            Check(entry.state == SlotState::Used, where + ": unknown state");
            Check(entry.owner == k, where + ": a run does not start at its head");
            int end = k + 1;
            while (end < kSlotCount && SlotMap[end].state == SlotState::Used &&
                   SlotMap[end].owner == k) {
                ++end;
            }
            k = end;
        }
    }
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const SlotEntry& entry = SlotMap[slot];
        if (entry.state != SlotState::Used) continue;
        const std::string where = "slot " + std::to_string(slot);
        Check(entry.owner >= 0 && entry.owner <= slot, where + ": owner not at or before it");
        Check(SlotMap[entry.owner].state == SlotState::Used &&
                  SlotMap[entry.owner].owner == entry.owner,
              where + ": owner is not a head");
        for (int between = entry.owner; between <= slot; ++between) {
            Check(
                SlotMap[between].state == SlotState::Used && SlotMap[between].owner == entry.owner,
                where + ": a gap in its run");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzworld::Init();
    gBoard = new sim::Board();
    gFlash = new std::vector<uint8_t>(kFlashSize);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sim::Board& board = *gBoard;
    HWND window = fuzzworld::Connect(board);
    std::vector<uint8_t>& flash = *gFlash;
    LayOut(data, size, flash);
    board.SetFlash(0, flash);
    // Continuation slots keep what an earlier scan left in the directory: start from a known one.
    std::memset(HeaderDirectory, 0, sizeof(HeaderDirectory));
    const bool faulty = ArmFault(board, data, size);

    ScanCatalogue(window);

    CheckInvariant();
    Check(fuzzworld::Status(window) == kScanDoneText, "the scan did not end with KELM OK!");
    Check(board.CountCommands(sim::kCmdWrite) == 0 && board.CountCommands(sim::kCmdErase) == 0,
          "the scan wrote to the flash");
    if (faulty) {
        // Labels still follow the map, whatever the failed reads left to classify.
        for (int slot = 0; slot < kSlotCount; ++slot) {
            const std::string label = standin::Text(window, SlotButtonIds[slot]);
            const SlotEntry& entry = SlotMap[slot];
            const bool fits = entry.state == SlotState::Free        ? label == kLabelFree
                              : entry.state == SlotState::Corrupted ? label == kLabelCorrupted
                              : entry.owner != slot
                                  ? label == kLabelContinuation
                                  : label == kLabelBios || label == kLabelApplication;
            Check(fits, "slot " + std::to_string(slot) + ": label " + label);
        }
        board.ClearFaults();
        fuzzworld::Disconnect(board, window);
        return 0;
    }
    const Expected e = Model(flash);
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const std::string where = "slot " + std::to_string(slot);
        Check(SlotMap[slot].state == e.map[slot].state, where + ": state");
        Check(SlotMap[slot].owner == e.map[slot].owner, where + ": owner");
        Check(standin::Text(window, SlotButtonIds[slot]) == e.labels[slot], where + ": label");
        if (e.refreshed[slot]) {
            Check(std::memcmp(&HeaderDirectory[slot], &e.directory[slot], kHeaderSize) == 0,
                  where + ": directory entry");
        } else {
            const SlotHeader zero = {};
            Check(std::memcmp(&HeaderDirectory[slot], &zero, kHeaderSize) == 0,
                  where + ": a continuation slot was read");
        }
    }
    Check(board.CountCommands(sim::kCmdRead) == e.reads, "one header read per run");
    Check(fuzzworld::BoxTexts().empty(), "the scan showed a message box");
    fuzzworld::Disconnect(board, window);
    return 0;
}
