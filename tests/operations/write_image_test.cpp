// Writing an image through the window: file choice, placement, the chunks on the board and the
// failure paths, checked on the simulated flash byte for byte.
#include "operations/write_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "catalogue/catalogue_scan.h"
#include "data/vgc_block.h"
#include "operations/operation_checks.h"
#include "support/app_fixture.h"
#include "ui/flash_menu.h"
#include "ui/resource.h"

namespace {

constexpr int kBiosFilter = 1;
constexpr int kDolFilter = 2;
constexpr int kElfFilter = 3;
constexpr int kVgcFilter = 4;

constexpr size_t kSlot = 65536;
constexpr size_t kChunk = 32768;
constexpr size_t kFlash = 2 * 1024 * 1024;

constexpr char kNoRoom[] = "Sorry, not enough free space!\nPlease erase something first!";
constexpr char kEncrypted[] =
    "Sorry, can't flash encrypted .VGC files!\nThey depend on undocumented features\n"
    "which are only available to insider persons!";

const char kElf[4] = {'E', 'L', 'F', '\0'};
const char kBios[4] = {'(', 'C', ')', ' '};

// The size field every generated header carries: L rounded up to 64 KB.
uint32_t RoundedSize(size_t imageLength) {
    return static_cast<uint32_t>((imageLength + kSlot - 1) / kSlot * kSlot);
}

// Index of the first differing byte, or -1: a 2 MB comparison must not print 2 MB.
long FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size()) return static_cast<long>(std::min(a.size(), b.size()));
    const auto differs = std::mismatch(a.begin(), a.end(), b.begin());
    return differs.first == a.end() ? -1 : static_cast<long>(differs.first - a.begin());
}

// The commands of the write itself: everything up to its bus release, before the rescan.
std::vector<traffic::SentCommand> WritePhase(const std::vector<traffic::SentCommand>& commands) {
    std::vector<traffic::SentCommand> phase;
    for (const traffic::SentCommand& command : commands) {
        phase.push_back(command);
        if (command.code == sim::kCmdBus && command.busArgument == 0) break;
    }
    return phase;
}

// Every start from first on, step apart, that leaves room for slots slots on an empty flash.
std::vector<int> Starts(int slots, int first, int step) {
    std::vector<int> starts;
    for (int s = first; s < 32 && s + slots <= 32; s += step) starts.push_back(s);
    return starts;
}

// Bank and offset of count chunks from offset 0 of slot start.
std::vector<std::pair<int, int>> ChunksFrom(int start, int count) {
    std::vector<std::pair<int, int>> chunks;
    for (int i = 0; i < count; ++i) chunks.emplace_back(start + i / 2, (i % 2) * 32768);
    return chunks;
}

// A file of pattern bytes whose byte 4, the VGC flags, is set as given.
std::vector<uint8_t> WithFlags(size_t length, uint8_t flags) {
    std::vector<uint8_t> bytes = AppTest::Pattern(length, 3);
    bytes[4] = flags;
    return bytes;
}

std::vector<std::string> OneOrNone(const char* text) {
    return text != nullptr ? std::vector<std::string>{text} : std::vector<std::string>{};
}

// A file that gives fewer bytes than its length promises, or "" when there is none here.
std::string ShortReadingFile() {
    for (const char* path : {"/sys/kernel/mm/transparent_hugepage/enabled", "/sys/kernel/profiling",
                             "/sys/power/state"}) {
        std::ifstream file(path, std::ios::binary | std::ios::ate);
        const std::streamoff promised = file ? static_cast<std::streamoff>(file.tellg()) : 0;
        std::ifstream again(path, std::ios::binary);
        const std::string read((std::istreambuf_iterator<char>(again)),
                               std::istreambuf_iterator<char>());
        if (promised > 0 && read.size() < static_cast<size_t>(promised)) return path;
    }
    return "";
}

// Open files of this process: an image file left open shows up here.
size_t OpenFileCount() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

// Whether this process holds the file at path open.
bool HeldOpen(const std::string& path) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const std::filesystem::path target = std::filesystem::read_symlink(entry.path(), error);
        if (!error && std::filesystem::equivalent(target, path, error)) return true;
    }
    return false;
}

// From now on every box is answered OK, and held notes for each whether the file was open.
void NoteHeldAtBoxes(const std::string& path, std::vector<bool>& held) {
    standin::SetMessageBoxHandler([&held, path](const standin::MessageBoxRecord&) {
        held.push_back(HeldOpen(path));
        return IDOK;
    });
}

class WriteImageTest : public AppTest {
  protected:
    void SetUp() override {
        AppTest::SetUp();
        PendingImage = PendingImageState{};
    }

    // What the run of an image holds on flash, padded with 0xFF to whole chunks.
    static std::vector<uint8_t> ExpectedRun(int filter, const std::string& path,
                                            const std::vector<uint8_t>& file) {
        std::vector<uint8_t> run;
        if (filter == kBiosFilter) {
            run = file;
            const uint32_t size = RoundedSize(file.size());
            for (int i = 0; i < 4; ++i) run[252 + i] = static_cast<uint8_t>(size >> (24 - 8 * i));
        } else {
            const size_t headerPart = filter == kVgcFilter ? 2048 : 256;
            run = Header(filter == kVgcFilter ? kBios : kElf, path,
                         RoundedSize(file.size() + headerPart));
            if (filter == kVgcFilter) run.insert(run.end(), VgcBlock, VgcBlock + sizeof VgcBlock);
            run.insert(run.end(), file.begin(), file.end());
        }
        run.resize((run.size() + kChunk - 1) / kChunk * kChunk, 0xFF);
        return run;
    }

    // The erased flash with the run of this image at slot start.
    static std::vector<uint8_t> FlashWith(int start, int filter, const std::string& path,
                                          const std::vector<uint8_t>& file) {
        std::vector<uint8_t> flash(kFlash, 0xFF);
        const std::vector<uint8_t> run = ExpectedRun(filter, path, file);
        std::copy(run.begin(), run.end(), flash.begin() + start * kSlot);
        return flash;
    }

    // Write pressed, the open dialog answered with the file and the filter.
    void Choose(const std::string& path, int filter) {
        AnswerOpen(path, filter);
        Click(IDC_WRITE);
    }

    std::vector<std::string> StatusTexts() const {
        return standin::TextHistory(dialog, IDC_STATUS);
    }
    bool Shown(const std::string& text) const {
        const std::vector<std::string> texts = StatusTexts();
        return std::find(texts.begin(), texts.end(), text) != texts.end();
    }

    // Idle: Write, Read and Erase enabled and Abort disabled; any other mode the other way round.
    void ExpectMode(MenuMode mode) const {
        EXPECT_EQ(FlashMenuMode, mode);
        EXPECT_EQ(standin::Enabled(dialog, IDC_WRITE), mode == MenuMode::Idle);
        EXPECT_EQ(standin::Enabled(dialog, IDC_ABORT), mode != MenuMode::Idle);
    }
};

// ---------------------------------------------------------------- the file choice

// The kind follows the filter; the dialog opens on the first filter every time but keeps the
// last chosen path.
TEST_F(WriteImageTest, OpenDialogIsOwnedFilteredAndShowsTheLastPath) {
    const std::string path = TempPath("first.elf");
    WriteFileBytes(path, Pattern(65281, 1));
    HWND window = nullptr;
    RunConnected([&](HWND running) {
        window = running;
        Choose(path, kElfFilter);
        EXPECT_EQ(PendingImage.kind, ImageKind::Elf);
        EXPECT_EQ(PendingImage.slotCount, 2);
        Click(IDC_ABORT);
        Choose(path, kDolFilter);
        EXPECT_EQ(PendingImage.kind, ImageKind::Dol);
    });
    const std::vector<standin::FileDialogRecord> dialogs = FileDialogs();
    ASSERT_EQ(dialogs.size(), 2u);
    const std::vector<std::string> filter = {"BIOS Files (*.gcb)",
                                             "*.gcb",
                                             "DOL Files (*.dol)",
                                             "*.dol",
                                             "ELF Files (*.elf)",
                                             "*.elf",
                                             "VGC Files (w/o special encryption) (*.VGC)",
                                             "*.vgc"};
    traffic::ExpectPlainFileDialog(dialogs[0], false, window, filter, "");
    traffic::ExpectPlainFileDialog(dialogs[1], false, window, filter, path);
    for (const standin::FileDialogRecord& record : dialogs) EXPECT_EQ(record.filterIndex, 1u);
}

// A choice either offers exactly the feasible starts and waits in the Write mode, or is refused
// and returns to Idle; the board hears nothing either way. Only the VGC filter looks at the
// encryption bit, and only at bit 0x02 of byte 4.
TEST_F(WriteImageTest, ChoiceOffersEveryFeasibleStartOrReturnsToIdle) {
    struct Case {
        const char* name;
        int filter;  // 0: the dialog cancelled
        std::vector<uint8_t> file;
        const char* box;  // the refusal; none when the starts are offered
        std::vector<int> starts;
    };
    const auto expect = [this](const Case& c, const std::string& path) {
        SCOPED_TRACE(c.name);
        standin::ClearMessageBoxes();
        const bool placed = c.filter != 0 && c.box == nullptr;
        RunConnected([&](HWND) {
            const size_t mark = board.Log().size();
            c.filter == 0 ? CancelFileDialog() : AnswerOpen(path, c.filter);
            Click(IDC_WRITE);
            EXPECT_TRUE(traffic::Commands(board, mark).empty());
            const std::vector<std::string> texts = StatusTexts();
            ASSERT_GE(texts.size(), 2u);
            EXPECT_EQ(texts[texts.size() - (placed ? 2 : 1)], "select file to write!");
            ExpectMode(placed ? MenuMode::Write : MenuMode::Idle);
            if (placed) {
                EXPECT_EQ(texts.back(), "select place to write!");
                EXPECT_EQ(EnabledSlots(), c.starts);
                EXPECT_TRUE(CheckedSlots().empty());
            }
        });
        traffic::ExpectErrorBoxes(OneOrNone(c.box));
    };
    const std::vector<Case> onEmptyFlash = {
        {"cancelled", 0, Pattern(100, 2), nullptr, {}},
        {"encrypted vgc", kVgcFilter, WithFlags(5000, 0x02), kEncrypted, {}},
        {"vgc, all flags", kVgcFilter, WithFlags(5, 0xFF), kEncrypted, {}},
        {"vgc, all flags but 0x02", kVgcFilter, WithFlags(5, 0xFD), nullptr, Starts(1, 0, 2)},
        {"vgc shorter than its flags", kVgcFilter, {2, 2, 2}, nullptr, Starts(1, 0, 2)},
        {"dol with 0x02", kDolFilter, WithFlags(5, 0x02), nullptr, Starts(1, 0, 1)},
        {"gcb with 0x02", kBiosFilter, WithFlags(5, 0x02), nullptr, Starts(1, 0, 2)},
        {"two-slot dol", kDolFilter, Pattern(65281, 2), nullptr, Starts(2, 0, 1)},
        {"gcb of 0 bytes needs 0 slots", kBiosFilter, {}, nullptr, Starts(0, 0, 2)},
        {"one byte too many", kDolFilter, Pattern(2096897, 2), kNoRoom, {}},
    };
    for (const Case& c : onEmptyFlash) {
        WriteFileBytes(TempPath(c.name), c.file);
        expect(c, TempPath(c.name));
    }
    expect({"missing", kDolFilter, {}, "Couldn't open file!", {}}, TempPath("missing"));
    // Sparse: a length cut to 32 bits would leave 100 bytes, which would fit.
    WriteFileBytes(TempPath("huge"), Pattern(100, 2));
    std::filesystem::resize_file(TempPath("huge"), (uint64_t{1} << 32) + 100);
    expect({"4 GB and more", kElfFilter, {}, kNoRoom, {}}, TempPath("huge"));

    // Only the odd slots free: no room for an image that needs an even start or two slots.
    for (int s = 0; s < 32; s += 2) Lay(s * kSlot, Header(kElf, "even", kSlot));
    const std::vector<Case> onOddSlots = {
        {"odd slots, dol", kDolFilter, Pattern(1000, 2), nullptr, Starts(1, 1, 2)},
        {"odd slots, vgc", kVgcFilter, WithFlags(1000, 0), kNoRoom, {}},
        {"odd slots, gcb", kBiosFilter, Pattern(1000, 2), kNoRoom, {}},
        {"odd slots, two-slot dol", kDolFilter, Pattern(65281, 2), kNoRoom, {}},
    };
    for (const Case& c : onOddSlots) {
        WriteFileBytes(TempPath(c.name), c.file);
        expect(c, TempPath(c.name));
    }
}

// ---------------------------------------------------------------- the write

struct WriteCase {
    const char* name;
    int filter;
    const char* fileName;
    size_t length;
    int start;
    int slots;
    std::vector<std::pair<int, int>> chunks;  // bank, offset
    const char* caption;                      // of the start slot after the rescan
};

void PrintTo(const WriteCase& c, std::ostream* out) { *out << c.name; }

class WriteBoundaryTest : public WriteImageTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WriteBoundaryTest, WritesTheRunByteForByte) {
    const WriteCase& c = GetParam();
    const std::string path = TempPath(c.fileName);
    std::vector<uint8_t> file = Pattern(c.length, 7);
    if (c.filter == kVgcFilter && file.size() > 4) file[4] &= static_cast<uint8_t>(~0x02);
    if (c.filter == kBiosFilter) {
        // A backup's own header: magic, reserved word and a stale size field.
        const std::vector<uint8_t> head = Header(kBios, "saved bios", 0x00FF0000);
        std::copy(head.begin(), head.end(), file.begin());
        file[248] = 0xDE;
        file[251] = 0xAD;
    }
    WriteFileBytes(path, file);
    const bool nothingToSend = c.chunks.empty();  // a .gcb of just its header

    RunConnected([&](HWND) {
        Choose(path, c.filter);
        EXPECT_EQ(PendingImage.slotCount, c.slots);
        const bool even = c.filter == kBiosFilter || c.filter == kVgcFilter;
        EXPECT_EQ(EnabledSlots(), Starts(c.slots, 0, even ? 2 : 1));
        const size_t mark = board.Log().size();
        ASSERT_TRUE(ClickSlot(c.start));

        const std::vector<traffic::SentCommand> write = WritePhase(traffic::Commands(board, mark));
        EXPECT_EQ(traffic::Addresses(write, sim::kCmdWrite), c.chunks);
        for (uint16_t length : traffic::Lengths(write, sim::kCmdWrite)) EXPECT_EQ(length, kChunk);
        EXPECT_EQ(traffic::BusSequence(write), (std::vector<int>{1, 0}));
        EXPECT_GT(traffic::Count(traffic::Commands(board, mark), sim::kCmdRead), 0);  // rescan

        EXPECT_EQ(StatusTexts().back(), "KELM OK!");
        EXPECT_TRUE(Shown("Done!"));
        char first[64];
        std::snprintf(first, sizeof first, "Please wait, writing flash: %d kbytes remaining",
                      c.slots * 64);
        EXPECT_EQ(Shown(first), !nothingToSend) << first;
        EXPECT_EQ(SlotCaption(c.start), c.caption);
        for (int k = 1; k < c.slots; ++k) EXPECT_EQ(SlotCaption(c.start + k), "...");
        ExpectMode(MenuMode::Idle);
        EXPECT_TRUE(CheckedSlots().empty());
    });
    const std::vector<uint8_t> expected = nothingToSend ? std::vector<uint8_t>(kFlash, 0xFF)
                                                        : FlashWith(c.start, c.filter, path, file);
    EXPECT_EQ(FirstDifference(board.Flash(), expected), -1);
    traffic::ExpectErrorBoxes({});
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, WriteBoundaryTest,
    ::testing::Values(
        WriteCase{"Dol100", kDolFilter, "app.dol", 100, 3, 1, ChunksFrom(3, 1), "Appl."},
        WriteCase{"Dol65280", kDolFilter, "app.dol", 65280, 5, 1, ChunksFrom(5, 2), "Appl."},
        WriteCase{"Dol65281", kDolFilter, "app.dol", 65281, 7, 2, ChunksFrom(7, 3), "Appl."},
        // The filter decides the kind: a .dol name under the ELF filter is an ELF image.
        WriteCase{"ElfNamedDol", kElfFilter, "named.dol", 1000, 1, 1, ChunksFrom(1, 1), "Appl."},
        WriteCase{"Vgc30720", kVgcFilter, "game.vgc", 30720, 2, 1, ChunksFrom(2, 1), "BIOS"},
        WriteCase{"Vgc63488", kVgcFilter, "game.vgc", 63488, 4, 1, ChunksFrom(4, 2), "BIOS"},
        WriteCase{"Vgc63489", kVgcFilter, "game.vgc", 63489, 4, 2, ChunksFrom(4, 3), "BIOS"},
        WriteCase{"Gcb131072", kBiosFilter, "saved.gcb", 131072, 6, 2, ChunksFrom(6, 4), "BIOS"},
        WriteCase{"Gcb257", kBiosFilter, "saved.gcb", 257, 8, 1, ChunksFrom(8, 1), "BIOS"},
        WriteCase{"GcbOfJustAHeader", kBiosFilter, "head.gcb", 256, 10, 1, {}, "free"},
        WriteCase{"EmptyDol", kDolFilter, "empty.dol", 0, 9, 1, ChunksFrom(9, 1), "Appl."},
        WriteCase{"EmptyElf", kElfFilter, "empty.elf", 0, 11, 1, ChunksFrom(11, 1), "Appl."},
        WriteCase{"EmptyVgc", kVgcFilter, "empty.vgc", 0, 12, 1, ChunksFrom(12, 1), "BIOS"},
        WriteCase{"DolFillingTheFlash", kDolFilter, "huge.dol", 2096896, 0, 32, ChunksFrom(0, 64),
                  "Appl."}),
    [](const ::testing::TestParamInfo<WriteCase>& info) { return info.param.name; });

// The whole exchange of a write that crosses into a second bank, and the short rescan after it.
TEST_F(WriteImageTest, TranscriptOfAWrite) {
    Lay(0, Header(kBios, "bios", 30 * kSlot));
    const std::string path = TempPath("two.dol");
    WriteFileBytes(path, Pattern(65281, 17));
    RunConnected([&](HWND) {
        Choose(path, kDolFilter);
        EXPECT_EQ(EnabledSlots(), std::vector<int>{30});
        board.ClearLog();
        ASSERT_TRUE(ClickSlot(30));
        traffic::ExpectGoldenTranscript(board.Transcript(), "write_dol_at_slot_30.txt");
    });
}

// ---------------------------------------------------------------- failures at the click

// Refused at the click: nothing sent or written, the file closed again after the box, and the
// Write mode kept with its starts and the PendingImage, so that the user may click again or abort.
TEST_F(WriteImageTest, RefusalAtTheClickKeepsWriteMode) {
    Lay(4 * kSlot, Header(kElf, "keep me", kSlot));
    enum class Change { None, Removed, Grown };  // the file, between the choice and the click
    struct Case {
        const char* name;
        int filter;
        size_t length;
        Change change;
        int slot;
        const char* box;
    };
    const char kTooSmall[] = "file is too small!";
    const std::vector<Case> cases = {
        {"file gone", kElfFilter, 5000, Change::Removed, 5, "Failed to open file!"},
        {"gcb of 0 bytes", kBiosFilter, 0, Change::None, 2, kTooSmall},
        {"gcb of 100 bytes", kBiosFilter, 100, Change::None, 2, kTooSmall},
        {"gcb of 255 bytes", kBiosFilter, 255, Change::None, 2, kTooSmall},
        {"grown past its run", kDolFilter, 65280, Change::Grown, 31,
         "The file has grown since it was chosen.\nPlease choose it again!"},
        // A disabled start sent as a command must not write over an image.
        {"occupied start", kElfFilter, 100, Change::None, 4, nullptr},
    };
    const std::vector<uint8_t> before = board.Flash();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        standin::ClearMessageBoxes();
        const std::string path = TempPath(c.name);
        WriteFileBytes(path, Pattern(c.length, 8));
        RunConnected([&](HWND) {
            Choose(path, c.filter);
            const std::vector<int> starts = EnabledSlots();
            const int slotCount = PendingImage.slotCount;
            if (c.change == Change::Removed) std::filesystem::remove(path);
            if (c.change == Change::Grown) WriteFileBytes(path, Pattern(c.length + 1, 8));
            const size_t files = OpenFileCount();
            const size_t mark = board.Log().size();
            std::vector<bool> held;
            NoteHeldAtBoxes(path, held);
            if (SlotEnabled(c.slot)) {
                ASSERT_TRUE(ClickSlot(c.slot));
            } else {
                Command(SlotButtonIds[c.slot]);
            }
            standin::SetMessageBoxHandler(nullptr);
            EXPECT_EQ(held,
                      std::vector<bool>(c.box != nullptr ? 1 : 0, c.change != Change::Removed));
            EXPECT_FALSE(HeldOpen(path));
            EXPECT_EQ(OpenFileCount(), files);
            EXPECT_TRUE(traffic::Commands(board, mark).empty());
            ExpectMode(MenuMode::Write);
            EXPECT_EQ(EnabledSlots(), starts);
            EXPECT_EQ(std::string(PendingImage.path), path);
            EXPECT_EQ(PendingImage.slotCount, slotCount);
        });
        traffic::ExpectErrorBoxes(OneOrNone(c.box));
        EXPECT_EQ(FirstDifference(board.Flash(), before), -1);
    }
}

// A chunk that fails keeps the bus, skips the rescan and stays in the Write mode, so that the
// map still shows the state before; a second click then writes the image. Both boxes come while
// the file is still open.
TEST_F(WriteImageTest, FailedChunkKeepsWriteModeAndTheBusAndARetryWrites) {
    const std::string path = TempPath("retry.dol");
    const std::vector<uint8_t> file = Pattern(65281, 10);
    WriteFileBytes(path, file);
    RunConnected([&](HWND) {
        Choose(path, kDolFilter);
        const std::vector<int> starts = EnabledSlots();
        const size_t mark = board.Log().size();
        // Bus request (3 exchanges), first chunk (1 + 521), then the second chunk's command.
        const uint64_t secondChunk = board.ExchangeCount() + 3 + 522;
        board.InjectFault(secondChunk + 100, sim::Fault::FailWrite);
        const size_t files = OpenFileCount();
        std::vector<bool> held;
        NoteHeldAtBoxes(path, held);
        ASSERT_TRUE(ClickSlot(3));
        standin::SetMessageBoxHandler(nullptr);
        EXPECT_EQ(held, (std::vector<bool>{true, true}));
        EXPECT_FALSE(HeldOpen(path));
        EXPECT_EQ(OpenFileCount(), files);
        traffic::ExpectErrorBoxes({"Error writing data.", "Flash failed!"});
        ExpectMode(MenuMode::Write);
        EXPECT_EQ(EnabledSlots(), starts);
        EXPECT_EQ(CheckedSlots(), (std::vector<int>{3, 4}));
        const std::vector<traffic::SentCommand> sent = traffic::Commands(board, mark);
        EXPECT_EQ(traffic::BusSequence(sent), std::vector<int>{1});  // not released
        EXPECT_EQ(traffic::Count(sent, sim::kCmdRead), 0);           // no rescan
        EXPECT_EQ(traffic::Addresses(sent, sim::kCmdWrite), ChunksFrom(3, 2));
        EXPECT_EQ(SlotCaption(3), "free");

        board.ClearFaults();
        standin::ClearMessageBoxes();
        ASSERT_TRUE(ClickSlot(3));
        ExpectMode(MenuMode::Idle);
        EXPECT_EQ(SlotCaption(3), "Appl.");
    });
    traffic::ExpectErrorBoxes({});
    EXPECT_EQ(FirstDifference(board.Flash(), FlashWith(3, kDolFilter, path, file)), -1);
}

// ---------------------------------------------------------------- the rest of the clicks

// Whatever else the click runs into, the file is closed, the rescan shows what the flash now
// holds and the menu ends in Idle; "Done!" only after a write that went out. A file that shrank
// since the choice is written at its new length.
TEST_F(WriteImageTest, ClickEndsWithARescanAndIdle) {
    enum class Trouble { Shrunk, BusBusy, ReleaseFails, ReadsShort };
    struct Case {
        const char* name;
        Trouble trouble;
        const char* box;
        int chunks;
        std::vector<int> bus;  // up to the rescan's first read, which takes the bus too
    };
    const std::vector<Case> cases = {
        {"shrunk to one chunk", Trouble::Shrunk, nullptr, 1, {1, 0, 1}},
        {"bus busy", Trouble::BusBusy, "Bus busy. Please try again later", 0, {1, 1}},
        {"release fails", Trouble::ReleaseFails, "Error sending ReleaseBus command.", 1, {1, 0, 1}},
        // A sysfs attribute claims a page but holds a line: nothing of the chunk goes out.
        {"file reads short", Trouble::ReadsShort, "Failed to read file!", 0, {1, 0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        standin::ClearMessageBoxes();
        board.FillFlash(0xFF);
        std::string path = TempPath(c.name);
        const std::vector<uint8_t> file = Pattern(100, 15);
        WriteFileBytes(path, c.trouble == Trouble::Shrunk ? Pattern(65281, 14) : file);
        if (c.trouble == Trouble::ReadsShort) {
            path = ShortReadingFile();
            if (path.empty()) GTEST_SKIP() << "no file here reads shorter than its length";
        }
        RunConnected([&](HWND) {
            Choose(path, kDolFilter);
            const size_t mark = board.Log().size();
            const uint64_t exchanges = board.ExchangeCount();
            if (c.trouble == Trouble::Shrunk) WriteFileBytes(path, file);
            if (c.trouble == Trouble::BusBusy) board.ScriptBusStates({sim::kBusHeldByOther});
            // Bus request (3 exchanges), one chunk (1 + 521), then the release command.
            if (c.trouble == Trouble::ReleaseFails) {
                board.InjectFault(exchanges + 3 + 522, sim::Fault::FailWrite);
            }
            const size_t files = OpenFileCount();
            ASSERT_TRUE(ClickSlot(1));
            EXPECT_EQ(OpenFileCount(), files);
            const std::vector<traffic::SentCommand> sent = traffic::Commands(board, mark);
            std::vector<traffic::SentCommand> beforeScan;
            for (size_t i = 0; i < sent.size() && sent[i].code != sim::kCmdRead; ++i) {
                beforeScan.push_back(sent[i]);
            }
            EXPECT_EQ(traffic::Addresses(sent, sim::kCmdWrite), ChunksFrom(1, c.chunks));
            EXPECT_EQ(traffic::BusSequence(beforeScan), c.bus);
            EXPECT_GT(traffic::Count(sent, sim::kCmdRead), 0);
            EXPECT_EQ(Status(), "KELM OK!");
            EXPECT_EQ(Shown("Done!"), c.chunks != 0);
            EXPECT_EQ(SlotCaption(1), c.chunks != 0 ? "Appl." : "free");
            ExpectMode(MenuMode::Idle);
        });
        traffic::ExpectErrorBoxes(OneOrNone(c.box));
        const std::vector<uint8_t> expected = c.chunks != 0 ? FlashWith(1, kDolFilter, path, file)
                                                            : std::vector<uint8_t>(kFlash, 0xFF);
        EXPECT_EQ(FirstDifference(board.Flash(), expected), -1);
    }
}

}  // namespace
