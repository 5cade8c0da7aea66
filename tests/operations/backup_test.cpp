// Backing an application up through the window: the save dialog, the run counted from the slot
// map, the file against the simulated flash, and every way the backup can end.
#include "operations/backup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/catalogue_scan.h"
#include "operations/operation_checks.h"
#include "operations/write_image.h"
#include "support/app_fixture.h"
#include "ui/flash_menu.h"
#include "ui/resource.h"

namespace {

constexpr size_t kSlot = 65536;
constexpr size_t kChunk = 32768;
constexpr int kBiosFilter = 1;

const char kElf[4] = {'E', 'L', 'F', '\0'};
const char kBios[4] = {'(', 'C', ')', ' '};

// Exchanges of a bus request answered at once, and of one 32 KB read: command and 521 answers.
constexpr uint64_t kBusRequestExchanges = 3;
constexpr uint64_t kReadExchanges = 522;

class BackupTest : public AppTest {
  protected:
    // A header and recognisable bytes for the rest of its slots.
    void LayImage(int slot, const char magic[4], const std::string& name, uint32_t size, int slots,
                  uint32_t seed) {
        Lay(slot * kSlot, Header(magic, name, size));
        Lay(slot * kSlot + 256, Pattern(slots * kSlot - 256, seed));
    }

    std::vector<uint8_t> FlashRange(size_t address, size_t length) const {
        const std::vector<uint8_t> flash = board.Flash();
        return std::vector<uint8_t>(flash.begin() + address, flash.begin() + address + length);
    }

    // Read pressed, the save dialog answered, the slot clicked.
    void BackUp(int slot, const std::string& path) {
        Click(IDC_READ);
        AnswerSave(path);
        ClickSlot(slot);
    }

    bool Shown(const std::string& text) const {
        const std::vector<std::string> texts = standin::TextHistory(dialog, IDC_STATUS);
        return std::find(texts.begin(), texts.end(), text) != texts.end();
    }
};

// Cancelling leaves the menu in Read mode with the application checked, so the next click asks
// again; the name has no extension and gets none.
TEST_F(BackupTest, CancelKeepsReadModeAndTheNextClickAsksAgain) {
    LayImage(4, kElf, "three", 3 * kSlot, 3, 3);
    const std::string path = TempPath("second try");
    HWND window = nullptr;
    RunConnected([&](HWND running) {
        window = running;
        Click(IDC_READ);
        const size_t mark = board.Log().size();
        CancelFileDialog();
        ClickSlot(5);
        EXPECT_TRUE(traffic::Commands(board, mark).empty());
        EXPECT_EQ(FlashMenuMode, MenuMode::Read);
        EXPECT_TRUE(standin::Enabled(dialog, IDC_ABORT));
        EXPECT_EQ(CheckedSlots(), (std::vector<int>{4, 5, 6}));
        EXPECT_TRUE(std::filesystem::is_empty(tempDir));

        AnswerSave(path);
        ClickSlot(6);
        EXPECT_EQ(FlashMenuMode, MenuMode::Idle);
    });
    const std::vector<standin::FileDialogRecord> dialogs = FileDialogs();
    ASSERT_EQ(dialogs.size(), 2u);
    for (const standin::FileDialogRecord& record : dialogs) {
        traffic::ExpectPlainFileDialog(record, true, window, {"BIOS Files(*.gcb)", "*.gcb"},
                                       "file.gcb");
    }
    EXPECT_EQ(ReadFileBytes(path), FlashRange(4 * kSlot, 3 * kSlot));
}

// The run is counted from the owner entries, whichever of its slots is clicked; the file is
// exactly the run's slots, half by half, header first, and nothing is read after them.
TEST_F(BackupTest, SavesTheWholeRunOfTheClickedSlot) {
    struct Case {
        const char* name;
        int head;
        const char* magic;
        uint32_t size;
        int laidSlots;
        int click;
        int run;
    };
    const std::vector<Case> cases = {
        {"three slots, last clicked", 4, kElf, 3 * kSlot, 3, 6, 3},
        {"three slots, head clicked", 4, kElf, 3 * kSlot, 3, 4, 3},
        {"corrupted, next corrupted too", 10, "JUNK", 5 * kSlot, 2, 10, 1},
        {"up to slot 31", 28, kBios, 4 * kSlot, 4, 31, 4},
        {"size 0 at slot 31", 31, kElf, 0, 1, 31, 1},
        {"clamped size at 30", 30, kElf, 3 * kSlot, 2, 31, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        board.FillFlash(0xFF);
        LayImage(c.head, c.magic, "app", c.size, c.laidSlots, 2);
        if (c.head == 10) Lay(11 * kSlot, Header("JUNK", "next", kSlot));
        const std::string path = TempPath("backup");
        RunConnected([&](HWND) {
            const size_t mark = board.Log().size();
            BackUp(c.click, path);
            const std::vector<traffic::SentCommand> sent = traffic::Commands(board, mark);
            std::vector<std::pair<int, int>> halves;
            for (int bank = c.head; bank < c.head + c.run; ++bank) {
                halves.insert(halves.end(), {{bank, 0x0000}, {bank, 0x8000}});
            }
            EXPECT_EQ(traffic::Addresses(sent, sim::kCmdRead), halves);
            for (uint16_t length : traffic::Lengths(sent, sim::kCmdRead)) EXPECT_EQ(length, kChunk);
            EXPECT_EQ(traffic::BusSequence(sent), (std::vector<int>{1, 0}));
            char first[64];
            std::snprintf(first, sizeof first, "Please wait, reading flash: %d kbytes remaining",
                          c.run * 64);
            EXPECT_TRUE(Shown(first)) << first;
            EXPECT_EQ(Status(), "Done!");
            EXPECT_EQ(FlashMenuMode, MenuMode::Idle);
            EXPECT_TRUE(standin::Enabled(dialog, IDC_READ));
        });
        EXPECT_EQ(ReadFileBytes(path), FlashRange(c.head * kSlot, c.run * kSlot));
        traffic::ExpectErrorBoxes({});
    }
}

TEST_F(BackupTest, TranscriptOfABackup) {
    LayImage(4, kElf, "three", 3 * kSlot, 3, 11);
    RunConnected([&](HWND) {
        Click(IDC_READ);
        board.ClearLog();
        BackUp(5, TempPath("three.gcb"));
        traffic::ExpectGoldenTranscript(board.Transcript(), "backup_three_slots.txt");
    });
}

// Owners the window never hands over, and maps a scan never builds.
TEST(CountSlotRunTest, CountsConsecutiveOwnerEntries) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, int>> owners;  // slot, owner; every other slot free
        int owner;
        int run;
    };
    const std::vector<Case> cases = {
        {"free slot", {}, 3, 0},
        {"below the slots", {}, -1, 0},
        {"past the slots", {}, 32, 0},
        {"continuation slot", {{4, 4}, {5, 4}}, 5, 0},
        {"stops at the first other owner", {{0, 0}, {1, 0}, {2, 2}, {3, 0}}, 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (SlotEntry& entry : SlotMap) entry = SlotEntry{SlotState::Free, -1};
        for (const auto& [slot, owner] : c.owners)
            SlotMap[slot] = SlotEntry{SlotState::Used, owner};
        EXPECT_EQ(CountSlotRun(c.owner), c.run);
    }
    for (SlotEntry& entry : SlotMap) entry = SlotEntry{};
}

// Every end but a failed read: the result, the reads, the bus, the mode and the boxes. Only the
// cancelled dialog skips the repaint of the window under it.
TEST_F(BackupTest, ResultModeAndBusAtEveryEnd) {
    LayImage(2, kElf, "app", 2 * kSlot, 2, 8);
    const std::string old = TempPath("old backup.gcb");
    const std::string saved = TempPath("saved.gcb");
    const std::string noFolder = TempPath("none/out.gcb");
    WriteFileBytes(old, Pattern(1000, 6));
    struct Case {
        const char* name;
        std::string path;  // empty: the dialog cancelled
        bool busy;
        int result;
        int reads;
        std::vector<int> bus;
        MenuMode mode;
        const char* box;
    };
    const std::vector<Case> cases = {
        {"cancelled", "", false, 0, 0, {}, MenuMode::Read, nullptr},
        {"no such folder", noFolder, false, 0, 0, {}, MenuMode::Idle, "Failed to open file."},
        {"bus busy", old, true, 0, 0, {1}, MenuMode::Idle, "Bus busy. Please try again later"},
        // A disk that refuses the bytes is a failed backup, not "Done!"; the bus goes back.
        {"disk full", "/dev/full", false, 0, 1, {1, 0}, MenuMode::Idle, "Failed to write file."},
        {"saved", saved, false, 1, 4, {1, 0}, MenuMode::Idle, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        standin::ClearMessageBoxes();
        RunConnected([&](HWND) {
            Click(IDC_READ);
            const size_t mark = board.Log().size();
            const int repaints = standin::RepaintCount(dialog);
            if (c.busy) board.ScriptBusStates({sim::kBusHeldByOther});
            c.path.empty() ? CancelFileDialog() : AnswerSave(c.path);
            EXPECT_EQ(BackupApplication(dialog, 2), c.result);
            EXPECT_EQ(standin::RepaintCount(dialog) > repaints, !c.path.empty());
            const std::vector<traffic::SentCommand> sent = traffic::Commands(board, mark);
            EXPECT_EQ(traffic::Count(sent, sim::kCmdRead), c.reads);
            EXPECT_EQ(traffic::BusSequence(sent), c.bus);
            EXPECT_EQ(Shown("Done!"), c.result == 1);
            EXPECT_EQ(Status() == "KELM OK!", c.reads == 0);  // nothing shown without a read
            EXPECT_EQ(FlashMenuMode, c.mode);
            EXPECT_EQ(standin::Enabled(dialog, IDC_WRITE), c.mode == MenuMode::Idle);
        });
        traffic::ExpectErrorBoxes(c.box ? std::vector<std::string>{c.box}
                                        : std::vector<std::string>{});
    }
    // The old file was cut to length 0 before the bus was asked for, and stays so.
    EXPECT_EQ(std::filesystem::file_size(old), 0u);
    EXPECT_EQ(ReadFileBytes(saved), FlashRange(2 * kSlot, 2 * kSlot));
    const auto files = std::filesystem::directory_iterator(tempDir);
    EXPECT_EQ(std::distance(begin(files), end(files)), 2);  // none from the cancel or the folder
}

// A failed read keeps the whole pieces saved before it, the bus and the Read mode.
TEST_F(BackupTest, FailedReadKeepsWholePiecesAndReadMode) {
    struct Case {
        const char* name;
        uint64_t piece;   // the read that fails, from 0
        uint64_t within;  // exchange inside that read: 0 is its command
        sim::Fault fault;
    };
    const std::vector<Case> cases = {
        {"first answer of the first read", 0, 1, sim::Fault::RefuseFeature},
        {"second half of the first slot", 1, 300, sim::Fault::RefuseFeature},
        {"second half of the second slot", 3, 521, sim::Fault::RefuseFeature},
        {"command of the third slot", 4, 0, sim::Fault::FailWrite},
    };
    LayImage(4, kElf, "three", 3 * kSlot, 3, 7);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        standin::ClearMessageBoxes();
        const std::string path = TempPath("partial.gcb");
        RunConnected([&](HWND) {
            Click(IDC_READ);
            const size_t mark = board.Log().size();
            board.InjectFault(
                board.ExchangeCount() + kBusRequestExchanges + c.piece * kReadExchanges + c.within,
                c.fault);
            AnswerSave(path);
            ClickSlot(4);
            const std::vector<traffic::SentCommand> sent = traffic::Commands(board, mark);
            EXPECT_EQ(traffic::BusSequence(sent), std::vector<int>{1});  // still requested
            EXPECT_EQ(FlashMenuMode, MenuMode::Read);
            EXPECT_EQ(CheckedSlots(), (std::vector<int>{4, 5, 6}));
            EXPECT_FALSE(Shown("Done!"));
            board.ClearFaults();
        });
        EXPECT_EQ(ReadFileBytes(path), FlashRange(4 * kSlot, c.piece * kChunk));
        traffic::ExpectErrorBoxes({c.fault == sim::Fault::FailWrite
                                       ? "Error sending CMD_READ command."
                                       : "Error reading CMD_READ response."});
    }
}

// A .gcb written to the board and backed up again comes back as it was, but for the size
// field; written back elsewhere it reproduces the run.
TEST_F(BackupTest, RoundTripThroughAGcbFile) {
    std::vector<uint8_t> original = Pattern(2 * kSlot, 10);
    const std::vector<uint8_t> head = Header(kBios, "round trip", 0x7FFF0000);
    std::copy(head.begin(), head.end(), original.begin());
    original[249] = 0x5A;  // the reserved word travels as it is
    const std::string source = TempPath("source.gcb");
    const std::string saved = TempPath("saved.gcb");
    WriteFileBytes(source, original);
    RunConnected([&](HWND) {
        AnswerOpen(source, kBiosFilter);
        Click(IDC_WRITE);
        ASSERT_TRUE(ClickSlot(2));
        BackUp(3, saved);
        AnswerOpen(saved, kBiosFilter);
        Click(IDC_WRITE);
        ASSERT_TRUE(ClickSlot(6));
        EXPECT_EQ(SlotCaption(6), "BIOS");
        EXPECT_EQ(SlotCaption(7), "...");
    });
    std::vector<uint8_t> expected = original;
    const std::vector<uint8_t> size = {0x00, 0x02, 0x00, 0x00};
    std::copy(size.begin(), size.end(), expected.begin() + 252);
    EXPECT_EQ(ReadFileBytes(saved), expected);
    EXPECT_EQ(FlashRange(6 * kSlot, 2 * kSlot), expected);
    traffic::ExpectErrorBoxes({});
}

}  // namespace
