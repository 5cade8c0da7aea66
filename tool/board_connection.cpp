// Opening the board a command works on.
#include "board_connection.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "hardware_link.h"
#include "interrupt.h"
#include "sim_link.h"

namespace {

constexpr auto kWaitPoll = std::chrono::milliseconds(250);
constexpr char kNoBoardText[] =
    "no kelm board found (vendor 0x03EB, product 0x0001): is it plugged in? (--sim FILE tries a "
    "simulated one)";

}  // namespace

Outcome BoardConnection::Open(const ToolOptions& options) {
    if (!options.simFile.empty()) {
        KELM_TRY(OpenSimBoard(options.simFile, link_));
    } else if (!options.path.empty() && options.waitSeconds < 0) {
        KELM_TRY(OpenHardwareBoard(options.path, link_));
    } else {
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::duration<double>(std::max(options.waitSeconds, 0.0));
        for (;;) {
            std::vector<BoardListing> boards = ListHardwareBoards();
            const BoardListing* chosen = nullptr;
            for (const BoardListing& board : boards) {
                if (options.path.empty() || board.path == options.path) {
                    chosen = &board;
                    break;
                }
            }
            if (chosen != nullptr) {
                KELM_TRY(OpenHardwareBoard(chosen->path, link_));
                break;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return Outcome::Fail(ExitCode::NoBoard, options.path.empty()
                                                            ? kNoBoardText
                                                            : "no kelm board at " + options.path);
            }
            std::this_thread::sleep_for(kWaitPoll);
        }
    }
    if (options.trace) trace_ = std::make_unique<TraceLink>(*link_, stderr);
    return {};
}

BoardSession BoardConnection::Session(const ToolOptions& options) {
    return BoardSession(
        link(), std::chrono::milliseconds(static_cast<long long>(options.timeoutSeconds * 1000)),
        PendingInterrupt);
}

std::vector<BoardListing> ListBoards(const ToolOptions& options) {
    if (options.simFile.empty()) return ListHardwareBoards();
    BoardListing sim;
    sim.path = "sim:" + options.simFile;
    sim.serial = "simulated";
    std::unique_ptr<BoardLink> probe;
    const Outcome opened = OpenSimBoard(options.simFile, probe);
    sim.openable = opened.ok();
    sim.problem = opened.message();
    return {sim};
}
