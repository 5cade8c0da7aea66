#include "catalogue/catalogue_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/flash_layout.h"
#include "core/slot_header.h"
#include "support/board_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The diagnostic lines of erased slots.
std::string ErasedLines(int count) {
    std::string lines;
    for (int i = 0; i < count; ++i) lines += "ff ff ff ff ffffffff\n";
    return lines;
}

size_t SlotAddress(int slot) { return static_cast<size_t>(slot) * kSlotSize; }

class CatalogueScanTest : public BoardTest {
  protected:
    void SetUp() override {
        BoardTest::SetUp();
        // As at program start: every entry zero.
        std::memset(SlotMap, 0, sizeof(SlotMap));
        std::memset(HeaderDirectory, 0, sizeof(HeaderDirectory));
    }

    // Runs the scan and returns what it wrote to standard output.
    std::string Scan() {
        board.ClearLog();
        testing::internal::CaptureStdout();
        ScanCatalogue(window);
        return testing::internal::GetCapturedStdout();
    }

    // The banks of the CMD_READ reports the board saw, in order: each 256 bytes at offset 0.
    std::vector<int> BanksRead() const {
        std::vector<int> banks;
        for (const sim::LogEntry& entry : board.Log()) {
            if (entry.direction != sim::Direction::Out || entry.bytes.size() < 7) continue;
            if (entry.bytes[1] != sim::kCmdRead) continue;
            banks.push_back(entry.bytes[2]);
            EXPECT_EQ(Bytes(entry.bytes.begin() + 3, entry.bytes.begin() + 7), (Bytes{0, 0, 1, 0}))
                << "bank " << banks.back();
        }
        return banks;
    }

    std::string Label(int slot) const { return standin::Text(window, SlotButtonIds[slot]); }

    void LayHeader(int slot, const char* magic, uint32_t size, const std::string& name = "n") {
        Lay(SlotAddress(slot), Header(magic, name, size));
    }
};

// The map's invariant, which must hold after every scan whatever the flash holds, and the
// labels that go with it. Returns the slots that start a run: the only ones a scan reads.
std::vector<int> CheckMap(HWND window) {
    std::vector<int> runStarts;
    int slot = 0;
    while (slot < kSlotCount) {
        const SlotEntry entry = SlotMap[slot];
        const std::string label = standin::Text(window, SlotButtonIds[slot]);
        SCOPED_TRACE("slot " + std::to_string(slot));
        runStarts.push_back(slot);
        if (entry.state == SlotState::Free) {
            EXPECT_EQ(entry.owner, -1);
            EXPECT_EQ(label, kLabelFree);
        } else if (entry.state == SlotState::Corrupted) {
            EXPECT_EQ(entry.owner, slot);
            EXPECT_EQ(label, kLabelCorrupted);
        } else if (entry.state == SlotState::Used) {
            EXPECT_EQ(entry.owner, slot) << "a run must start with a head";
            EXPECT_TRUE(label == kLabelBios || label == kLabelApplication) << label;
            while (slot + 1 < kSlotCount && SlotMap[slot + 1].state == SlotState::Used &&
                   SlotMap[slot + 1].owner == entry.owner) {
                EXPECT_EQ(standin::Text(window, SlotButtonIds[++slot]), kLabelContinuation);
            }
        } else {
            ADD_FAILURE() << "state " << static_cast<int32_t>(entry.state);
        }
        ++slot;
    }
    return runStarts;
}

// Identifiers in the gaps of the grid, and outside it, are no slot.
TEST(SlotButtonIds, FollowTheDialogsGrid) {
    const int expected[kSlotCount] = {
        1022, 1023, 1024, 1025, 1027, 1028, 1029, 1033, 1034, 1035, 1036,
        1037, 1038, 1039, 1040, 1041, 1089, 1090, 1091, 1092, 1093, 1094,
        1095, 1096, 1097, 1098, 1099, 1100, 1101, 1102, 1103, 1104,
    };
    for (int slot = 0; slot < kSlotCount; ++slot) {
        EXPECT_EQ(SlotButtonIds[slot], expected[slot]) << "slot " << slot;
        EXPECT_EQ(SlotForButtonId(expected[slot]), slot) << "slot " << slot;
    }
    for (int id : {1026, 1030, 1031, 1032, 1042, 1088, 1105, 1021, 1005, 0, -1}) {
        EXPECT_EQ(SlotForButtonId(id), -1) << id;
    }
}

TEST_F(CatalogueScanTest, ErasedBoardReadsEverySlotCountingDownEightKilobytes) {
    EXPECT_EQ(Scan(), ErasedLines(32));

    EXPECT_EQ(BanksRead(), CheckMap(window));
    EXPECT_EQ(board.CountCommands(sim::kCmdRead), 32);
    for (int slot = 0; slot < kSlotCount; ++slot) {
        EXPECT_EQ(SlotMap[slot].state, SlotState::Free) << slot;
        EXPECT_EQ(Label(slot), "free") << slot;
    }
    std::vector<std::string> expected;
    for (int k = 8; k >= 1; --k) {
        expected.push_back("Please wait, reading flash: " + std::to_string(k) +
                           " kbytes remaining");
    }
    expected.push_back("KELM OK!");
    EXPECT_EQ(StatusHistory(), expected);
    EXPECT_EQ(standin::RepaintCount(window), 8) << "one per kilobyte, never one per report";
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(CatalogueScanTest, ContinuationSlotsAreNotRead) {
    LayHeader(0, "(C) ", 131072);
    LayHeader(2, "ELF", 65536);

    EXPECT_EQ(Scan(), "28 43 29 20 00020000\n45 4c 46 00 00010000\n" + ErasedLines(29));

    std::vector<int> expectedBanks = {0};
    for (int bank = 2; bank < kSlotCount; ++bank) expectedBanks.push_back(bank);
    EXPECT_EQ(BanksRead(), expectedBanks);
    EXPECT_EQ(CheckMap(window), expectedBanks);
    const std::vector<std::string> labels = {"BIOS", "...", "Appl.", "free"};
    const std::vector<int> owners = {0, 0, 2, -1};
    for (int slot = 0; slot < 4; ++slot) {
        EXPECT_EQ(Label(slot), labels[slot]) << slot;
        EXPECT_EQ(SlotMap[slot].owner, owners[slot]) << slot;
    }
}

TEST_F(CatalogueScanTest, RunLengthFromTheSizeField) {
    const struct {
        const char* what;
        int slot;
        uint32_t size;
        uint32_t storedSize;  // in the directory after the clamp
        int runLength;
    } cases[] = {
        {"size 1: one slot", 4, 1, 1, 1},
        {"65,536: one slot", 4, 65536, 65536, 1},
        {"131,071 rounds up", 4, 131071, 131071, 2},
        {"size 0: two slots", 5, 0, 0, 2},
        {"three slots", 7, 196608, 196608, 3},
        {"past the end clamps to two slots", 30, 196608, 0, 2},
        {"exactly to the end", 30, 131072, 131072, 2},
        {"whole flash from slot 0", 0, 2097152, 2097152, 32},
        {"one byte more than the flash", 0, 2097153, 0, 2},
        {"top bit set is no negative size", 4, 0x80000000u, 0, 2},
        {"all ones but not erased", 4, 0xFFFFFFFFu, 0, 2},
        {"size 0 in slot 31", 31, 0, 0, 1},
        {"two slots in slot 31", 31, 131072, 0, 1},
        {"one slot in slot 31", 31, 65536, 65536, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        board.FillFlash(0xFF);
        LayHeader(c.slot, "(C) ", c.size);
        // A header of its own in the slot after the head is never seen when the run covers it.
        if (c.slot + 1 < kSlotCount) LayHeader(c.slot + 1, "ELF", 65536);
        Scan();

        EXPECT_EQ(BanksRead(), CheckMap(window));
        EXPECT_EQ(HeaderDirectory[c.slot].size, c.storedSize);
        const int end = std::min(c.slot + c.runLength, kSlotCount);
        for (int slot = c.slot; slot < end; ++slot) {
            EXPECT_EQ(SlotMap[slot].state, SlotState::Used) << slot;
            EXPECT_EQ(SlotMap[slot].owner, c.slot) << slot;
        }
        EXPECT_TRUE(end == kSlotCount || SlotMap[end].owner != c.slot);
        EXPECT_EQ(Label(c.slot), "BIOS");
        EXPECT_EQ(Status(), "KELM OK!");
    }
}

TEST_F(CatalogueScanTest, MagicsAreComparedOnAllFourBytes) {
    const struct {
        const char* magic;  // four bytes
        const char* label;
    } cases[] = {
        {"(C) ", "BIOS"},  {"ELF", "Appl."}, {"DOL", "Appl."},
        {"BIN", "Appl."},  {"(C)", "???"},   {"ELFx", "???"},
        {"elf", "???"},    {"DOL ", "???"},  {"\xff\xff\xff\xff", "???"},
        {"\0\0\0", "???"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.magic);
        board.FillFlash(0xFF);
        // A valid two-slot size: an unknown magic must not let it count.
        LayHeader(3, c.magic, 131072);
        Scan();

        CheckMap(window);
        EXPECT_EQ(Label(3), c.label);
        const bool known = std::string(c.label) != "???";
        EXPECT_EQ(SlotMap[3].state, known ? SlotState::Used : SlotState::Corrupted);
        EXPECT_EQ(SlotMap[3].owner, 3);
        EXPECT_EQ(SlotMap[4].state, known ? SlotState::Used : SlotState::Free);
        EXPECT_EQ(board.CountCommands(sim::kCmdRead), known ? 31 : 32);
    }
}

// One written byte anywhere in the 256 header bytes makes the slot taken; bytes after them are
// not looked at.
TEST_F(CatalogueScanTest, OnlyTheHeaderBytesDecideWhetherASlotIsFree) {
    for (size_t offset : {0, 3, 100, 251, 255, 256, 65535}) {
        SCOPED_TRACE(offset);
        board.FillFlash(0xFF);
        Lay(SlotAddress(9) + offset, {0xFE});
        Scan();
        EXPECT_EQ(SlotMap[9].state, offset < 256 ? SlotState::Corrupted : SlotState::Free);
        EXPECT_EQ(Label(9), offset < 256 ? "???" : "free");
        EXPECT_EQ(board.CountCommands(sim::kCmdRead), 32);
    }
}

TEST_F(CatalogueScanTest, DirectoryHoldsTheHeadersInHostOrder) {
    Bytes header = Header("DOL", "C:\\apps\\game.dol", 0x00030000);
    WriteBigEndian32(header.data() + kReservedOffset, 0x12345678);
    Lay(SlotAddress(6), header);

    EXPECT_EQ(Scan(), ErasedLines(6) + "44 4f 4c 00 00030000\n" + ErasedLines(23));

    const SlotHeader& entry = HeaderDirectory[6];
    EXPECT_EQ(entry.reserved, 0x12345678u);
    EXPECT_EQ(entry.size, 0x00030000u);
    EXPECT_EQ(std::string(entry.name), "C:\\apps\\game.dol");
    EXPECT_EQ(std::memcmp(entry.magic, "DOL", 4), 0);
}

TEST_F(CatalogueScanTest, ContinuationEntriesKeepWhatAnEarlierScanRead) {
    LayHeader(1, "BIN", 65536, "first");
    Scan();
    LayHeader(0, "ELF", 131072);
    Scan();

    EXPECT_EQ(SlotMap[1].owner, 0);
    EXPECT_EQ(std::string(HeaderDirectory[1].name), "first");
    EXPECT_EQ(HeaderDirectory[1].size, 65536u);
}

TEST_F(CatalogueScanTest, UnreadableBoardStillEndsWithTheMap) {
    board.Unplug();
    Scan();
    // Nothing arrived, so every entry kept its zeros: no magic, each slot a run of its own.
    EXPECT_EQ(CheckMap(window).size(), static_cast<size_t>(kSlotCount));
    for (int slot = 0; slot < kSlotCount; ++slot)
        EXPECT_EQ(SlotMap[slot].state, SlotState::Corrupted);
    EXPECT_FALSE(BoxTexts().empty());
    EXPECT_EQ(Status(), "KELM OK!");
}

// A rescan that reads nothing judges each slot by what arrived (nothing), never by the header
// an earlier scan left in the directory.
TEST_F(CatalogueScanTest, FailedRescanDoesNotReuseTheEarlierHeader) {
    LayHeader(2, "ELF", 3 * kSlotSize);
    Scan();
    ASSERT_EQ(SlotMap[4].owner, 2);
    board.Unplug();
    Scan();
    for (int slot = 0; slot < kSlotCount; ++slot)
        EXPECT_EQ(SlotMap[slot].state, SlotState::Corrupted);
    EXPECT_EQ(Label(2), kLabelCorrupted);
}

// Any flash content: headers with known and near-miss magics, sizes from 0 to huge, and
// scattered bytes. The map must keep its invariant, and exactly the run starts are read.
TEST_F(CatalogueScanTest, InvariantHoldsForRandomFlash) {
    const char* const magics[] = {"(C) ", "ELF", "DOL", "BIN", "(C)", "ELFF", "\xff\xff\xff\xff"};
    std::mt19937 random(0x6b656c6d);
    auto pick = [&random](uint32_t n) { return static_cast<uint32_t>(random() % n); };
    auto randomSize = [&]() -> uint32_t {
        const uint32_t sizes[] = {0,
                                  1 + pick(65536),
                                  pick(33) * kSlotSize,
                                  pick(kFlashSize + 1),
                                  0xFFFFFFFFu,
                                  0x80000000u + pick(kSlotSize),
                                  kFlashSize - pick(4) * kSlotSize + pick(2),
                                  static_cast<uint32_t>(random())};
        return sizes[std::min(pick(10), 7u)];
    };

    for (int layout = 0; layout < 300; ++layout) {
        SCOPED_TRACE("layout " + std::to_string(layout));
        board.FillFlash(0xFF);
        for (int slot = 0; slot < kSlotCount; ++slot) {
            const uint32_t kind = pick(10);
            if (kind >= 4 && kind < 9) LayHeader(slot, magics[pick(7)], randomSize());
            if (kind == 9) Lay(SlotAddress(slot) + pick(kHeaderSize), {uint8_t(pick(255))});
        }
        const std::string out = Scan();

        const std::vector<int> starts = CheckMap(window);
        EXPECT_EQ(BanksRead(), starts);
        EXPECT_EQ(static_cast<size_t>(std::count(out.begin(), out.end(), '\n')), starts.size());
        EXPECT_EQ(Status(), "KELM OK!");
        if (HasFailure()) break;  // one broken layout says enough
    }
    EXPECT_TRUE(BoxTexts().empty());
}

}  // namespace
