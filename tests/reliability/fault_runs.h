// Whole program runs with a fault at a chosen report: the board every run starts from, the
// operations as the user starts them, what a run leaves behind, and where each report exchange
// of an operation sits. Shared by the unplug matrix and the seeded fault runs.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <stdlib.h>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <ostream>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "catalogue/catalogue_scan.h"
#include "device/hid_access.h"
#include "device/input_monitor.h"
#include "sim/board.h"
#include "support/app_fixture.h"
#include "ui/flash_menu.h"
#include "ui/main_dialog.h"
#include "ui/resource.h"
#include "win32/standin.h"

// Failures name the mode, not its bytes.
inline void PrintTo(MenuMode mode, std::ostream* out) {
    static const char* const kNames[] = {"Idle", "Write", "Read", "Erase"};
    const int index = static_cast<int>(mode);
    *out << (index >= 0 && index < 4 ? kNames[index] : "?");
}

namespace reliability {

constexpr size_t kSlot = 65536;
constexpr size_t kPiece = 32768;  // a chunk, a backup piece, an engineering sector
constexpr size_t kPayload = 63;   // data bytes per report
constexpr int kDolFilter = 2;
constexpr int kWriteStart = 5;  // where the image goes: free slots 5-8
constexpr int kImageSlots = 2;  // a DOL of 65,281 bytes: two slots, three chunks
constexpr size_t kImageFile = 65281;
constexpr int kAppSlot = 2;  // the application backed up and erased: slots 2-3
constexpr int kAppSlots = 2;
constexpr int kClickedSlot = 3;  // its second slot: the operation acts from its owner
constexpr int kMonitorWaitMs = 5000;
constexpr int kCommandCodes = 9;  // command codes 0-8

constexpr char kDisconnected[] = "kelm has been disconnected.";
constexpr char kMonitorOpenFailed[] = "CreateFile failed (Error ";
constexpr char kFlashFailed[] = "Flash failed!";
constexpr char kBusBusy[] = "Bus busy. Please try again later";

enum class Op { Connect, Write, Backup, Erase, Program, Verify, BlankCheck, Upload, EraseBlock0 };

// The engineering panel's commands.
inline bool TakesNoBus(Op op) {
    return op == Op::Program || op == Op::Verify || op == Op::BlankCheck || op == Op::Upload ||
           op == Op::EraseBlock0;
}

inline const char* OpName(Op op) {
    static const char* const kNames[] = {"connect", "write", "backup", "erase",       "program",
                                         "verify",  "blank", "upload", "erase_block0"};
    return kNames[static_cast<int>(op)];
}

// The texts of the device link's failures (the only error boxes a report fault can bring up).
inline const std::set<std::string>& DeviceFailureTexts() {
    static const std::set<std::string> kTexts = {
        "Error sending CMD_STATUS response.",
        "Error reading CMD_GET_STATUS response.",
        "Error sending GetBus command.",
        "Error sending ReleaseBus command.",
        "Error sending CMD_ERASE command.",
        "Error sending CMD_RESET command.",
        "Error sending CMD_READ command.",
        "Error reading CMD_READ response.",
        "Error sending CMD_WRITE command.",
        "Error writing data.",
        kBusBusy,
    };
    return kTexts;
}

// Failures recorded so far by the running test: a loop of cases tells which of them failed.
inline int FailureParts() {
    return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
}

inline bool IsMonitorText(const std::string& text) {
    return text == kDisconnected || text.rfind(kMonitorOpenFailed, 0) == 0;
}

// ------------------------------------------------------------------ where an exchange sits

// The host routine a report exchange belongs to: a lone status query, the bus hand-over, one
// streamed transfer, a bank erase with its polls.
enum class Call { Status, GetBus, ReleaseBus, Read, Write, Erase, Reset };

struct Exchange {
    int call = 0;  // index of the routine call within the operation
    Call kind = Call::Status;
    bool head = false;     // the call's command report
    bool out = false;      // an output report (else a feature fetch)
    bool poll = false;     // a status query of a poll (its report or its answer)
    int bank = 0;          // of the call's command report
    size_t headIndex = 0;  // exchange index of the call's command report, from the first
};

// Splits the Out and Feature exchanges of a log, from exchange `first` on, into routine calls.
inline std::vector<Exchange> Segment(const std::vector<sim::LogEntry>& log, uint64_t first) {
    std::vector<Exchange> exchanges;
    Exchange current;
    current.call = -1;
    for (const sim::LogEntry& entry : log) {
        if (entry.direction == sim::Direction::In || entry.exchange < first) continue;
        const size_t index = static_cast<size_t>(entry.exchange - first);
        const uint8_t command =
            entry.direction == sim::Direction::Out && entry.bytes.size() > 3 ? entry.bytes[1] : 0;
        Exchange exchange = current;
        exchange.out = entry.direction == sim::Direction::Out;
        exchange.head = false;
        const bool polling =
            current.call >= 0 && (current.kind == Call::GetBus ||
                                  current.kind == Call::ReleaseBus || current.kind == Call::Erase);
        if (command == sim::kCmdGetStatus && polling) {
            exchange.poll = true;
        } else if (command != 0) {
            exchange.call = current.call + 1;
            exchange.head = true;
            exchange.poll = false;
            exchange.bank = entry.bytes[2];
            exchange.headIndex = index;
            switch (command) {
                case sim::kCmdGetStatus:
                    exchange.kind = Call::Status;
                    break;
                case sim::kCmdBus:
                    exchange.kind = entry.bytes[3] == 1 ? Call::GetBus : Call::ReleaseBus;
                    break;
                case sim::kCmdRead:
                    exchange.kind = Call::Read;
                    break;
                case sim::kCmdWrite:
                    exchange.kind = Call::Write;
                    break;
                case sim::kCmdErase:
                    exchange.kind = Call::Erase;
                    break;
                default:
                    exchange.kind = Call::Reset;
                    break;
            }
            current = exchange;
        }
        exchanges.push_back(exchange);
    }
    return exchanges;
}

// The message a failure of this exchange shows.
inline std::string FailureText(const Exchange& exchange) {
    if (!exchange.out) {
        return exchange.kind == Call::Read && !exchange.poll
                   ? "Error reading CMD_READ response."
                   : "Error reading CMD_GET_STATUS response.";
    }
    if (exchange.poll) return "Error sending CMD_STATUS response.";
    if (!exchange.head) return "Error writing data.";
    switch (exchange.kind) {
        case Call::Status:
            return "Error sending CMD_STATUS response.";
        case Call::GetBus:
            return "Error sending GetBus command.";
        case Call::ReleaseBus:
            return "Error sending ReleaseBus command.";
        case Call::Read:
            return "Error sending CMD_READ command.";
        case Call::Write:
            return "Error sending CMD_WRITE command.";
        case Call::Erase:
            return "Error sending CMD_ERASE command.";
        case Call::Reset:
            return "Error sending CMD_RESET command.";
    }
    return "";
}

// ------------------------------------------------------------------ what a run leaves

struct World {
    int result = -1;     // WinMain's
    bool ended = false;  // the program ended before the user closed the window
    bool connected = false;
    MenuMode mode = MenuMode::Idle;
    std::string status;
    bool actions[4] = {};  // Write, Read, Erase, Abort enabled
    std::vector<int> enabledSlots;
    std::vector<int> checkedSlots;
    std::vector<int> enabledBefore;  // slot buttons enabled right before the operation
    SlotEntry mapBefore[kSlotCount] = {};
    SlotEntry mapAfter[kSlotCount] = {};
    std::vector<standin::MessageBoxRecord> boxes;
    size_t saveDialogs = 0;
    std::vector<uint8_t> flash;
    bool fileExists = false;
    std::vector<uint8_t> file;
    uint64_t firstExchange = 0;  // the exchange count when the operation began
    std::vector<sim::LogEntry> log;
    MenuMode modeBefore = MenuMode::Idle;  // the mode when the operation's button was clicked
    bool acted = false;                    // the operation's button was enabled and clicked
    std::vector<std::string> statusTexts;  // every status line text from the operation on
    int commands[kCommandCodes] = {};      // command reports of the operation, by code

    std::vector<std::string> ErrorTexts() const {
        std::vector<std::string> texts;
        for (const auto& box : boxes) {
            if (box.caption == "Error") texts.push_back(box.text);
        }
        return texts;
    }
};

// ------------------------------------------------------------------ the fixture

// A temporary folder that lives as long as the test program.
struct ProcessFolder {
    std::string path;
    ProcessFolder() {
        char folder[] = "/tmp/kelm_reliability_XXXXXX";
        if (mkdtemp(folder) != nullptr) path = folder;
    }
    ~ProcessFolder() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    ProcessFolder(const ProcessFolder&) = delete;
    ProcessFolder& operator=(const ProcessFolder&) = delete;
};

// One test runs many whole programs: Fresh() puts the stand-in, the board and the files back to
// their start between them.
class FaultRunTest : public AppTest {
  protected:
    // The board of every run: BIOS (slots 0-1), application A (2-3), a corrupted slot (4), free
    // slots 5-8, application B with size 0 (9-10), application C (11-29), free slots 30-31. The
    // catalogue scan reads 11 headers.
    // Slot by slot: the board copies with memmove, which the sanitizers make slow for 2 MB.
    void LayBoard() {
        board.FillFlash(0xFF);
        const std::vector<uint8_t>& flash = Layout();
        for (int slot : {0, kAppSlot, 4, 9, 11}) {
            const auto from = flash.begin() + static_cast<long>(slot * kSlot);
            Lay(slot * kSlot, std::vector<uint8_t>(from, from + static_cast<long>(kSlot)));
        }
    }

    // The flash every run starts from, built once.
    static const std::vector<uint8_t>& Layout() {
        static const std::vector<uint8_t> kFlash = [] {
            static const char kBios[4] = {'(', 'C', ')', ' '};
            static const char kElf[4] = {'E', 'L', 'F', '\0'};
            static const char kDol[4] = {'D', 'O', 'L', '\0'};
            static const char kJunk[4] = {'J', 'U', 'N', 'K'};
            std::vector<uint8_t> flash(sim::kFlashSize, 0xFF);
            LayImage(flash, 0, kBios, "BIOS", 2 * kSlot, 11);
            LayImage(flash, kAppSlot, kElf, "C:\\games\\app_a.elf", kAppSlots * kSlot, 22);
            LayImage(flash, 4, kJunk, "", 3 * kSlot, 33);
            LayImage(flash, 9, kDol, "C:\\games\\app_b.dol", 0, 44);
            LayImage(flash, 11, kElf, "C:\\games\\app_c.elf", 19 * kSlot, 55);
            return flash;
        }();
        return kFlash;
    }

    void SetUp() override {
        AppTest::SetUp();
        LayBoard();
    }

    // Ends a run inside the test's own scope (the fixture's checks of handles, threads and
    // protocol breaches belong to it) and starts the next from scratch.
    void Fresh() {
        AppTest::TearDown();
        // The same board, back to its start: a new one would cost 2 MB of fresh pages a run.
        board.Plug();
        board.ClearFaults();
        board.ClearViolations();
        board.ClearProtocolEvents();
        AppTest::SetUp();
        board.ClearLog();
        LayBoard();
    }

    void PrepareFiles(Op op) {
        const std::vector<uint8_t>& flash = Layout();
        switch (op) {
            case Op::Write:
                WriteFileBytes(ImagePath(), Pattern(kImageFile, 7));
                break;
            case Op::Program:
                WriteFileBytes(SectorPath(), Pattern(kPiece, 8));
                break;
            case Op::Verify:
                // The sector as it is: the verdict is a match.
                WriteFileBytes(SectorPath(),
                               std::vector<uint8_t>(flash.begin(), flash.begin() + kPiece));
                break;
            default:
                break;
        }
    }

    // The clicks before the operation's first report: the mode and the file choice.
    void Setup(Op op) {
        switch (op) {
            case Op::Write:
                AnswerOpen(ImagePath(), kDolFilter);
                Click(IDC_WRITE);
                break;
            case Op::Backup:
                AnswerSave(OutputPath());
                Click(IDC_READ);
                break;
            case Op::Erase:
                // Yes to the question; OK to anything else (the question may never come).
                standin::SetMessageBoxHandler([](const standin::MessageBoxRecord& box) {
                    return (box.type & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
                });
                Click(IDC_ERASE);
                break;
            case Op::Program:
            case Op::Verify:
                AnswerOpen(SectorPath(), 0);  // the panel's dialog has no filter
                break;
            case Op::Upload:
                AnswerSave(OutputPath());
                break;
            default:
                break;
        }
    }

    // The click that sends the operation's reports.
    // The click that sends the operation's reports; false when its button was not enabled.
    bool Act(Op op) {
        switch (op) {
            case Op::Connect:
                return Click(IDC_CONNECT);
            case Op::Write:
                return ClickSlot(kWriteStart);
            case Op::Backup:
            case Op::Erase:
                return ClickSlot(kClickedSlot);
            case Op::Program:
                Command(IDC_PROGRAM);
                return true;
            case Op::Verify:
                Command(IDC_VERIFY);
                return true;
            case Op::BlankCheck:
                Command(IDC_BLANK_CHECK);
                return true;
            case Op::Upload:
                Command(IDC_UPLOAD);
                return true;
            case Op::EraseBlock0:
                Command(IDC_PANEL_ERASE);
                return true;
        }
        return false;
    }

    // A whole program run: connect (unless the operation is the connect), the operation with
    // `inject` called right before its first report, then the user closes the window. When the
    // board went away the run waits for the monitor to end the program.
    // The world's buffers are reused from run to run.
    void RunOperation(Op op, World& world,
                      const std::function<void(uint64_t first)>& inject = nullptr) {
        // The engineering commands work on the flash directly, without bus requests; the
        // window's own operations take the bus. Checked when the run ends (Fresh, TearDown).
        allowFlashWithoutBus = TakesNoBus(op);
        std::vector<uint8_t> flash = std::move(world.flash);
        std::vector<uint8_t> file = std::move(world.file);
        world = World();
        PrepareFiles(op);
        world.result = Run([&](HWND) {
            if (op != Op::Connect) {
                Click(IDC_CONNECT);
                if (Status() != "KELM OK!") {
                    ADD_FAILURE() << "connecting did not end with the catalogue";
                    return;
                }
            }
            Setup(op);
            world.enabledBefore = EnabledSlots();
            world.modeBefore = FlashMenuMode;
            std::copy(SlotMap, SlotMap + kSlotCount, world.mapBefore);
            world.firstExchange = board.ExchangeCount();
            const size_t statusBefore = standin::TextHistory(dialog, IDC_STATUS).size();
            int commandsBefore[kCommandCodes];
            for (int code = 0; code < kCommandCodes; ++code) {
                commandsBefore[code] = board.CountCommands(static_cast<uint8_t>(code));
            }
            if (inject) inject(world.firstExchange);
            world.acted = Act(op);
            if (!board.IsPresent() && !standin::DialogEnded()) {
                EXPECT_TRUE(standin::WaitForMessage(MSG_MONITOR_FAILED, kMonitorWaitMs))
                    << "the monitor never reported the unplugged board";
            }
            const std::vector<std::string> history = standin::TextHistory(dialog, IDC_STATUS);
            world.statusTexts.assign(history.begin() + static_cast<long>(statusBefore),
                                     history.end());
            for (int code = 0; code < kCommandCodes; ++code) {
                world.commands[code] =
                    board.CountCommands(static_cast<uint8_t>(code)) - commandsBefore[code];
            }
            world.ended = standin::DialogEnded();
            world.connected = IsConnected();
            world.mode = FlashMenuMode;
            world.status = Status();
            const int actions[4] = {IDC_WRITE, IDC_READ, IDC_ERASE, IDC_ABORT};
            for (int i = 0; i < 4; ++i) world.actions[i] = standin::Enabled(dialog, actions[i]);
            world.enabledSlots = EnabledSlots();
            world.checkedSlots = CheckedSlots();
            std::copy(SlotMap, SlotMap + kSlotCount, world.mapAfter);
            if (disconnectAfter && IsConnected() && !standin::DialogEnded()) Click(IDC_CONNECT);
        });
        world.boxes = Boxes();
        for (const auto& record : FileDialogs()) world.saveDialogs += record.save ? 1 : 0;
        world.flash = std::move(flash);
        board.ViewFlash([&](const uint8_t* bytes, size_t size) {
            world.flash.resize(size);
            std::memcpy(world.flash.data(), bytes, size);
        });
        world.log = board.Log();
        world.file = std::move(file);
        world.fileExists = ReadWholeFile(OutputPath(), world.file);
    }

    // Set by a test whose runs end with the user disconnecting (after the state is taken).
    bool disconnectAfter = false;

    // The image's path is its name in the slot header: the same in every run of the process,
    // so that runs can be compared byte for byte.
    static std::string ProcessImagePath() {
        static const ProcessFolder kFolder;
        return kFolder.path + "/image.dol";
    }
    std::string imagePath = ProcessImagePath();
    std::string ImagePath() const { return imagePath; }
    std::string SectorPath() const { return TempPath("sector.bin"); }
    std::string OutputPath() const { return TempPath("saved.gcb"); }

  private:
    static bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
        std::FILE* file = std::fopen(path.c_str(), "rb");
        if (file == nullptr) return false;
        bytes.clear();
        uint8_t block[kPiece];
        size_t got = 0;
        while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
            bytes.insert(bytes.end(), block, block + got);
        }
        std::fclose(file);
        return true;
    }

    // A header and, behind it, pattern bytes to the end of the image's first slot.
    static void LayImage(std::vector<uint8_t>& flash, int slot, const char magic[4],
                         const std::string& name, uint32_t size, uint32_t seed) {
        std::vector<uint8_t> bytes = Header(magic, name, size);
        const std::vector<uint8_t> body = Pattern(kSlot - bytes.size(), seed);
        bytes.insert(bytes.end(), body.begin(), body.end());
        std::copy(bytes.begin(), bytes.end(), flash.begin() + static_cast<long>(slot * kSlot));
    }
};

// What a range of flash holds after a run: what it held before, what the clean run of the
// operation left there, erased bytes, or anything (a run the operation may write).
enum class Source { Before, Clean, Erased, Any };
struct Patch {
    size_t from = 0;
    size_t to = 0;
    Source source = Source::Before;
};

// Compared in blocks with memcmp: under the sanitizers a byte loop (or a copy) of 2 MB costs
// more than a whole program run.
constexpr size_t kCompareBlock = 4096;

// First index in [from, to) where `actual` differs from `expected` (null: erased), or -1.
inline long FirstDifferenceIn(const uint8_t* actual, const uint8_t* expected, size_t from,
                              size_t to) {
    static const std::vector<uint8_t> kErased(kCompareBlock, 0xFF);
    for (size_t block = from; block < to; block += kCompareBlock) {
        const size_t length = std::min(kCompareBlock, to - block);
        const uint8_t* reference = expected != nullptr ? expected + block : kErased.data();
        if (std::memcmp(actual + block, reference, length) == 0) continue;
        for (size_t i = 0; i < length; ++i) {
            if (actual[block + i] != reference[i]) return static_cast<long>(block + i);
        }
    }
    return -1;
}

// First byte of `after` that is not what the patches say (as before elsewhere), or -1.
inline long FirstUnexpected(const std::vector<uint8_t>& after, const std::vector<uint8_t>& before,
                            const std::vector<uint8_t>& clean, std::vector<Patch> patches) {
    std::sort(patches.begin(), patches.end(),
              [](const Patch& a, const Patch& b) { return a.from < b.from; });
    patches.push_back({after.size(), after.size(), Source::Before});
    size_t at = 0;
    for (const Patch& patch : patches) {
        long diff = FirstDifferenceIn(after.data(), before.data(), at, patch.from);
        if (diff >= 0) return diff;
        if (patch.source != Source::Any) {
            const uint8_t* source = patch.source == Source::Before  ? before.data()
                                    : patch.source == Source::Clean ? clean.data()
                                                                    : nullptr;
            diff = FirstDifferenceIn(after.data(), source, patch.from, patch.to);
            if (diff >= 0) return diff;
        }
        at = patch.to;
    }
    return -1;
}

// Index of the first byte outside [from, to) that differs, or -1.
inline long ChangedOutside(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after,
                           size_t from, size_t to) {
    return FirstUnexpected(after, before, before, {{from, to, Source::Any}});
}

}  // namespace reliability
