// Writing an image through the window: file choice, placement, the chunks on the board and the
// failure paths, checked on the simulated flash byte for byte.
#include "operations/write_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
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
constexpr char kBusBusy[] = "Bus busy. Please try again later";

const char kElf[4] = {'E', 'L', 'F', '\0'};
const char kBios[4] = {'(', 'C', ')', ' '};

// The size field every generated header carries: L rounded up to 64 KB.
uint32_t RoundedSize(size_t imageLength) {
    return static_cast<uint32_t>((imageLength + kSlot - 1) / kSlot * kSlot);
}

// Index of the first differing byte, or -1: a 2 MB comparison must not print 2 MB.
long FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size()) return static_cast<long>(std::min(a.size(), b.size()));
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) return static_cast<long>(i);
    }
    return -1;
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

std::vector<int> FeasibleOnEmptyFlash(int slots, bool even) {
    std::vector<int> starts;
    for (int s = 0; s + slots <= 32; ++s) {
        if (!even || s % 2 == 0) starts.push_back(s);
    }
    return starts;
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
            run[252] = static_cast<uint8_t>(size >> 24);
            run[253] = static_cast<uint8_t>(size >> 16);
            run[254] = static_cast<uint8_t>(size >> 8);
            run[255] = static_cast<uint8_t>(size);
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

    // Write pressed, the open dialog answered with the file and the filter.
    void Choose(const std::string& path, int filter) {
        AnswerOpen(path, filter);
        Click(IDC_WRITE);
    }

    std::vector<std::string> StatusTexts() const {
        return standin::TextHistory(dialog, IDC_STATUS);
    }

    // Write, Read and Erase enabled and Abort disabled, or the other way round.
    void ExpectIdle() const {
        EXPECT_EQ(FlashMenuMode, MenuMode::Idle);
        EXPECT_TRUE(standin::Enabled(dialog, IDC_WRITE));
        EXPECT_FALSE(standin::Enabled(dialog, IDC_ABORT));
    }
    void ExpectWriteMode() const {
        EXPECT_EQ(FlashMenuMode, MenuMode::Write);
        EXPECT_FALSE(standin::Enabled(dialog, IDC_WRITE));
        EXPECT_TRUE(standin::Enabled(dialog, IDC_ABORT));
    }
};

// ---------------------------------------------------------------- the file choice

TEST_F(WriteImageTest, OpenDialogIsOwnedFilteredAndShowsTheLastPath) {
    const std::string path = TempPath("first.elf");
    WriteFileBytes(path, Pattern(100, 1));
    HWND window = nullptr;
    RunConnected([&](HWND running) {
        window = running;
        Choose(path, kElfFilter);
        Click(IDC_ABORT);
        Choose(path, kElfFilter);
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
    for (const standin::FileDialogRecord& record : dialogs) {
        EXPECT_FALSE(record.save);
        EXPECT_EQ(record.owner, window);
        EXPECT_EQ(record.filter, filter);
        EXPECT_EQ(record.filterIndex, 1u);  // the last choice is not remembered
        EXPECT_EQ(record.maxFile, 260u);
        EXPECT_EQ(record.flags, 0u);
        EXPECT_FALSE(record.hasTitle);
        EXPECT_FALSE(record.hasInitialDir);
        EXPECT_FALSE(record.hasDefExt);
        EXPECT_EQ(record.structSize, sizeof(OPENFILENAMEA));
    }
    EXPECT_EQ(dialogs[0].initialName, "");
    EXPECT_EQ(dialogs[1].initialName, path);
}

TEST_F(WriteImageTest, ChoiceSetsPromptsAndOffersStarts) {
    const std::string path = TempPath("app.dol");
    WriteFileBytes(path, Pattern(65281, 2));
    RunConnected([&](HWND) {
        Choose(path, kDolFilter);
        const std::vector<std::string> texts = StatusTexts();
        ASSERT_GE(texts.size(), 2u);
        EXPECT_EQ(texts[texts.size() - 2], "select file to write!");
        EXPECT_EQ(texts.back(), "select place to write!");
        ExpectWriteMode();
        EXPECT_EQ(PendingImage.kind, ImageKind::Dol);
        EXPECT_EQ(PendingImage.slotCount, 2);
        EXPECT_EQ(PendingImage.alignMask, 0);
        EXPECT_EQ(EnabledSlots(), FeasibleOnEmptyFlash(2, false));
        EXPECT_TRUE(CheckedSlots().empty());
    });
    EXPECT_TRUE(Boxes().empty());
}

// Failures of the choice end in Idle with nothing sent to the board.
TEST_F(WriteImageTest, FailedChoicesReturnToIdleWithoutTraffic) {
    struct Case {
        const char* name;
        int filter;
        size_t length;  // 0 with missing: no file at all
        bool missing;
        bool cancel;
        uint8_t vgcFlags;
        std::vector<std::string> boxes;
    };
    const std::vector<Case> cases = {
        {"cancelled", kDolFilter, 100, false, true, 0, {}},
        {"missing", kDolFilter, 0, true, false, 0, {"Couldn't open file!"}},
        {"encrypted", kVgcFilter, 5000, false, false, 0x02, {kEncrypted}},
        {"encrypted, all bits", kVgcFilter, 5000, false, false, 0xFF, {kEncrypted}},
        {"one byte too many", kDolFilter, 2096897, false, false, 0, {kNoRoom}},
        {"4 GB and more", kElfFilter, 0, false, false, 0, {kNoRoom}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        standin::ClearMessageBoxes();
        const std::string path = TempPath(std::string("choice") + std::to_string(&c - &cases[0]));
        if (!c.missing) {
            std::vector<uint8_t> bytes = Pattern(c.length, 3);
            if (c.length > 4) bytes[4] = c.vgcFlags;
            WriteFileBytes(path, bytes);
        }
        if (std::string(c.name) == "4 GB and more") {
            // Sparse: a length cut to 32 bits would leave 100 bytes, which would fit.
            std::filesystem::resize_file(path, (uint64_t{1} << 32) + 100);
        }
        RunConnected([&](HWND) {
            const size_t mark = board.Log().size();
            if (c.cancel) {
                CancelFileDialog();
                Click(IDC_WRITE);
            } else {
                Choose(path, c.filter);
            }
            ExpectIdle();
            EXPECT_TRUE(traffic::Commands(board, mark).empty());
            EXPECT_EQ(standin::TextHistory(dialog, IDC_STATUS).back(), "select file to write!");
        });
        traffic::ExpectErrorBoxes(c.boxes);
    }
}

// Only the VGC filter looks at the encryption bit, and only at bit 0x02 of byte 4.
TEST_F(WriteImageTest, EncryptionBitIsCheckedOnlyForVgc) {
    struct Case {
        int filter;
        std::vector<uint8_t> head;  // the file's first bytes
        bool refused;
    };
    const std::vector<Case> cases = {
        {kVgcFilter, {0, 0, 0, 0, 0x03}, true},  {kVgcFilter, {0, 0, 0, 0, 0x01}, false},
        {kVgcFilter, {0, 0, 0, 0, 0xFD}, false}, {kVgcFilter, {0x02, 0x02, 0x02}, false},
        {kDolFilter, {0, 0, 0, 0, 0x02}, false}, {kBiosFilter, {0, 0, 0, 0, 0x02}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "filter " << c.filter << " case " << (&c - &cases[0]));
        standin::ClearMessageBoxes();
        const std::string path = TempPath("image.vgc");
        WriteFileBytes(path, c.head);
        RunConnected([&](HWND) {
            Choose(path, c.filter);
            EXPECT_EQ(FlashMenuMode, c.refused ? MenuMode::Idle : MenuMode::Write);
        });
        if (c.refused) {
            traffic::ExpectErrorBoxes({kEncrypted});
        } else {
            traffic::ExpectErrorBoxes({});
        }
    }
}

// Every start that CanPlace passes is offered, not only the first; Used and Corrupted block.
TEST_F(WriteImageTest, EveryFeasibleStartIsOffered) {
    Lay(0 * kSlot, Header(kBios, "bios", 4 * kSlot));
    Lay(8 * kSlot, Header(kElf, "app", kSlot));
    Lay(12 * kSlot, Header("XYZW", "junk", kSlot));
    struct Case {
        int filter;
        size_t length;
        std::vector<int> starts;
    };
    std::vector<int> threeSlotGcb = {4};
    for (int s = 14; s <= 28; s += 2) threeSlotGcb.push_back(s);
    std::vector<int> twoSlotDol = {4, 5, 6, 9, 10};
    for (int s = 13; s <= 30; ++s) twoSlotDol.push_back(s);
    std::vector<int> emptyGcb = {4, 6, 10};
    for (int s = 14; s <= 30; s += 2) emptyGcb.push_back(s);
    const std::vector<Case> cases = {
        {kBiosFilter, 3 * kSlot, threeSlotGcb},
        {kDolFilter, 65281, twoSlotDol},
        {kVgcFilter, 2 * kSlot - 2048, emptyGcb},  // two slots, even: same starts as count 0
        {kBiosFilter, 0, emptyGcb},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "filter " << c.filter << ", " << c.length << " bytes");
        const std::string path = TempPath("image");
        std::vector<uint8_t> file = Pattern(c.length, 4);
        if (file.size() > 4) file[4] &= static_cast<uint8_t>(~0x02);  // not encrypted
        WriteFileBytes(path, file);
        RunConnected([&](HWND) {
            Choose(path, c.filter);
            EXPECT_EQ(EnabledSlots(), c.starts);
        });
    }
}

// Only the odd slots free, each alone between images: room for one-slot DOL and ELF images only.
TEST_F(WriteImageTest, NoRoomWithoutAFeasibleStart) {
    for (int s = 0; s < 32; s += 2) Lay(s * kSlot, Header(kElf, "odd", kSlot));
    struct Case {
        int filter;
        size_t length;
        bool room;
    };
    for (const Case& c : {Case{kVgcFilter, 1000, false}, Case{kBiosFilter, 1000, false},
                          Case{kDolFilter, 1000, true}, Case{kElfFilter, 1000, true},
                          Case{kDolFilter, 65281, false}}) {
        SCOPED_TRACE(testing::Message() << "filter " << c.filter << ", " << c.length << " bytes");
        standin::ClearMessageBoxes();
        const std::string path = TempPath("small");
        WriteFileBytes(path, Pattern(c.length, 5));
        RunConnected([&](HWND) {
            Choose(path, c.filter);
            if (c.room) {
                std::vector<int> odd;
                for (int s = 1; s < 32; s += 2) odd.push_back(s);
                EXPECT_EQ(EnabledSlots(), odd);
            }
        });
        if (c.room) {
            traffic::ExpectErrorBoxes({});
        } else {
            traffic::ExpectErrorBoxes({kNoRoom});
        }
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

    std::vector<uint8_t> expected(kFlash, 0xFF);
    if (c.filter != kBiosFilter || c.length != 256) {
        const std::vector<uint8_t> run = ExpectedRun(c.filter, path, file);
        std::copy(run.begin(), run.end(), expected.begin() + c.start * kSlot);
    }

    RunConnected([&](HWND) {
        Choose(path, c.filter);
        EXPECT_EQ(PendingImage.slotCount, c.slots);
        EXPECT_EQ(EnabledSlots(),
                  FeasibleOnEmptyFlash(c.slots, c.filter == kBiosFilter || c.filter == kVgcFilter));
        const size_t mark = board.Log().size();
        ASSERT_TRUE(ClickSlot(c.start));

        const std::vector<traffic::SentCommand> write = WritePhase(traffic::Commands(board, mark));
        EXPECT_EQ(traffic::Addresses(write, sim::kCmdWrite), c.chunks);
        for (uint16_t length : traffic::Lengths(write, sim::kCmdWrite)) EXPECT_EQ(length, kChunk);
        EXPECT_EQ(traffic::BusSequence(write), (std::vector<int>{1, 0}));
        EXPECT_GT(traffic::Count(traffic::Commands(board, mark), sim::kCmdRead), 0);  // rescan

        const std::vector<std::string> texts = StatusTexts();
        EXPECT_EQ(texts.back(), "KELM OK!");
        EXPECT_NE(std::find(texts.begin(), texts.end(), "Done!"), texts.end());
        if (!c.chunks.empty()) {
            char first[64];
            std::snprintf(first, sizeof first, "Please wait, writing flash: %d kbytes remaining",
                          c.slots * 64);
            EXPECT_NE(std::find(texts.begin(), texts.end(), first), texts.end()) << first;
        }
        EXPECT_EQ(SlotCaption(c.start), c.caption);
        for (int k = 1; k < c.slots; ++k) EXPECT_EQ(SlotCaption(c.start + k), "...");
        ExpectIdle();
        EXPECT_TRUE(CheckedSlots().empty());
    });
    EXPECT_EQ(FirstDifference(board.Flash(), expected), -1);
    traffic::ExpectErrorBoxes({});
}

std::vector<std::pair<int, int>> ChunksFrom(int start, int count) {
    std::vector<std::pair<int, int>> chunks;
    for (int i = 0; i < count; ++i) chunks.emplace_back(start + i / 2, (i % 2) * 32768);
    return chunks;
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

// Failures at the click keep the Write mode, its starts and the PendingImage; a second click
// then writes the image.
TEST_F(WriteImageTest, FileGoneAtTheClickKeepsWriteMode) {
    const std::string path = TempPath("gone.elf");
    const std::vector<uint8_t> file = Pattern(5000, 8);
    WriteFileBytes(path, file);
    RunConnected([&](HWND) {
        Choose(path, kElfFilter);
        const std::vector<int> starts = EnabledSlots();
        std::filesystem::remove(path);
        const size_t mark = board.Log().size();
        ASSERT_TRUE(ClickSlot(4));
        traffic::ExpectErrorBoxes({"Failed to open file!"});
        ExpectWriteMode();
        EXPECT_EQ(EnabledSlots(), starts);
        EXPECT_EQ(CheckedSlots(), std::vector<int>{4});
        EXPECT_EQ(std::string(PendingImage.path), path);
        EXPECT_EQ(PendingImage.slotCount, 1);
        EXPECT_TRUE(traffic::Commands(board, mark).empty());

        WriteFileBytes(path, file);
        ASSERT_TRUE(ClickSlot(5));
        ExpectIdle();
        EXPECT_EQ(SlotCaption(5), "Appl.");
    });
    const std::vector<uint8_t> run = ExpectedRun(kElfFilter, path, file);
    const std::vector<uint8_t> flash = board.Flash();
    EXPECT_TRUE(std::equal(run.begin(), run.end(), flash.begin() + 5 * kSlot));
    EXPECT_EQ(board.FlashByte(4 * kSlot), 0xFF);
}

TEST_F(WriteImageTest, GcbShorterThanItsHeaderIsTooSmall) {
    for (size_t length : {size_t{0}, size_t{100}, size_t{255}}) {
        SCOPED_TRACE(length);
        standin::ClearMessageBoxes();
        const std::string path = TempPath("short.gcb");
        WriteFileBytes(path, Pattern(length, 9));
        RunConnected([&](HWND) {
            Choose(path, kBiosFilter);
            const std::vector<int> starts = EnabledSlots();
            const size_t before = OpenFileCount();
            const size_t mark = board.Log().size();
            ASSERT_TRUE(ClickSlot(2));
            EXPECT_EQ(OpenFileCount(), before);
            ExpectWriteMode();
            EXPECT_EQ(EnabledSlots(), starts);
            EXPECT_TRUE(traffic::Commands(board, mark).empty());
        });
        traffic::ExpectErrorBoxes({"file is too small!"});
    }
}

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
        const size_t before = OpenFileCount();
        ASSERT_TRUE(ClickSlot(3));
        EXPECT_EQ(OpenFileCount(), before);
        traffic::ExpectErrorBoxes({"Error writing data.", "Flash failed!"});
        ExpectWriteMode();
        EXPECT_EQ(EnabledSlots(), starts);
        EXPECT_EQ(CheckedSlots(), (std::vector<int>{3, 4}));
        const std::vector<traffic::SentCommand> sent = traffic::Commands(board, mark);
        EXPECT_EQ(traffic::BusSequence(sent), std::vector<int>{1});  // not released
        EXPECT_EQ(traffic::Count(sent, sim::kCmdRead), 0);           // no rescan
        EXPECT_EQ(traffic::Addresses(sent, sim::kCmdWrite), ChunksFrom(3, 2));
        EXPECT_EQ(SlotCaption(3), "free");  // the map still shows the state before

        board.ClearFaults();
        standin::ClearMessageBoxes();
        ASSERT_TRUE(ClickSlot(3));
        ExpectIdle();
        EXPECT_EQ(SlotCaption(3), "Appl.");
    });
    traffic::ExpectErrorBoxes({});
    const std::vector<uint8_t> run = ExpectedRun(kDolFilter, path, file);
    const std::vector<uint8_t> flash = board.Flash();
    EXPECT_TRUE(std::equal(run.begin(), run.end(), flash.begin() + 3 * kSlot));
}

TEST_F(WriteImageTest, GrownFileIsRefusedAtTheClick) {
    const std::string path = TempPath("grows.dol");
    WriteFileBytes(path, Pattern(65280, 11));
    RunConnected([&](HWND) {
        Choose(path, kDolFilter);
        EXPECT_EQ(PendingImage.slotCount, 1);
        const std::vector<int> starts = EnabledSlots();
        WriteFileBytes(path, Pattern(65281, 11));
        const size_t before = OpenFileCount();
        const size_t mark = board.Log().size();
        ASSERT_TRUE(ClickSlot(31));
        EXPECT_EQ(OpenFileCount(), before);
        ExpectWriteMode();
        EXPECT_EQ(EnabledSlots(), starts);
        EXPECT_TRUE(traffic::Commands(board, mark).empty());
    });
    traffic::ExpectErrorBoxes({"The file has grown since it was chosen.\nPlease choose it again!"});
    EXPECT_EQ(FirstDifference(board.Flash(), std::vector<uint8_t>(kFlash, 0xFF)), -1);
}

// A file that shrank is written at its new length; the size field follows it.
TEST_F(WriteImageTest, ShrunkFileIsWrittenAtItsNewLength) {
    const std::string path = TempPath("shrinks.dol");
    WriteFileBytes(path, Pattern(65281, 12));
    const std::vector<uint8_t> shorter = Pattern(100, 13);
    RunConnected([&](HWND) {
        Choose(path, kDolFilter);
        EXPECT_EQ(PendingImage.slotCount, 2);
        WriteFileBytes(path, shorter);
        const size_t mark = board.Log().size();
        ASSERT_TRUE(ClickSlot(6));
        EXPECT_EQ(traffic::Addresses(WritePhase(traffic::Commands(board, mark)), sim::kCmdWrite),
                  ChunksFrom(6, 1));
        ExpectIdle();
    });
    std::vector<uint8_t> expected(kFlash, 0xFF);
    const std::vector<uint8_t> run = ExpectedRun(kDolFilter, path, shorter);
    std::copy(run.begin(), run.end(), expected.begin() + 6 * kSlot);
    EXPECT_EQ(FirstDifference(board.Flash(), expected), -1);
}

// A disabled start sent as a command must not write over an image.
TEST_F(WriteImageTest, CommandForAnInfeasibleStartWritesNothing) {
    Lay(4 * kSlot, Header(kElf, "keep me", kSlot));
    const std::string path = TempPath("intruder.elf");
    WriteFileBytes(path, Pattern(100, 14));
    const std::vector<uint8_t> before = board.Flash();
    RunConnected([&](HWND) {
        Choose(path, kElfFilter);
        const size_t mark = board.Log().size();
        Command(SlotButtonIds[4]);
        EXPECT_TRUE(traffic::Commands(board, mark).empty());
        ExpectWriteMode();
    });
    EXPECT_EQ(FirstDifference(board.Flash(), before), -1);
}

// ---------------------------------------------------------------- failures of the bus

// A file that gives fewer bytes than its length promised (a sysfs attribute claims a page but
// holds a line): nothing of the chunk goes out, the bus goes back, the rescan shows the truth.
TEST_F(WriteImageTest, ShortReadIsReportedAndTheBusReleased) {
    std::string path;
    for (const char* candidate : {"/sys/kernel/mm/transparent_hugepage/enabled",
                                  "/sys/kernel/profiling", "/sys/power/state"}) {
        std::ifstream file(candidate, std::ios::binary | std::ios::ate);
        const std::streamoff promised = file ? static_cast<std::streamoff>(file.tellg()) : 0;
        if (promised > 0 && ReadFileBytes(candidate).size() < static_cast<size_t>(promised)) {
            path = candidate;
            break;
        }
    }
    if (path.empty()) GTEST_SKIP() << "no file here reads shorter than its length";
    RunConnected([&](HWND) {
        Choose(path, kDolFilter);
        const size_t mark = board.Log().size();
        ASSERT_TRUE(ClickSlot(0));
        const std::vector<traffic::SentCommand> sent = traffic::Commands(board, mark);
        EXPECT_EQ(traffic::Count(sent, sim::kCmdWrite), 0);
        EXPECT_EQ(traffic::BusSequence(WritePhase(sent)), (std::vector<int>{1, 0}));
        EXPECT_GT(traffic::Count(sent, sim::kCmdRead), 0);
        ExpectIdle();
    });
    traffic::ExpectErrorBoxes({"Failed to read file!"});
}

TEST_F(WriteImageTest, BusBusyClosesTheFileRescansAndReturnsToIdle) {
    const std::string path = TempPath("busy.elf");
    WriteFileBytes(path, Pattern(100, 15));
    RunConnected([&](HWND) {
        Choose(path, kElfFilter);
        const size_t mark = board.Log().size();
        board.ScriptBusStates({sim::kBusHeldByOther});
        const size_t before = OpenFileCount();
        ASSERT_TRUE(ClickSlot(0));
        EXPECT_EQ(OpenFileCount(), before);
        const std::vector<traffic::SentCommand> sent = traffic::Commands(board, mark);
        EXPECT_EQ(traffic::Count(sent, sim::kCmdWrite), 0);
        EXPECT_GT(traffic::Count(sent, sim::kCmdRead), 0);  // the rescan ran
        EXPECT_EQ(Status(), "KELM OK!");
        const std::vector<std::string> texts = StatusTexts();
        EXPECT_EQ(std::find(texts.begin(), texts.end(), "Done!"), texts.end());
        ExpectIdle();
    });
    traffic::ExpectErrorBoxes({kBusBusy});
    EXPECT_EQ(FirstDifference(board.Flash(), std::vector<uint8_t>(kFlash, 0xFF)), -1);
}

TEST_F(WriteImageTest, FailedReleaseStillEndsWithDoneAndARescan) {
    const std::string path = TempPath("release.elf");
    WriteFileBytes(path, Pattern(100, 16));
    RunConnected([&](HWND) {
        Choose(path, kElfFilter);
        // Bus request (3 exchanges), one chunk (1 + 521), then the release command.
        board.InjectFault(board.ExchangeCount() + 3 + 522, sim::Fault::FailWrite);
        ASSERT_TRUE(ClickSlot(1));
        const std::vector<std::string> texts = StatusTexts();
        EXPECT_NE(std::find(texts.begin(), texts.end(), "Done!"), texts.end());
        EXPECT_EQ(texts.back(), "KELM OK!");
        EXPECT_EQ(SlotCaption(1), "Appl.");
        ExpectIdle();
    });
    traffic::ExpectErrorBoxes({"Error sending ReleaseBus command."});
}

}  // namespace
