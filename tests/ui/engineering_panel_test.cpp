// The hidden engineering commands: through dialog 101 by identifier, as the delivered window
// can only receive them, and called directly against a window that has the panel's fields.
#include "ui/engineering_panel.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "device/flash_transfer.h"
#include "device/hid_access.h"
#include "support/app_fixture.h"
#include "support/board_fixture.h"
#include "ui/main_dialog.h"
#include "ui/resource.h"
#include "ui/status_line.h"

namespace {

using Texts = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

constexpr size_t kSector = 32768;
constexpr char kBadCount[] = "Invalid byte count field value (maximum count allowed is 16).";
constexpr char kBadAddress[] = "Invalid address field value.";
constexpr char kOpenFailed[] = "Failed to open file.";
constexpr char kBadSectorFile[] = "Invalid syntax in hex file.";
constexpr char kReadSendFailed[] = "Error sending CMD_READ command.";
constexpr char kReadFailed[] = "Failed to read file.";
constexpr char kResetText[] = "Board reset.\n\nUnplug and plug back device to re-enumerate.";
const std::string kReadSector =
    "> READ bank=0 offset=0x0000 length=32768\n< data x521 (32768 bytes)\n";
const std::string kWriteSector =
    "> WRITE bank=0 offset=0x0000 length=32768\n> data x521 (32768 bytes)\n";

// The status texts of one 32 KB transfer counted down from 32768: 32, 31, ... 1.
Texts Countdown(const char* format) {
    Texts texts;
    for (int k = 32; k >= 1; --k) {
        char text[64];
        std::snprintf(text, sizeof text, format, k);
        texts.push_back(text);
    }
    return texts;
}

Bytes Changed(Bytes bytes, size_t at) {
    bytes[at] ^= 0x5A;
    return bytes;
}

Bytes Joined(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

Bytes Erased(size_t length) { return Bytes(length, 0xFF); }

Bytes SectorOf(const Bytes& flash) { return Bytes(flash.begin(), flash.begin() + kSector); }

class PanelAppTest : public AppTest {
  protected:
    // The engineering commands work on the flash directly, without bus requests.
    PanelAppTest() { allowFlashWithoutBus = true; }
    // Flash erased and histories cleared, so that one command's traffic and boxes stand alone.
    void Fresh() {
        board.FillFlash(0xFF);
        board.ClearLog();
        board.ClearProtocolEvents();
        standin::ClearMessageBoxes();
        standin::ClearHistory(dialog);
    }
    void ExpectPlainBox(const standin::MessageBoxRecord& box, const std::string& title) {
        EXPECT_EQ(box.caption, title);
        EXPECT_EQ(box.owner, dialog);
        EXPECT_EQ(box.type, static_cast<UINT>(MB_OK));
    }
};

// Each sector command: one transfer counted down from its own 32 KB, never a bus request.
TEST_F(PanelAppTest, SectorTransfersCountDownFromTheirOwnSizeWithoutTheBus) {
    const std::string file = TempPath("sector.bin");
    WriteFileBytes(file, Pattern(kSector, 3));
    RunConnected([&](HWND) {
        for (int command : {IDC_BLANK_CHECK, IDC_UPLOAD, IDC_VERIFY, IDC_PROGRAM}) {
            SCOPED_TRACE(command);
            const bool program = command == IDC_PROGRAM;
            Fresh();
            ProgressCounter = {5, 5};  // a leftover that must not be carried on
            if (command == IDC_UPLOAD) AnswerSave(TempPath("up.hex"));
            if (command == IDC_VERIFY || program) AnswerOpen(file, 0);
            Command(command);
            EXPECT_EQ(board.Transcript(), program ? kWriteSector : kReadSector);
            EXPECT_EQ(standin::TextHistory(dialog, IDC_STATUS),
                      Countdown(program ? kWritingText : kReadingText));
            // The board notes it: the bus was given back at the end of the connect's scan.
            const std::vector<sim::ProtocolEvent> events = board.ProtocolEvents();
            ASSERT_EQ(events.size(), 1u);
            EXPECT_EQ(events[0].command, program ? sim::kCmdWrite : sim::kCmdRead);
            EXPECT_EQ(events[0].lapse, sim::BusLapse::Released);
        }
    });
}

// The verify passes over 0x555 of every 4 KB and the bytes past 32 KB of a file; the blank
// check looks at every byte. Verdicts are plain boxes owned by the window.
TEST_F(PanelAppTest, VerdictBoxes) {
    const Bytes sector = Pattern(kSector, 11);
    const Bytes head = Pattern(100, 5);
    enum Verdict { Match, Mismatch, Blank, NotBlank };
    const char* texts[] = {"File content DOES match.", "File contents does NOT match.",
                           "Sector is blank.", "Sector is not blank."};
    const char* titles[] = {"Verification successfull", "Verification failed", "Blank Check",
                            "Blank Check"};
    struct Case {
        const char* name;
        Bytes flash;
        Bytes file;  // empty: the blank check
        Verdict verdict;
    };
    const std::vector<Case> cases = {
        {"same sector", sector, sector, Match},
        {"short file, erased rest", Joined(head, Erased(kSector - 100)), head, Match},
        {"short file, written rest", sector, Bytes(sector.begin(), sector.begin() + 100), Mismatch},
        {"0x1555 skipped", sector, Changed(sector, 0x1555), Match},
        {"0x7555 skipped", sector, Changed(sector, 0x7555), Match},
        {"0x1556 compared", sector, Changed(sector, 0x1556), Mismatch},
        {"last byte compared", sector, Changed(sector, kSector - 1), Mismatch},
        {"past 32 KB ignored", sector, Joined(sector, Pattern(500, 9)), Match},
        {"erased", {}, {}, Blank},
        {"0x0555 counts", Changed(Erased(0x556), 0x555), {}, NotBlank},
        {"last byte counts", Joined(Erased(kSector - 1), {0xFE}), {}, NotBlank},
    };
    RunConnected([&](HWND) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            Fresh();
            Lay(0, c.flash);
            Lay(kSector, {0x00});  // the second half of the slot is no part of the sector
            if (!c.file.empty()) {
                WriteFileBytes(TempPath("v.bin"), c.file);
                AnswerOpen(TempPath("v.bin"), 0);
            }
            Command(c.file.empty() ? IDC_BLANK_CHECK : IDC_VERIFY);
            ASSERT_EQ(BoxTexts(), Texts{texts[c.verdict]});
            ExpectPlainBox(Boxes()[0], titles[c.verdict]);
        }
    });
}

// Program: a short file padded with 0xFF, a long one cut at 32 KB, the rest of the slot left
// alone. Upload: the raw sector, exactly 32 KB, replacing a longer file without a question.
TEST_F(PanelAppTest, SectorFiles) {
    const Bytes longFile = Pattern(kSector + 4000, 21);
    const Bytes shortFile = Pattern(100, 4);
    const std::vector<std::pair<Bytes, Bytes>> programmed = {
        {shortFile, Joined(shortFile, Erased(kSector - 100))},
        {longFile, SectorOf(longFile)},
    };
    const std::string upload = TempPath("old.bin");
    WriteFileBytes(upload, Pattern(3 * kSector, 1));
    HWND owner = nullptr;
    RunConnected([&](HWND window) {
        owner = window;
        for (const auto& [file, sector] : programmed) {
            Fresh();
            WriteFileBytes(TempPath("p.bin"), file);
            AnswerOpen(TempPath("p.bin"), 0);
            Command(IDC_PROGRAM);
            const Bytes flash = board.Flash();
            EXPECT_EQ(SectorOf(flash), sector);
            EXPECT_EQ(Bytes(flash.begin() + kSector, flash.begin() + 2 * kSector), Erased(kSector));
        }
        Lay(0, longFile);
        AnswerSave(upload);
        Command(IDC_UPLOAD);
    });
    EXPECT_EQ(ReadFileBytes(upload), SectorOf(longFile));
    EXPECT_TRUE(Boxes().empty());
    const std::vector<standin::FileDialogRecord> dialogs = FileDialogs();
    ASSERT_EQ(dialogs.size(), 3u);
    for (const standin::FileDialogRecord& record : dialogs) {
        EXPECT_EQ(record.owner, owner);
        EXPECT_EQ(record.initialName, record.save ? "flash.hex" : "");
        EXPECT_TRUE(record.filterIsNull);
        EXPECT_EQ(record.flags, 0u);
        EXPECT_EQ(record.maxFile, 260u);
        EXPECT_FALSE(record.hasTitle || record.hasDefExt);
    }
    EXPECT_TRUE(dialogs[2].save);
}

// Dialog 101 has no count field, so the manual read is refused there; without a board the
// upload fails at its first report, before any file dialog.
TEST_F(PanelAppTest, NotConnected) {
    Run([&](HWND) {
        Command(IDC_PANEL_READ);
        Command(IDC_UPLOAD);
    });
    EXPECT_EQ(BoxTexts(), (Texts{kBadCount, kReadSendFailed}));
    EXPECT_TRUE(FileDialogs().empty());
    EXPECT_EQ(board.ExchangeCount(), 0u);
}

// Block 0 is erased at once: no question, no status text, the catalogue not read again.
TEST_F(PanelAppTest, EraseBlockZeroLeavesTheWindowAlone) {
    Lay(0, Header("(C) ", "bios", 65536));
    Lay(65536, {0x12, 0x34});
    RunConnected([&](HWND) {
        board.ClearLog();
        standin::ClearHistory(dialog);
        Command(IDC_PANEL_ERASE);
        EXPECT_EQ(board.CountCommands(sim::kCmdErase), 1);
        EXPECT_EQ(board.Transcript().rfind("> ERASE bank=0\n", 0), 0u);
        EXPECT_EQ(board.CountCommands(sim::kCmdBus) + board.CountCommands(sim::kCmdRead), 0);
        EXPECT_TRUE(Boxes().empty());
        EXPECT_TRUE(standin::TextHistory(dialog, IDC_STATUS).empty());
        EXPECT_EQ(SlotCaption(0), "BIOS");
    });
    const Bytes flash = board.Flash();
    EXPECT_EQ(Bytes(flash.begin(), flash.begin() + 65536), Erased(65536));
    EXPECT_EQ(flash[65536], 0x12);
}

// The monitor is stopped without waiting, once; the window stays connected and still works.
TEST_F(PanelAppTest, StopMonitorTwiceStaysConnected) {
    RunConnected([&](HWND) {
        ASSERT_NE(MonitorThreadHandle, nullptr);
        // Nothing waits for the stopped thread; the fixture sees it end by its handles, so it
        // must hold them before it is told to stop.
        auto monitorOpened = [] {
            for (const standin::OpenRecord& open : standin::DeviceOpens()) {
                if (open.succeeded && (open.flags & FILE_FLAG_OVERLAPPED) != 0) return true;
            }
            return false;
        };
        for (int ms = 0; ms < 5000 && !monitorOpened(); ++ms) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        Command(IDC_STOP_MONITOR);
        Command(IDC_STOP_MONITOR);
        EXPECT_EQ(MonitorThreadHandle, nullptr);
        EXPECT_TRUE(IsConnected());
        EXPECT_EQ(Status(), "KELM OK!");
        Command(IDC_BLANK_CHECK);
    });
    // Closing the window found no thread to wait for: no "not exiting" box.
    EXPECT_EQ(BoxTexts(), Texts{"Sector is blank."});
}

// Reset 2 s after the command, disconnect, panel off, the notice; a reset that could not be
// sent changes nothing of that. The board drops off, and the monitor's failure that follows is
// no reason to end the program: the next click on the connect button connects again.
TEST_F(PanelAppTest, PanelResetDisconnectsAndTheWindowConnectsAgain) {
    for (bool sendFails : {false, true}) {
        SCOPED_TRACE(sendFails);
        board.ClearFaults();
        Lay(0, Header("(C) ", "bios", 65536));
        RunConnected([&](HWND) {
            Fresh();
            const uint64_t start = standin::NowMs();
            if (sendFails) board.InjectFault(0, sim::Fault::FailWrite);
            Command(IDC_PANEL_RESET);
            const Texts boxes = sendFails ? Texts{"Error sending CMD_RESET command.", kResetText}
                                          : Texts{kResetText};
            EXPECT_EQ(BoxTexts(), boxes);
            ExpectPlainBox(Boxes().back(), "Reset");
            ASSERT_EQ(board.Log().size(), 1u);
            EXPECT_EQ(board.Log()[0].failed, sendFails);
            EXPECT_GE(board.Log()[0].timeMs, start + 2000);
            EXPECT_FALSE(IsConnected());
            EXPECT_EQ(MonitorThreadHandle, nullptr);
            EXPECT_EQ(Status(), "Not connected to kelm.");
            EXPECT_EQ(standin::Text(dialog, IDC_CONNECT), "&Connect to kelm");
            EXPECT_EQ(SlotCaption(0), "BIOS");  // the slot buttons as they were

            board.Plug();
            ASSERT_TRUE(Click(IDC_CONNECT));
            EXPECT_EQ(Status(), "KELM OK!");
            EXPECT_TRUE(IsConnected());
        });
    }
}

// ---------------------------------------------------------------- a window with the fields

class PanelFieldsTest : public BoardTest {
  protected:
    // The engineering commands work on the flash directly, without bus requests.
    PanelFieldsTest() { allowFlashWithoutBus = true; }
    void SetUp() override {
        BoardTest::SetUp();
        const DWORD style = WS_CHILD | WS_VISIBLE;
        std::vector<standin::ControlSpec> controls = {
            {IDC_STATUS, "STATIC", "", style, 0, {}},
            {IDC_PANEL_COUNT, "EDIT", "", style, 0, {}},
            {IDC_PANEL_ADDRESS, "EDIT", "", style, 0, {}},
            {IDC_PANEL_DATA, "EDIT", "", style, 0, {}},
            {IDC_PANEL_BANK, "COMBOBOX", "", style, 0, {}},
        };
        for (int bank = 0; bank < 32; ++bank) controls[4].items.push_back(std::to_string(bank));
        standin::DestroyTestDialog(window);
        window = standin::CreateTestDialog(controls);
        MainWindow = window;
        char folder[] = "/tmp/kelm_panel_XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        tempDir = folder;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(tempDir, ignored);
        BoardTest::TearDown();
    }
    std::string tempDir;
};

// Count and address are hexadecimal ("%x"), their low 16 bits used; the count may not pass 16.
// A refused read leaves the data field as it was.
TEST_F(PanelFieldsTest, ManualRead) {
    Lay(2 * 65536 + 0x1F, {0x0A, 0xFF, 0x00});
    Lay(31 * 65536 + 0xFFF0, Bytes(16, 0x5C));
    std::string fives;
    for (int i = 0; i < 16; ++i) fives += "5C ";
    struct Case {
        std::string count;
        std::string address;
        int bank;          // -1: no entry selected
        std::string data;  // the data field afterwards; "old" when the read did not happen
        std::string box;
        std::string read;  // the CMD_READ sent, if any
    };
    const std::vector<Case> cases = {
        {"3", "0x1f", 2, "0A FF 00 ", "", "> READ bank=2 offset=0x001F length=3"},
        {" 0X3", "1F", 2, "0A FF 00 ", "", "> READ bank=2 offset=0x001F length=3"},
        {"10", "fff0", 31, fives, "", "> READ bank=31 offset=0xFFF0 length=16"},
        {"10010", "1fff0", 31, fives, "", "> READ bank=31 offset=0xFFF0 length=16"},
        {"1", "20zz", -1, "FF ", "", "> READ bank=0 offset=0x0020 length=1"},
        {"11", "0", 0, "old", kBadCount, ""},
        {"16", "0", 0, "old", kBadCount, ""},
        {"", "0", 0, "old", kBadCount, ""},
        {"x1", "0", 0, "old", kBadCount, ""},
        {"-1", "0", 0, "old", kBadCount, ""},
        {"2", "", 0, "old", kBadAddress, ""},
        {"2", "g1", 0, "old", kBadAddress, ""},
        {"0", "0", 0, "old", "Invalid parameter.", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count + " / " + c.address);
        standin::SetControlText(window, IDC_PANEL_COUNT, c.count);
        standin::SetControlText(window, IDC_PANEL_ADDRESS, c.address);
        standin::SetControlText(window, IDC_PANEL_DATA, "old");
        standin::SelectComboItem(window, IDC_PANEL_BANK, c.bank);
        standin::ClearMessageBoxes();
        board.ClearLog();
        ProgressCounter = {999, 999};
        EXPECT_EQ(ManualRead(window), c.read.empty() ? 0 : 1);
        EXPECT_EQ(standin::Text(window, IDC_PANEL_DATA), c.data);
        EXPECT_EQ(BoxTexts(), c.box.empty() ? Texts{} : Texts{c.box});
        const std::string transcript = board.Transcript();
        EXPECT_EQ(transcript.substr(0, transcript.find('\n')), c.read);
        if (c.read.empty()) continue;
        // Set to the count before the read: no kilobyte passed, so no status text either.
        EXPECT_EQ(ProgressCounter.remaining, 0u);
        EXPECT_EQ(ProgressCounter.lastShown, c.data.size() / 3);
    }
}

// Results, messages and traffic when the file dialog is cancelled, a file fails, or the board
// refuses the first report.
TEST_F(PanelFieldsTest, ResultsAndFailures) {
    const std::string sector = tempDir + "/s.bin";
    std::FILE* out = std::fopen(sector.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(std::fwrite(Erased(kSector).data(), 1, kSector, out), kSector);
    ASSERT_EQ(std::fclose(out), 0);

    auto answer = [](const std::string& path) {
        standin::FileDialogAnswer a;
        a.path = path;
        a.cancel = path.empty();
        return std::vector<standin::FileDialogAnswer>{a};
    };
    const auto cancel = answer("");
    const auto load = answer(sector);
    const auto missing = answer(tempDir + "/none/x");
    const auto unreadable = answer(tempDir);  // a folder opens here, but cannot be read
    const auto save = answer(tempDir + "/out.hex");
    const auto full = answer("/dev/full");
    const Texts noFile = {kOpenFailed, kBadSectorFile};
    const Texts writeRefused = {"Error sending CMD_WRITE command."};
    struct Case {
        const char* name;
        int (*command)(int);
        std::vector<standin::FileDialogAnswer> answers;
        bool sendFails;  // the first report to the board is refused
        int result;
        Texts boxes;
        bool sends;
    };
    const std::vector<Case> cases = {
        {"blank check", BlankCheck, {}, false, 1, {"Sector is blank."}, true},
        {"blank check, refused", BlankCheck, {}, true, 0, {kReadSendFailed}, true},
        {"program", ProgramSector, load, false, 1, {}, true},
        {"program, cancelled", ProgramSector, cancel, false, 0, {}, false},
        {"program, no file", ProgramSector, missing, false, 0, noFile, false},
        {"program, unreadable", ProgramSector, unreadable, false, 0, {kReadFailed}, false},
        {"program, refused", ProgramSector, load, true, 0, writeRefused, true},
        {"verify", VerifySector, load, false, 1, {"File content DOES match."}, true},
        {"verify, refused", VerifySector, load, true, 1, {kReadSendFailed}, true},
        {"verify, cancelled", VerifySector, cancel, false, 0, {}, false},
        {"verify, no file", VerifySector, missing, false, 0, noFile, false},
        {"upload", UploadSector, save, false, 1, {}, true},
        {"upload, cancelled", UploadSector, cancel, false, 0, {}, true},
        {"upload, no folder", UploadSector, missing, false, 0, {kOpenFailed}, true},
        {"upload, disk full", UploadSector, full, false, 0, {"Failed to write file."}, true},
        {"upload, refused", UploadSector, {}, true, 0, {kReadSendFailed}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        board.FillFlash(0xFF);
        board.ClearLog();
        standin::ClearMessageBoxes();
        standin::QueueFileDialogAnswers(c.answers);
        if (c.sendFails) board.InjectFault(0, sim::Fault::FailWrite);
        EXPECT_EQ(c.command(0), c.result);
        EXPECT_EQ(BoxTexts(), c.boxes);
        EXPECT_EQ(board.ExchangeCount() != 0, c.sends);
        board.ClearFaults();
    }
    EXPECT_EQ(std::filesystem::file_size(tempDir + "/out.hex"), kSector);
    EXPECT_FALSE(std::filesystem::exists(tempDir + "/none"));
    EXPECT_EQ(standin::FileDialogs().size(), 13u);  // none after a refused read
}

}  // namespace
