// What a command ends with: an exit code and, unless it is done, one message for the user.
#pragma once

#include <string>
#include <utility>

// The documented exit codes of kelmtool (exit_codes.def). A signal's is 128 + its number, as a
// shell reports a program that a signal ended.
enum class ExitCode : int {
#define KELM_EXIT_CODE(name, number, summary, manual) name = number,
#include "exit_codes.def"
#undef KELM_EXIT_CODE
};

// "Exit codes:" and a line for each, as every --help ends.
std::string ExitCodeList();

class [[nodiscard]] Outcome {
  public:
    Outcome() = default;
    static Outcome Fail(ExitCode code, std::string message) {
        Outcome outcome;
        outcome.code_ = code;
        outcome.message_ = std::move(message);
        return outcome;
    }
    bool ok() const { return code_ == ExitCode::Done; }
    bool interrupted() const {
        return code_ == ExitCode::HungUp || code_ == ExitCode::Interrupted ||
               code_ == ExitCode::Terminated;
    }
    // The same stop, with a message saying what the flash holds after it.
    Outcome Said(std::string message) const { return Fail(code_, std::move(message)); }
    ExitCode code() const { return code_; }
    const std::string& message() const { return message_; }

  private:
    ExitCode code_ = ExitCode::Done;
    std::string message_;
};

// Returns from the calling routine with the outcome when it is a failure.
#define KELM_TRY(expression)                         \
    do {                                             \
        Outcome kelmOutcome_ = (expression);         \
        if (!kelmOutcome_.ok()) return kelmOutcome_; \
    } while (false)
