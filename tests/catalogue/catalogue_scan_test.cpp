#include "catalogue/catalogue_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "catalogue/flash_layout.h"
#include "catalogue/slot_header.h"
#include "support/board_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char kBios[4] = {'(', 'C', ')', ' '};
const char kElf[4] = {'E', 'L', 'F', '\0'};
const char kDol[4] = {'D', 'O', 'L', '\0'};
const char kBin[4] = {'B', 'I', 'N', '\0'};

constexpr char kErasedLine[] = "ff ff ff ff ffffffff\n";

size_t SlotAddress(int slot) { return static_cast<size_t>(slot) * kSlotSize; }

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t from = 0;
    while (from < text.size()) {
        const size_t end = text.find('\n', from);
        if (end == std::string::npos) {
            lines.push_back(text.substr(from));
            break;
        }
        lines.push_back(text.substr(from, end + 1 - from));
        from = end + 1;
    }
    return lines;
}

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

    // The banks of the CMD_READ reports the board saw, in order.
    std::vector<int> BanksRead() const {
        std::vector<int> banks;
        for (const sim::LogEntry& entry : board.Log()) {
            if (entry.direction != sim::Direction::Out || entry.bytes.size() < 7) continue;
            if (entry.bytes[1] != sim::kCmdRead) continue;
            banks.push_back(entry.bytes[2]);
            const int offset = (entry.bytes[3] << 8) | entry.bytes[4];
            const int length = (entry.bytes[5] << 8) | entry.bytes[6];
            EXPECT_EQ(offset, 0) << "bank " << int(entry.bytes[2]);
            EXPECT_EQ(length, 256) << "bank " << int(entry.bytes[2]);
        }
        return banks;
    }

    std::string Label(int slot) const { return standin::Text(window, SlotButtonIds[slot]); }

    void LayHeader(int slot, const char magic[4], uint32_t size, const std::string& name = "n") {
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
        runStarts.push_back(slot);
        if (entry.state == Free) {
            EXPECT_EQ(entry.owner, -1) << "slot " << slot;
            EXPECT_EQ(label, kLabelFree) << "slot " << slot;
            ++slot;
        } else if (entry.state == Corrupted) {
            EXPECT_EQ(entry.owner, slot) << "slot " << slot;
            EXPECT_EQ(label, kLabelCorrupted) << "slot " << slot;
            ++slot;
        } else if (entry.state == Used) {
            EXPECT_EQ(entry.owner, slot) << "a run must start with a head, slot " << slot;
            EXPECT_TRUE(label == kLabelBios || label == kLabelApplication)
                << "slot " << slot << ": " << label;
            const int head = slot;
            for (++slot;
                 slot < kSlotCount && SlotMap[slot].state == Used && SlotMap[slot].owner == head;
                 ++slot) {
                EXPECT_EQ(standin::Text(window, SlotButtonIds[slot]), kLabelContinuation)
                    << "slot " << slot;
            }
        } else {
            ADD_FAILURE() << "slot " << slot << " has state " << entry.state;
            ++slot;
        }
    }
    return runStarts;
}

// ---------------------------------------------------------------- the slot button table

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
}

TEST(SlotButtonIds, IdentifiersInTheGapsAreNoSlot) {
    for (int id : {1026, 1030, 1031, 1032, 1042, 1088, 1105, 1021, 1005, 0, -1}) {
        EXPECT_EQ(SlotForButtonId(id), -1) << id;
    }
}

// ---------------------------------------------------------------- scans

TEST_F(CatalogueScanTest, ErasedBoardReadsEverySlot) {
    const std::string out = Scan();

    EXPECT_EQ(BanksRead(), CheckMap(window));
    EXPECT_EQ(board.CountCommands(sim::kCmdRead), 32);
    EXPECT_EQ(Lines(out), std::vector<std::string>(32, kErasedLine));
    for (int slot = 0; slot < kSlotCount; ++slot) {
        EXPECT_EQ(SlotMap[slot].state, Free) << slot;
        EXPECT_EQ(SlotMap[slot].owner, -1) << slot;
        EXPECT_EQ(Label(slot), "free") << slot;
    }
    EXPECT_EQ(Status(), "KELM OK!");
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(CatalogueScanTest, ProgressCountsDownTheHeadersThenReportsDone) {
    Scan();
    const std::vector<std::string> history = StatusHistory();
    ASSERT_GE(history.size(), 3u);
    EXPECT_EQ(history.front(), "Please wait, reading flash: 8 kbytes remaining");
    EXPECT_EQ(history[history.size() - 2], "Please wait, reading flash: 1 kbytes remaining");
    EXPECT_EQ(history.back(), "KELM OK!");
}

TEST_F(CatalogueScanTest, ContinuationSlotsAreNotRead) {
    LayHeader(0, kBios, 131072);
    LayHeader(2, kElf, 65536);
    const std::string out = Scan();

    std::vector<int> expectedBanks = {0};
    for (int bank = 2; bank < kSlotCount; ++bank) expectedBanks.push_back(bank);
    EXPECT_EQ(BanksRead(), expectedBanks);
    EXPECT_EQ(CheckMap(window), expectedBanks);
    EXPECT_EQ(board.CountCommands(sim::kCmdRead), 31);

    const std::vector<std::string> labels = {"BIOS", "...", "Appl.", "free"};
    const std::vector<int> owners = {0, 0, 2, -1};
    for (int slot = 0; slot < 4; ++slot) {
        EXPECT_EQ(Label(slot), labels[slot]) << slot;
        EXPECT_EQ(SlotMap[slot].owner, owners[slot]) << slot;
    }
    const std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), 31u);
    EXPECT_EQ(lines[0], "28 43 29 20 00020000\n");
    EXPECT_EQ(lines[1], "45 4c 46 00 00010000\n");
    EXPECT_EQ(lines[2], kErasedLine);
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
        LayHeader(c.slot, kBios, c.size);
        // A header of its own in the slot after the head is never seen when the run covers it.
        if (c.slot + 1 < kSlotCount) LayHeader(c.slot + 1, kElf, 65536);
        Scan();

        const std::vector<int> starts = CheckMap(window);
        EXPECT_EQ(BanksRead(), starts);
        EXPECT_EQ(HeaderDirectory[c.slot].size, c.storedSize);
        const int end = std::min(c.slot + c.runLength, kSlotCount);
        for (int slot = c.slot; slot < end; ++slot) {
            EXPECT_EQ(SlotMap[slot].state, Used) << slot;
            EXPECT_EQ(SlotMap[slot].owner, c.slot) << slot;
        }
        if (end < kSlotCount) {
            EXPECT_NE(SlotMap[end].owner, c.slot);
        }
        EXPECT_EQ(Label(c.slot), "BIOS");
        EXPECT_EQ(Status(), "KELM OK!");
    }
}

TEST_F(CatalogueScanTest, MagicsAreComparedOnAllFourBytes) {
    const struct {
        const char* what;
        char magic[4];
        const char* label;
    } cases[] = {
        {"BIOS", {'(', 'C', ')', ' '}, "BIOS"},
        {"ELF", {'E', 'L', 'F', '\0'}, "Appl."},
        {"DOL", {'D', 'O', 'L', '\0'}, "Appl."},
        {"BIN", {'B', 'I', 'N', '\0'}, "Appl."},
        {"(C) without its blank", {'(', 'C', ')', '\0'}, "???"},
        {"ELF and a non-zero byte", {'E', 'L', 'F', 'x'}, "???"},
        {"lower case elf", {'e', 'l', 'f', '\0'}, "???"},
        {"DOL and a blank", {'D', 'O', 'L', ' '}, "???"},
        {"erased magic, written rest", {'\xff', '\xff', '\xff', '\xff'}, "???"},
        {"zeros", {'\0', '\0', '\0', '\0'}, "???"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        board.FillFlash(0xFF);
        // A valid two-slot size: an unknown magic must not let it count.
        LayHeader(3, c.magic, 131072);
        Scan();

        CheckMap(window);
        EXPECT_EQ(Label(3), c.label);
        const bool known = std::string(c.label) != "???";
        EXPECT_EQ(SlotMap[3].state, known ? Used : Corrupted);
        EXPECT_EQ(SlotMap[3].owner, 3);
        EXPECT_EQ(SlotMap[4].state, known ? Used : Free);
        EXPECT_EQ(board.CountCommands(sim::kCmdRead), known ? 31 : 32);
    }
}

TEST_F(CatalogueScanTest, OneWrittenByteAnywhereInTheHeaderMakesTheSlotTaken) {
    for (size_t offset : {size_t{0}, size_t{3}, size_t{100}, size_t{251}, size_t{255}}) {
        SCOPED_TRACE(offset);
        board.FillFlash(0xFF);
        Lay(SlotAddress(9) + offset, {0xFE});
        Scan();
        EXPECT_EQ(SlotMap[9].state, Corrupted);
        EXPECT_EQ(Label(9), "???");
    }
}

TEST_F(CatalogueScanTest, BytesBeyondTheHeaderAreNotLookedAt) {
    Lay(SlotAddress(9) + 256, Bytes(1000, 0x00));
    Lay(SlotAddress(10) + 65535, {0x00});
    Scan();
    EXPECT_EQ(SlotMap[9].state, Free);
    EXPECT_EQ(SlotMap[10].state, Free);
    EXPECT_EQ(board.CountCommands(sim::kCmdRead), 32);
}

TEST_F(CatalogueScanTest, DirectoryHoldsTheHeadersInHostOrder) {
    Bytes header = Header(kDol, "C:\\apps\\game.dol", 0x00030000);
    header[248] = 0x12;
    header[249] = 0x34;
    header[250] = 0x56;
    header[251] = 0x78;
    Lay(SlotAddress(6), header);
    const std::string out = Scan();

    const SlotHeader& entry = HeaderDirectory[6];
    EXPECT_EQ(entry.reserved, 0x12345678u);
    EXPECT_EQ(entry.size, 0x00030000u);
    EXPECT_EQ(std::string(entry.name), "C:\\apps\\game.dol");
    EXPECT_EQ(std::memcmp(entry.magic, kDol, 4), 0);
    EXPECT_EQ(Lines(out)[6], "44 4f 4c 00 00030000\n");
}

TEST_F(CatalogueScanTest, ContinuationEntriesKeepWhatAnEarlierScanRead) {
    LayHeader(1, kBin, 65536, "first");
    Scan();
    LayHeader(0, kElf, 131072);
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
    for (int slot = 0; slot < kSlotCount; ++slot) EXPECT_EQ(SlotMap[slot].state, Corrupted);
    EXPECT_FALSE(BoxTexts().empty());
    EXPECT_EQ(Status(), "KELM OK!");
}

// Any flash content: headers with known and near-miss magics, sizes from 0 to huge, and
// scattered bytes. The map must keep its invariant, and exactly the run starts are read.
TEST_F(CatalogueScanTest, InvariantHoldsForRandomFlash) {
    const char kMagics[][4] = {
        {'(', 'C', ')', ' '},
        {'E', 'L', 'F', '\0'},
        {'D', 'O', 'L', '\0'},
        {'B', 'I', 'N', '\0'},
        {'(', 'C', ')', '\0'},
        {'E', 'L', 'F', 'F'},
        {'\xff', '\xff', '\xff', '\xff'},
    };
    std::mt19937 random(0x6b656c6d);
    auto pick = [&random](uint32_t n) { return static_cast<uint32_t>(random() % n); };
    auto randomSize = [&]() -> uint32_t {
        switch (pick(10)) {
            case 0:
                return 0;
            case 1:
                return 1 + pick(65536);
            case 2:
                return pick(33) * kSlotSize;
            case 3:
                return pick(kFlashSize + 1);
            case 4:
                return 0xFFFFFFFFu;
            case 5:
                return 0x80000000u + pick(kSlotSize);
            case 6:
                return kFlashSize - pick(4) * kSlotSize + pick(2);
            default:
                return static_cast<uint32_t>(random());
        }
    };

    for (int layout = 0; layout < 300; ++layout) {
        SCOPED_TRACE("layout " + std::to_string(layout));
        board.FillFlash(0xFF);
        for (int slot = 0; slot < kSlotCount; ++slot) {
            const uint32_t kind = pick(10);
            if (kind < 4) continue;  // erased
            if (kind < 9) {
                LayHeader(slot, kMagics[pick(sizeof(kMagics) / sizeof(kMagics[0]))], randomSize());
            } else {
                Lay(SlotAddress(slot) + pick(kHeaderSize), {static_cast<uint8_t>(pick(255))});
            }
        }
        const std::string out = Scan();

        const std::vector<int> starts = CheckMap(window);
        EXPECT_EQ(BanksRead(), starts);
        EXPECT_EQ(Lines(out).size(), starts.size());
        for (int slot = 0; slot < kSlotCount; ++slot) {
            const SlotEntry entry = SlotMap[slot];
            if (entry.state != Used) continue;
            ASSERT_LE(entry.owner, slot);
            ASSERT_GE(entry.owner, 0);
            EXPECT_EQ(SlotMap[entry.owner].owner, entry.owner);
            EXPECT_EQ(SlotMap[entry.owner].state, Used);
        }
        EXPECT_EQ(Status(), "KELM OK!");
        if (HasFailure()) break;  // one broken layout says enough
    }
    EXPECT_TRUE(BoxTexts().empty());
}

}  // namespace
