// Opening the board a command works on.
#include "board_connection.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
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
constexpr char kSimAndPathText[] = "--sim and --path cannot be used together";

// --sim names a simulated board and --path an attached one: together they name two.
Outcome CheckBoardChoice(const ToolOptions& options) {
    if (!options.simFile.empty() && !options.path.empty()) {
        return Outcome::Fail(ExitCode::BadInput, kSimAndPathText);
    }
    return {};
}

}  // namespace

Outcome BoardConnection::Open(const ToolOptions& options) {
    KELM_TRY(CheckBoardChoice(options));
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration<double>(std::max(options.waitSeconds, 0.0));
    bool waiting = false;
    for (;;) {
        bool worthWaiting = false;
        const Outcome opened = options.simFile.empty() ? OpenAttached(options.path, worthWaiting)
                                                       : OpenSim(options.simFile, worthWaiting);
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
    if (options.trace) trace_ = std::make_unique<TraceLink>(*link_, stderr);
    return {};
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

Outcome BoardConnection::OpenAttached(const std::string& path, bool& worthWaiting) {
    // Only a path that enumeration listed for the board is opened: hidapi takes any device file
    // it is given for a hidraw node, and crashes on some (/dev/null).
    const std::vector<BoardListing> boards = ListHardwareBoards();
    const auto chosen = std::find_if(boards.begin(), boards.end(), [&](const BoardListing& board) {
        return path.empty() || board.path == path;
    });
    if (chosen == boards.end()) {
        worthWaiting = true;
        return Outcome::Fail(ExitCode::NoBoard,
                             path.empty() ? std::string(kNoBoardText) : path + kNotListedText);
    }
    return OpenLocked(lock_.TakeDevice(chosen->path), OpenHardwareBoard, chosen->path,
                      worthWaiting);
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
    if (options.simFile.empty()) {
        boards = ListHardwareBoards();
        return {};
    }
    BoardListing sim;
    sim.path = "sim:" + options.simFile;
    sim.serial = "simulated";
    std::unique_ptr<BoardLink> probe;
    const Outcome opened = OpenSimBoard(options.simFile, probe);
    sim.openable = opened.ok();
    sim.problem = opened.message();
    boards = {sim};
    return {};
}
