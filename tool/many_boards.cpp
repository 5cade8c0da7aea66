// A command on several boards side by side.
#include "many_boards.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <list>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "board_connection.h"
#include "board_thread.h"
#include "interrupt.h"
#include "json_text.h"
#include "progress.h"
#include "tool_context.h"

namespace {

// How often --each-new looks for boards plugged in or pulled out, as --wait does.
constexpr auto kPlugPoll = std::chrono::milliseconds(250);
constexpr char kWaitingText[] = "waiting for kelm boards; Ctrl-C stops";

// A document as every kelmtool document is: with the version of its layout.
nlohmann::json Stamped(nlohmann::json document) {
    document["schema"] = kJsonSchema;
    return document;
}

// What a board is called in its result lines: its serial, or its path where it has none.
std::string BoardName(const BoardListing& board) {
    return board.serial.empty() ? board.path : board.serial;
}

// One board as --each-new remembers it while it stays plugged in.
std::string BoardKey(const BoardListing& board) { return board.path + "\n" + board.serial; }

// The options with this board alone named: the choice of a board then finds it and no other.
ToolOptions OptionsFor(const ToolOptions& options, const BoardListing& board) {
    ToolOptions own = options;
    own.serial = board.serial;
    // A simulated board is found among the --sim files by its serial, which no other has.
    own.path = board.simFile.empty() ? board.path : std::string();
    own.traceLabel = BoardName(board) + ": ";
    return own;
}

// One board's run, in a thread of its own.
class BoardJob {
  public:
    BoardJob(const BoardListing& board, const ToolOptions& options, ProgressRows& rows)
        : board_(board),
          options_(OptionsFor(options, board)),
          progress_(rows, BoardName(board) + " ") {}
    ~BoardJob() { Join(); }
    BoardJob(const BoardJob&) = delete;
    BoardJob& operator=(const BoardJob&) = delete;

    void Start(Command& command) {
        std::string problem;
        const bool started = thread_.Start(
            [this, &command] {
                // Nobody is asked on the terminal: the boards would ask all at once.
                ToolContext context{options_, progress_, reply_, false};
                outcome_ = command.Run(context);
                finished_.store(true);
            },
            problem);
        if (started) return;
        outcome_ = Outcome::Fail(ExitCode::Failed, "no thread for the board: " + problem);
        finished_.store(true);
    }
    bool finished() const { return finished_.load(); }
    void Join() { thread_.Join(); }

    const BoardListing& board() const { return board_; }
    int row() const { return progress_.row(); }
    int code() const { return static_cast<int>(outcome_.code()); }
    const Outcome& outcome() const { return outcome_; }

    // The result lines, each beginning with the board's name.
    std::string Text() const {
        const std::string name = BoardName(board_);
        std::string text;
        if (HasResult()) {
            size_t at = 0;
            while (at < reply_.text.size()) {
                const size_t end = reply_.text.find('\n', at);
                const size_t stop = end == std::string::npos ? reply_.text.size() : end;
                text += name + ": " + reply_.text.substr(at, stop - at) + "\n";
                at = stop + 1;
            }
        }
        if (!outcome_.ok()) text += name + ": failed (exit " + std::to_string(code()) + ")\n";
        return text;
    }

    // The board's member of "boards": the command's own fields, and which board, how it ended.
    nlohmann::json Json() const {
        nlohmann::json result = HasResult() ? reply_.data : nlohmann::json::object();
        result["serial"] = board_.serial;
        result["path"] = board_.path;
        result["exit"] = code();
        if (!outcome_.ok()) result["error"] = outcome_.message();
        return result;
    }

  private:
    // A command that a signal ended may have its result all the same (see Reply::complete).
    bool HasResult() const { return outcome_.ok() || (outcome_.interrupted() && reply_.complete); }

    BoardListing board_;
    ToolOptions options_;
    Progress progress_;
    Reply reply_;
    Outcome outcome_;
    std::atomic<bool> finished_{false};
    BoardThread thread_;  // last, so that it is joined before the rest goes
};

class ManyBoardsRun {
  public:
    ManyBoardsRun(Command& command, const ToolOptions& options, bool showProgress)
        : command_(command), options_(options), rows_(stderr, showProgress) {}

    int All() {
        std::vector<BoardListing> boards;
        const Outcome found = WaitForBoards(boards);
        if (!found.ok()) return Refused(found);
        std::vector<std::unique_ptr<BoardJob>> jobs;
        for (const BoardListing& board : boards) {
            jobs.push_back(std::make_unique<BoardJob>(board, options_, rows_));
        }
        for (const std::unique_ptr<BoardJob>& job : jobs) job->Start(command_);
        for (const std::unique_ptr<BoardJob>& job : jobs) job->Join();
        // The results follow the finished bars.
        rows_.Leave();
        nlohmann::json results = nlohmann::json::array();
        std::string text;
        for (const std::unique_ptr<BoardJob>& job : jobs) {
            Noted(*job);
            results.push_back(job->Json());
            text += job->Text();
        }
        Print(options_.json ? JsonText(Stamped({{"boards", results}})) + "\n" : text);
        return worst_;
    }

    int EachNew() {
        if (rows_.enabled()) rows_.Above(stderr, std::string(kWaitingText) + "\n");
        std::list<std::unique_ptr<BoardJob>> running;
        std::set<std::string> seen;  // boards done or at work, while they stay plugged in
        while (PendingInterrupt() == 0) {
            Collect(running, false);
            std::vector<BoardListing> boards;
            const Outcome listed = NamedBoards(options_, SimPresence::FileExists, boards);
            if (!listed.ok()) {
                Collect(running, true);
                return std::max(worst_, Refused(listed));
            }
            std::set<std::string> plugged;
            for (const BoardListing& board : boards) plugged.insert(BoardKey(board));
            for (auto key = seen.begin(); key != seen.end();) {
                key = plugged.count(*key) != 0 || AtWork(running, *key) ? std::next(key)
                                                                        : seen.erase(key);
            }
            for (const BoardListing& board : boards) {
                if (!seen.insert(BoardKey(board)).second) continue;
                running.push_back(std::make_unique<BoardJob>(board, options_, rows_));
                running.back()->Start(command_);
            }
            std::this_thread::sleep_for(kPlugPoll);
        }
        // Ctrl-C reaches the boards at work too: each stops between two transfers and says so.
        Collect(running, true);
        return worst_;
    }

  private:
    // --all finds the boards once, waiting with --wait for the first of them.
    Outcome WaitForBoards(std::vector<BoardListing>& boards) {
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::duration<double>(std::max(options_.waitSeconds, 0.0));
        for (;;) {
            KELM_TRY(NamedBoards(options_, SimPresence::Every, boards));
            if (!boards.empty()) return {};
            if (std::chrono::steady_clock::now() >= deadline || PendingInterrupt() != 0) {
                return NoBoardNamed(options_);
            }
            std::this_thread::sleep_for(kPlugPoll);
        }
    }

    static bool AtWork(const std::list<std::unique_ptr<BoardJob>>& running,
                       const std::string& key) {
        return std::any_of(
            running.begin(), running.end(),
            [&key](const std::unique_ptr<BoardJob>& job) { return BoardKey(job->board()) == key; });
    }

    // --each-new prints each board's result as it is done; all: waits for every one.
    void Collect(std::list<std::unique_ptr<BoardJob>>& running, bool all) {
        for (auto job = running.begin(); job != running.end();) {
            if (!all && !(*job)->finished()) {
                ++job;
                continue;
            }
            (*job)->Join();
            Noted(**job);
            rows_.Remove((*job)->row());
            Print(options_.json ? JsonText(Stamped((*job)->Json()), -1) + "\n" : (*job)->Text());
            job = running.erase(job);
        }
    }

    // The board's error on standard error, and its code weighed.
    void Noted(const BoardJob& job) {
        worst_ = std::max(worst_, job.code());
        if (job.outcome().ok()) return;
        rows_.Above(stderr, "kelmtool " + std::string(command_.name()) + ": " +
                                BoardName(job.board()) + ": " + job.outcome().message() + "\n");
    }

    void Print(const std::string& text) {
        rows_.Above(stdout, text);
        if (std::ferror(stdout) != 0) {
            rows_.Above(stderr, "kelmtool: could not write to standard output\n");
            worst_ = std::max(worst_, static_cast<int>(ExitCode::Failed));
        }
    }

    // Before any board was at work: the message as a single board's run gives it.
    int Refused(const Outcome& outcome) {
        rows_.Above(stderr,
                    "kelmtool " + std::string(command_.name()) + ": " + outcome.message() + "\n");
        if (options_.json) Print(JsonText(Stamped({{"error", outcome.message()}})) + "\n");
        return static_cast<int>(outcome.code());
    }

    Command& command_;
    const ToolOptions& options_;
    ProgressRows rows_;
    int worst_ = 0;
};

}  // namespace

int RunOnManyBoards(Command& command, const ToolOptions& options, bool showProgress) {
    ManyBoardsRun run(command, options, showProgress);
    return options.eachNew ? run.EachNew() : run.All();
}
