// What a command ends with: an exit code and, unless it is done, one message for the user.
#pragma once

#include <cstdint>
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
    // The same stop, or the same difference, in other words; the place stays.
    Outcome Said(std::string message) const {
        Outcome said = *this;
        said.message_ = std::move(message);
        return said;
    }
    // The flash byte that a verify found different: slot and offset in it.
    Outcome At(int slot, uint32_t offset) const {
        Outcome placed = *this;
        placed.slot_ = slot;
        placed.offset_ = static_cast<int64_t>(offset);
        return placed;
    }
    bool placed() const { return slot_ >= 0; }
    int slot() const { return slot_; }
    int64_t offset() const { return offset_; }
    ExitCode code() const { return code_; }
    const std::string& message() const { return message_; }

  private:
    ExitCode code_ = ExitCode::Done;
    std::string message_;
    int slot_ = -1;
    int64_t offset_ = -1;
};

// Returns from the calling routine with the outcome when it is a failure.
#define KELM_TRY(expression)                         \
    do {                                             \
        Outcome kelmOutcome_ = (expression);         \
        if (!kelmOutcome_.ok()) return kelmOutcome_; \
    } while (false)
