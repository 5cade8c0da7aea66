// kelmtool's command line, parsed by CLI11 and its errors said in kelmtool's words.
#include "command_line.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <iostream>
#include <vector>

#include "completions.h"
#include "json_text.h"
#include "outcome.h"

namespace {

constexpr char kDescription[] =
    "kelmtool: manages the flash of the kelm board (USB HID 03eb:0001): 2 MB in 32 slots of "
    "64 KB.";
constexpr char kHelpName[] = "help";
constexpr char kCompletionName[] = "completion";
// A misspelling this many edits from a command (a swap of two letters is one) is offered.
constexpr size_t kMostEditsOffered = 2;

const std::vector<Example> kToolExamples = {
    {"kelmtool --sim board.bin info", "try it on a simulated board"},
    {"kelmtool write game.dol", "an image into the first free slots, verified"},
    {"kelmtool help write", "one command's options and examples"},
};
const std::vector<Example> kHelpExamples = {
    {"kelmtool help", "every command"},
    {"kelmtool help backup", "one command's options and examples"},
};
const std::vector<Example> kCompletionExamples = {
    {"source <(kelmtool completion bash)", "completion in this bash"},
    {"kelmtool completion fish > ~/.config/fish/completions/kelmtool.fish", "for fish, kept"},
};

// --json anywhere on a command line that could not be parsed.
bool JsonAsked(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--json") return true;
    }
    return false;
}

// Edits from one word to another: insertions, deletions, changes and swaps of neighbours.
size_t Edits(const std::string& from, const std::string& to) {
    std::vector<std::vector<size_t>> d(from.size() + 1, std::vector<size_t>(to.size() + 1));
    for (size_t i = 0; i <= from.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= to.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= from.size(); ++i) {
        for (size_t j = 1; j <= to.size(); ++j) {
            const size_t change = from[i - 1] == to[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
            if (i > 1 && j > 1 && from[i - 1] == to[j - 2] && from[i - 2] == to[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[from.size()][to.size()];
}

std::string Footer(const std::vector<Example>& examples) {
    return ExampleList(examples) + "\n\n" + ExitCodeList();
}

}  // namespace

std::string ClosestName(const std::string& word, const std::vector<std::string>& names) {
    std::string closest;
    size_t fewest = kMostEditsOffered + 1;
    for (const std::string& name : names) {
        // A beginning of a name is as close as it gets.
        const size_t edits = name.rfind(word, 0) == 0 && !word.empty() ? 0 : Edits(word, name);
        if (edits < fewest && edits < name.size()) {
            fewest = edits;
            closest = name;
        }
    }
    return closest;
}

CommandLine::CommandLine(CommandTable& commands, GlobalOptions& global, ToolOptions& options,
                         const std::string& version)
    : commands_(commands), app_(kDescription, "kelmtool") {
    app_.footer(Footer(kToolExamples));
    app_.set_version_flag("-V,--version", "kelmtool " + version);
    app_.require_subcommand(0, 1);
    // Global options may follow the command: a command's parser hands on what it does not know.
    app_.fallthrough();
    global.Declare(app_, options);
    for (const std::unique_ptr<Command>& command : commands_) {
        CLI::App* subcommand = app_.add_subcommand(command->name(), command->summary());
        command->Declare(*subcommand);
        subcommand->footer(Footer(command->examples()));
    }
    help_ = app_.add_subcommand(kHelpName, "the commands, or one command's options and examples");
    help_->add_option("COMMAND", helpTopic_, "a command");
    help_->footer(Footer(kHelpExamples));
    completion_ = app_.add_subcommand(kCompletionName, "a completion script for bash, zsh or fish");
    completion_->add_option("SHELL", shell_, "bash, zsh or fish")
        ->required()
        ->check(CLI::IsMember(CompletionShells()));
    completion_->footer(Footer(kCompletionExamples));
    // What no parser knows is collected and said below in kelmtool's words, not CLI11's. Set
    // after the commands were added, which would otherwise take it over.
    app_.allow_extras();
}

int CommandLine::Refuse(const std::string& what, const std::string& command, bool json) {
    const std::string help =
        command.empty() ? "kelmtool --help" : "kelmtool " + command + " --help";
    std::cerr << "kelmtool: " << what << "; see " << help << "\n";
    // A script that asked for JSON reads standard output.
    if (json) std::cout << JsonText({{"error", what}, {"schema", kJsonSchema}}) << "\n";
    return static_cast<int>(ExitCode::BadInput);
}

std::string CommandLine::UnknownCommand(const std::string& word) const {
    std::vector<std::string> names;
    for (const CLI::App* command : app_.get_subcommands({})) names.push_back(command->get_name());
    const std::string closest = ClosestName(word, names);
    return "unknown command '" + word + "'" +
           (closest.empty() ? "" : " (did you mean '" + closest + "'?)");
}

Command* CommandLine::Parse(int argc, char** argv, int& exitCode) {
    const bool json = JsonAsked(argc, argv);
    try {
        app_.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) {
            exitCode = app_.exit(error);
            return nullptr;
        }
        const std::vector<CLI::App*> parsed = app_.get_subcommands();
        exitCode = Refuse(error.what(), parsed.empty() ? "" : parsed.front()->get_name(), json);
        return nullptr;
    }
    const std::vector<CLI::App*> parsed = app_.get_subcommands();
    const std::string chosen = parsed.empty() ? "" : parsed.front()->get_name();
    const std::vector<std::string> extras = app_.remaining(true);
    if (!extras.empty()) {
        const std::string& word = extras.front();
        if (word.rfind('-', 0) == 0) {
            exitCode = Refuse("unknown option '" + word + "'", chosen, json);
        } else if (chosen.empty()) {
            exitCode = Refuse(UnknownCommand(word), "", json);
        } else {
            exitCode = Refuse("unexpected argument '" + word + "'", chosen, json);
        }
        return nullptr;
    }
    if (chosen.empty()) {
        exitCode = Refuse("no command given", "", json);
        return nullptr;
    }
    if (parsed.front() == help_) {
        if (helpTopic_.empty()) {
            std::cout << app_.help();
        } else {
            const std::vector<CLI::App*> all = app_.get_subcommands({});
            const auto found = std::find_if(
                all.begin(), all.end(),
                [this](const CLI::App* command) { return command->get_name() == helpTopic_; });
            if (found == all.end()) {
                exitCode = Refuse(UnknownCommand(helpTopic_), "", json);
                return nullptr;
            }
            std::cout << (*found)->help(app_.get_name());
        }
        exitCode = static_cast<int>(ExitCode::Done);
        return nullptr;
    }
    if (parsed.front() == completion_) {
        std::cout << CompletionScript(app_, shell_);
        exitCode = static_cast<int>(ExitCode::Done);
        return nullptr;
    }
    for (const std::unique_ptr<Command>& command : commands_) {
        if (chosen == command->name()) return command.get();
    }
    exitCode = Refuse(UnknownCommand(chosen), "", json);
    return nullptr;
}
