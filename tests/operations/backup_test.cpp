// Backing an application up through the window: the save dialog, the run counted from the slot
// map, the file against the simulated flash, and every way the backup can end.
#include "operations/backup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
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

    bool Contains(const std::string& text) const {
        const std::vector<std::string> texts = standin::TextHistory(dialog, IDC_STATUS);
        return std::find(texts.begin(), texts.end(), text) != texts.end();
    }
};

TEST_F(BackupTest, SaveDialogOffersFileGcbWithOneFilter) {
    LayImage(2, kElf, "app", kSlot, 1, 1);
    const std::string path = TempPath("out.gcb");
    HWND window = nullptr;
    RunConnected([&](HWND running) {
        window = running;
        const int repaints = standin::RepaintCount(dialog);
        BackUp(2, path);
        EXPECT_GT(standin::RepaintCount(dialog), repaints);
    });
    const std::vector<standin::FileDialogRecord> dialogs = FileDialogs();
    ASSERT_EQ(dialogs.size(), 1u);
    const standin::FileDialogRecord& record = dialogs[0];
    EXPECT_TRUE(record.save);
    EXPECT_EQ(record.owner, window);
    EXPECT_EQ(record.filter, (std::vector<std::string>{"BIOS Files(*.gcb)", "*.gcb"}));
    EXPECT_EQ(record.initialName, "file.gcb");
    EXPECT_EQ(record.maxFile, 260u);
    EXPECT_EQ(record.flags, 0u);
    EXPECT_FALSE(record.hasTitle);
    EXPECT_FALSE(record.hasInitialDir);
    EXPECT_FALSE(record.hasDefExt);
    EXPECT_EQ(record.structSize, sizeof(OPENFILENAMEA));
}

// The run is counted from the owner entries, whichever of its slots is clicked; the file is
// exactly the run's slots, half by half, header first. The name has no extension and gets none.
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
        {"corrupted slot alone", 10, "JUNK", 5 * kSlot, 2, 10, 1},
        {"up to slot 31", 28, kBios, 4 * kSlot, 4, 31, 4},
        {"size 0 at slot 31", 31, kElf, 0, 1, 31, 1},
        {"clamped size at 30", 30, kElf, 3 * kSlot, 2, 31, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        board.FillFlash(0xFF);
        LayImage(c.head, c.magic, "app", c.size, c.laidSlots, 2);
        if (std::string(c.name) == "corrupted slot alone") {
            Lay(11 * kSlot, Header("JUNK", "next", kSlot));  // itself corrupted, not saved
        }
        const std::string path = TempPath("backup");
        RunConnected([&](HWND) {
            const size_t mark = board.Log().size();
            BackUp(c.click, path);
            const std::vector<traffic::SentCommand> sent = traffic::Commands(board, mark);
            std::vector<std::pair<int, int>> halves;
            for (int j = 0; j < c.run; ++j) {
                halves.emplace_back(c.head + j, 0x0000);
                halves.emplace_back(c.head + j, 0x8000);
            }
            EXPECT_EQ(traffic::Addresses(sent, sim::kCmdRead), halves);  // and no rescan
            for (uint16_t length : traffic::Lengths(sent, sim::kCmdRead)) EXPECT_EQ(length, kChunk);
            EXPECT_EQ(traffic::BusSequence(sent), (std::vector<int>{1, 0}));
            char first[64];
            std::snprintf(first, sizeof first, "Please wait, reading flash: %d kbytes remaining",
                          c.run * 64);
            EXPECT_TRUE(Contains(first)) << first;
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
        {"head", {{4, 4}, {5, 4}, {6, 4}}, 4, 3},
        {"run up to slot 31", {{29, 29}, {30, 29}, {31, 29}}, 29, 3},
        {"corrupted followed by corrupted", {{10, 10}, {11, 11}}, 10, 1},
        {"stops at the first other owner", {{0, 0}, {1, 0}, {2, 2}, {3, 0}}, 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (SlotEntry& entry : SlotMap) entry = SlotEntry{Free, -1};
        for (const auto& [slot, owner] : c.owners) SlotMap[slot] = SlotEntry{Used, owner};
        EXPECT_EQ(CountSlotRun(c.owner), c.run);
    }
    for (SlotEntry& entry : SlotMap) entry = SlotEntry{};
}

TEST_F(BackupTest, CancelKeepsReadModeAndTheNextClickAsksAgain) {
    LayImage(4, kElf, "three", 3 * kSlot, 3, 3);
    const std::string path = TempPath("second try.gcb");
    RunConnected([&](HWND) {
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
    EXPECT_EQ(FileDialogs().size(), 2u);
    EXPECT_EQ(ReadFileBytes(path), FlashRange(4 * kSlot, 3 * kSlot));
}

TEST_F(BackupTest, UnopenableFileReturnsToIdleWithoutTraffic) {
    LayImage(0, kElf, "app", kSlot, 1, 4);
    RunConnected([&](HWND) {
        const size_t mark = board.Log().size();
        BackUp(0, TempPath("no such folder/out.gcb"));
        EXPECT_TRUE(traffic::Commands(board, mark).empty());
        EXPECT_EQ(FlashMenuMode, MenuMode::Idle);
        EXPECT_EQ(Status(), "app");  // the click's name, nothing after it
    });
    traffic::ExpectErrorBoxes({"Failed to open file."});
}

// The file was cut to length 0 before the bus was asked for, and stays so.
TEST_F(BackupTest, BusBusyLeavesAnEmptyFileAndIdle) {
    LayImage(0, kElf, "app", kSlot, 1, 5);
    const std::string path = TempPath("old backup.gcb");
    WriteFileBytes(path, Pattern(1000, 6));
    RunConnected([&](HWND) {
        const size_t mark = board.Log().size();
        board.ScriptBusStates({sim::kBusHeldByOther});
        BackUp(0, path);
        const std::vector<traffic::SentCommand> sent = traffic::Commands(board, mark);
        EXPECT_EQ(traffic::Count(sent, sim::kCmdRead), 0);
        EXPECT_EQ(traffic::BusSequence(sent), std::vector<int>{1});
        EXPECT_EQ(FlashMenuMode, MenuMode::Idle);
        EXPECT_FALSE(Contains("Done!"));
    });
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
    traffic::ExpectErrorBoxes({"Bus busy. Please try again later"});
}

// A failed read keeps the whole pieces saved before it, the bus and the Read mode.
TEST_F(BackupTest, FailedReadKeepsWholePiecesAndReadMode) {
    struct Case {
        const char* name;
        uint64_t piece;   // the read that fails, from 0
        uint64_t within;  // exchange inside that read: 0 is its command
        sim::Fault fault;
        const char* box;
    };
    const std::vector<Case> cases = {
        {"first answer of the first read", 0, 1, sim::Fault::RefuseFeature,
         "Error reading CMD_READ response."},
        {"second half of the first slot", 1, 300, sim::Fault::RefuseFeature,
         "Error reading CMD_READ response."},
        {"second half of the second slot", 3, 521, sim::Fault::RefuseFeature,
         "Error reading CMD_READ response."},
        {"command of the third slot", 4, 0, sim::Fault::FailWrite,
         "Error sending CMD_READ command."},
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
            EXPECT_FALSE(Contains("Done!"));
            board.ClearFaults();
        });
        EXPECT_EQ(ReadFileBytes(path), FlashRange(4 * kSlot, c.piece * kChunk));
        traffic::ExpectErrorBoxes({c.box});
    }
}

// A disk that refuses the bytes is a failed backup, not "Done!"; the bus goes back.
TEST_F(BackupTest, FullDiskIsReportedAndTheBusReleased) {
    LayImage(2, kElf, "app", 2 * kSlot, 2, 8);
    RunConnected([&](HWND) {
        Click(IDC_READ);
        const size_t mark = board.Log().size();
        AnswerSave("/dev/full");
        EXPECT_EQ(BackupApplication(dialog, 2), 0);
        const std::vector<traffic::SentCommand> sent = traffic::Commands(board, mark);
        EXPECT_EQ(traffic::BusSequence(sent), (std::vector<int>{1, 0}));
        EXPECT_FALSE(Contains("Done!"));
        EXPECT_EQ(FlashMenuMode, MenuMode::Idle);
        EXPECT_TRUE(standin::Enabled(dialog, IDC_WRITE));
    });
    traffic::ExpectErrorBoxes({"Failed to write file."});
}

TEST_F(BackupTest, ResultIsOneOnlyWhenTheFileWasWritten) {
    LayImage(2, kElf, "app", kSlot, 1, 9);
    const std::string path = TempPath("result.gcb");
    RunConnected([&](HWND) {
        Click(IDC_READ);
        CancelFileDialog();
        EXPECT_EQ(BackupApplication(dialog, 2), 0);
        AnswerSave(path);
        EXPECT_EQ(BackupApplication(dialog, 2), 1);
    });
    EXPECT_EQ(ReadFileBytes(path), FlashRange(2 * kSlot, kSlot));
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
    expected[252] = 0x00;
    expected[253] = 0x02;
    expected[254] = 0x00;
    expected[255] = 0x00;
    EXPECT_EQ(ReadFileBytes(saved), expected);
    EXPECT_EQ(FlashRange(6 * kSlot, 2 * kSlot), expected);
    traffic::ExpectErrorBoxes({});
}

}  // namespace
