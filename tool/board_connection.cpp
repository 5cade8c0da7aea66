// Opening the board a command works on.
#include "board_connection.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <thread>

#include "hardware_link.h"
#include "interrupt.h"
#include "progress.h"
#include "sim_link.h"

namespace {

constexpr auto kWaitPoll = std::chrono::milliseconds(250);
constexpr char kNoBoardText[] =
    "no kelm board found (vendor 0x03EB, product 0x0001): is it plugged in? (--sim FILE tries a "
    "simulated one)";
constexpr char kNotListedText[] = " is no kelm board (see kelmtool list)";
constexpr char kNoSerialText[] = "no kelm board has the serial number ";
constexpr char kSeeListText[] = " (see kelmtool list)";
constexpr char kSimAndPathText[] = "--sim and --path cannot be used together";
constexpr char kSeveralBoardsText[] =
    " kelm boards are attached: choose one with --serial (or --path), or give --all:";

// --sim names simulated boards and --path an attached one: together they name two.
Outcome CheckBoardChoice(const ToolOptions& options) {
    if (!options.simFiles.empty() && !options.path.empty()) {
        return Outcome::Fail(ExitCode::BadInput, kSimAndPathText);
    }
    return {};
}

// As dfu-util does, the boards are listed for the user to pick from rather than one taken.
Outcome SeveralBoards(const std::vector<BoardListing>& boards) {
    std::string text = std::to_string(boards.size()) + kSeveralBoardsText;
    for (const BoardListing& board : boards) {
        text += "\n  " + board.path + "  serial " +
                (board.serial.empty() ? std::string("(none)") : board.serial);
    }
    return Outcome::Fail(ExitCode::BadInput, text);
}

bool FileExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

}  // namespace

Outcome BoardConnection::Open(const ToolOptions& options) {
    KELM_TRY(CheckBoardChoice(options));
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration<double>(std::max(options.waitSeconds, 0.0));
    bool waiting = false;
    for (;;) {
        bool worthWaiting = false;
        const Outcome opened = OpenChosen(options, worthWaiting);
        if (opened.ok()) break;
        if (!worthWaiting || std::chrono::steady_clock::now() >= deadline) {
            if (!waiting) return opened;
            char after[64];
            std::snprintf(after, sizeof after, " (gave up after waiting %g s)",
                          options.waitSeconds);
            return opened.Said(opened.message() + after);
        }
        // Someone at a terminal is told why nothing happens; a script's log is not.
        if (!waiting && IsTerminal(stderr)) {
            const bool inUse = opened.message() == kBoardInUseText;
            std::fprintf(stderr, "kelmtool: waiting up to %g s for %s (Ctrl-C to stop)...\n",
                         options.waitSeconds,
                         inUse ? "the board, in use by another kelmtool" : "a kelm board");
        }
        waiting = true;
        std::this_thread::sleep_for(kWaitPoll);
    }
    if (options.trace) trace_ = std::make_unique<TraceLink>(*link_, stderr, options.traceLabel);
    return {};
}

Outcome BoardConnection::OpenChosen(const ToolOptions& options, bool& worthWaiting) {
    // Only a path that enumeration listed for the board is opened: hidapi takes any device file
    // it is given for a hidraw node, and crashes on some (/dev/null).
    std::vector<BoardListing> boards;
    KELM_TRY(NamedBoards(options, SimPresence::Every, boards));
    if (boards.empty()) {
        worthWaiting = true;
        return NoBoardNamed(options);
    }
    if (boards.size() > 1) return SeveralBoards(boards);
    const BoardListing& chosen = boards.front();
    if (!chosen.simFile.empty()) return OpenSim(chosen.simFile, worthWaiting);
    return OpenLocked(lock_.TakeDevice(chosen.path), OpenHardwareBoard, chosen.path, worthWaiting);
}

Outcome BoardConnection::OpenSim(const std::string& path, bool& worthWaiting) {
    LockTake taken = lock_.TakeFile(path);
    if (taken == LockTake::Absent) {
        // Opening the board creates a missing flash file erased; then there is a file to lock.
        std::unique_ptr<BoardLink> creator;
        KELM_TRY(OpenSimBoard(path, creator));
        taken = lock_.TakeFile(path);
    }
    // The flash is read only now, under the lock, so that the run starts from all that the last
    // holder wrote.
    return OpenLocked(taken, OpenSimBoard, path, worthWaiting);
}

Outcome BoardConnection::OpenLocked(LockTake taken, LinkOpener open, const std::string& path,
                                    bool& worthWaiting) {
    if (taken == LockTake::InUse) {
        worthWaiting = true;
        return Outcome::Fail(ExitCode::NoBoard, kBoardInUseText);
    }
    // Where no lock could be had, the board's own open says why first, as it fails too.
    KELM_TRY(open(path, link_));
    if (taken != LockTake::Held) {
        link_.reset();
        return Outcome::Fail(ExitCode::NoBoard, lock_.problem());
    }
    return {};
}

BoardSession BoardConnection::Session(const ToolOptions& options) {
    return BoardSession(
        link(), std::chrono::milliseconds(static_cast<long long>(options.timeoutSeconds * 1000)),
        PendingInterrupt);
}

Outcome ListBoards(const ToolOptions& options, std::vector<BoardListing>& boards) {
    KELM_TRY(CheckBoardChoice(options));
    if (options.simFiles.empty()) {
        boards = ListHardwareBoards();
        return {};
    }
    boards.clear();
    for (const std::string& file : options.simFiles) {
        BoardListing sim = SimListing(file);
        std::unique_ptr<BoardLink> probe;
        const Outcome opened = OpenSimBoard(file, probe);
        sim.openable = opened.ok();
        sim.problem = opened.message();
        boards.push_back(sim);
    }
    return {};
}

Outcome NamedBoards(const ToolOptions& options, SimPresence presence,
                    std::vector<BoardListing>& boards) {
    KELM_TRY(CheckBoardChoice(options));
    boards.clear();
    if (options.simFiles.empty()) {
        boards = ListHardwareBoards();
    } else {
        for (const std::string& file : options.simFiles) {
            if (presence == SimPresence::Every || FileExists(file)) {
                boards.push_back(SimListing(file));
            }
        }
    }
    const auto unnamed = [&options](const BoardListing& board) {
        return (!options.path.empty() && board.path != options.path) ||
               (!options.serial.empty() && board.serial != options.serial);
    };
    boards.erase(std::remove_if(boards.begin(), boards.end(), unnamed), boards.end());
    return {};
}

Outcome NoBoardNamed(const ToolOptions& options) {
    if (!options.path.empty()) {
        return Outcome::Fail(ExitCode::NoBoard, options.path + kNotListedText);
    }
    if (!options.serial.empty()) {
        return Outcome::Fail(ExitCode::NoBoard, kNoSerialText + options.serial + kSeeListText);
    }
    return Outcome::Fail(ExitCode::NoBoard, kNoBoardText);
}
