// monitor: the board's two-line text as its input reports change it.
#include <chrono>
#include <cstdio>
#include <string>

#include "board_connection.h"
#include "command.h"
#include "commands.h"
#include "core/input_text.h"
#include "core/printable.h"
#include "interrupt.h"
#include "numbers.h"

namespace {

constexpr int kReadTimeoutMs = 100;

std::string Line(const char* state, size_t at) {
    std::string line(state + at, kInputLineLength);
    for (char& c : line) {
        if (c == '\0') c = ' ';
    }
    return line;
}

}  // namespace

Outcome RunMonitor(ToolContext& context, const MonitorArguments& arguments) {
    // Several boards' texts on one standard output could not be told apart.
    if (context.options.ManyBoards()) {
        return Outcome::Fail(ExitCode::BadInput,
                             "monitor watches one board: choose it with --serial");
    }
    BoardConnection connection;
    KELM_TRY(connection.Open(context.options));
    using Clock = std::chrono::steady_clock;
    const bool bounded = arguments.seconds >= 0;
    const Clock::time_point end =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double>(bounded ? arguments.seconds : 0));
    char state[kInputStateSize] = {};
    nlohmann::json texts = nlohmann::json::array();
    while ((!bounded || Clock::now() < end) && PendingInterrupt() == 0) {
        uint8_t report[kInputReportSize] = {};
        const InputRead read = connection.link().ReadInput(report, kReadTimeoutMs);
        // A signal can cut the wait for a report short; that is the monitor's end, not a fault.
        if (read == InputRead::Failed && PendingInterrupt() == 0) {
            return Outcome::Fail(ExitCode::Failed, "the board went away");
        }
        if (read == InputRead::Timeout) continue;
        if (!ApplyInputReport(state, report)) continue;
        const std::string first = Line(state, 0);
        const std::string second = Line(state, kInputLineLength);
        texts.push_back({first, second});
        if (!context.options.json) {
            // Each change is shown as it comes, not when the command ends.
            const bool shown = std::printf("%s\n%s\n\n", Printable(first).c_str(),
                                           Printable(second).c_str()) > 0 &&
                               std::fflush(stdout) == 0;
            // Nobody reads on: a closed pipe ends the monitor instead of leaving it to run.
            if (!shown)
                return Outcome::Fail(ExitCode::Failed, "could not write to standard output");
        }
    }
    context.reply.data["texts"] = texts;
    if (PendingInterrupt() == 0) return {};
    // Ctrl-C is how a monitor without --seconds ends: what it saw is the result all the same.
    context.reply.complete = true;
    return Outcome::Fail(InterruptCode(PendingInterrupt()), "interrupted");
}

namespace {

class MonitorCommand : public Command {
  public:
    const char* name() const override { return "monitor"; }
    const char* summary() const override { return "show the board's two-line text as it changes"; }
    std::vector<Example> examples() const override {
        return {
            {"kelmtool monitor", "until Ctrl-C"},
            {"kelmtool --json monitor --seconds 10", "ten seconds of it as JSON"},
        };
    }
    void Declare(CLI::App& command) override {
        seconds_ =
            command.add_option("--seconds", secondsText_, "stop after this long (at most 86400)")
                ->type_name("SECONDS");
    }
    Outcome Settle() override {
        if (seconds_->count() == 0) return {};
        return ParseSeconds(secondsText_, kMonitorRange, arguments_.seconds);
    }
    Outcome Run(ToolContext& context) override { return RunMonitor(context, arguments_); }

  private:
    MonitorArguments arguments_;
    std::string secondsText_;
    CLI::Option* seconds_ = nullptr;
};

}  // namespace

std::unique_ptr<Command> MakeMonitorCommand() { return std::make_unique<MonitorCommand>(); }
