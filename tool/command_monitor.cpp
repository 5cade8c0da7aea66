// monitor: the board's two-line text as its input reports change it.
#include <chrono>
#include <string>

#include "board_connection.h"
#include "commands.h"
#include "device/input_text.h"

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
    BoardConnection connection;
    KELM_TRY(connection.Open(context.options));
    using Clock = std::chrono::steady_clock;
    const bool bounded = arguments.seconds >= 0;
    const Clock::time_point end =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double>(bounded ? arguments.seconds : 0));
    char state[kInputStateSize] = {};
    nlohmann::json texts = nlohmann::json::array();
    while (!bounded || Clock::now() < end) {
        uint8_t report[kInputReportSize] = {};
        const InputRead read = connection.link().ReadInput(report, kReadTimeoutMs);
        if (read == InputRead::Failed) {
            return Outcome::Fail(ExitCode::Failed, "the board went away");
        }
        if (read == InputRead::Timeout) continue;
        if (!ApplyInputReport(state, report)) continue;
        const std::string first = Line(state, 0);
        const std::string second = Line(state, kInputLineLength);
        texts.push_back({first, second});
        if (!context.options.json) {
            // Each change is shown as it comes, not when the command ends.
            std::printf("%s\n%s\n\n", first.c_str(), second.c_str());
            std::fflush(stdout);
        }
    }
    context.reply.data["texts"] = texts;
    return {};
}
