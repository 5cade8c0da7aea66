// kelmtool: the kelm board's flash from the command line.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <string>

#include "commands.h"
#include "image_file.h"
#include "interrupt.h"
#include "numbers.h"
#include "progress.h"
#include "tool_context.h"

#ifndef KELM_VERSION
#error "the build defines KELM_VERSION"
#endif

namespace {

constexpr char kDescription[] =
    "kelmtool: manages the flash of the kelm board (USB HID 03eb:0001): 2 MB in 32 slots of "
    "64 KB.";
constexpr double kDefaultWaitSeconds = 30;
constexpr char kSlotHelp[] = "any slot of the application, 0 to 31";

// --kind's values, checked by CLI11 and turned into an ImageKind after parsing.
const std::vector<std::string> kKindChoices = {"gcb", "dol", "elf", "vgc"};

std::optional<ImageKind> ParsedKind(const std::string& kind) {
    if (kind.empty()) return std::nullopt;
    return KindFromName(kind);
}

// JSON output must survive the 8-bit texts of slot headers: invalid UTF-8 is replaced.
std::string Dump(const nlohmann::json& document) {
    return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

// --json anywhere on a command line that could not be parsed.
bool JsonAsked(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--json") return true;
    }
    return false;
}

int Finish(const ToolOptions& options, const std::string& command, const Outcome& outcome,
           const Reply& reply) {
    const bool result = outcome.ok() || (outcome.interrupted() && reply.complete);
    if (result) {
        if (options.json) {
            std::cout << Dump(reply.data) << "\n";
        } else {
            std::cout << reply.text;
        }
    }
    if (!outcome.ok()) {
        std::cerr << "kelmtool " << command << ": " << outcome.message() << "\n";
        if (options.json && !result)
            std::cout << Dump(nlohmann::json{{"error", outcome.message()}}) << "\n";
    }
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "kelmtool: could not write to standard output\n";
        return outcome.ok() ? static_cast<int>(ExitCode::Failed) : static_cast<int>(outcome.code());
    }
    return static_cast<int>(outcome.code());
}

}  // namespace

int main(int argc, char** argv) {
    ToolOptions options;
    CLI::App app(kDescription, "kelmtool");
    app.footer(ExitCodeList());
    app.set_version_flag("--version", std::string("kelmtool ") + KELM_VERSION);
    app.require_subcommand(1);
    app.add_option("--sim", options.simFile,
                   "work on a simulated board whose flash is kept in FILE (created erased)")
        ->type_name("FILE");
    app.add_option("--path", options.path, "the board at this device path (see `list`)")
        ->type_name("PATH");
    std::string waitText;
    CLI::Option* wait = app.add_option("--wait", waitText,
                                       "wait for a board to appear (30 s without a value; at most "
                                       "86400)")
                            ->type_name("SECONDS")
                            ->expected(0, 1);
    std::string timeoutText;
    CLI::Option* timeout =
        app.add_option("--timeout", timeoutText,
                       "limit of every status poll of the board (default 30; 0.1 to 3600)")
            ->type_name("SECONDS");
    app.add_flag("--json", options.json, "one JSON document on standard output");
    app.add_flag("--quiet", options.quiet, "no progress bar");
    app.add_flag("--trace", options.trace, "every report exchanged, on standard error");

    CLI::App* list = app.add_subcommand("list", "boards attached: path, serial, whether it opens");
    CLI::App* info = app.add_subcommand("info", "the slot map and the images on the board");

    WriteArguments write;
    std::string writeKind;
    CLI::App* writeCommand = app.add_subcommand("write", "write an image file into free slots");
    writeCommand->add_option("FILE", write.file, "a .gcb, .dol, .elf or .vgc file")->required();
    writeCommand->add_option("--kind", writeKind, "the file's kind, instead of its extension")
        ->check(CLI::IsMember(kKindChoices));
    std::string writeSlot;
    CLI::Option* writeSlotOption =
        writeCommand
            ->add_option("--slot", writeSlot,
                         "the first slot, 0 to 31 (default: the first that can take it)")
            ->type_name("N");
    writeCommand->add_flag("--verify", write.verify, "read the flash back and compare");

    BackupArguments backup;
    CLI::App* backupCommand =
        app.add_subcommand("backup", "save the application a slot belongs to into a .gcb file");
    std::string backupSlot;
    backupCommand->add_option("SLOT", backupSlot, kSlotHelp)->required();
    backupCommand->add_option("-o,--output", backup.output, "the file to write")->required();
    backupCommand->add_flag("--force", backup.force, "replace an existing file");

    EraseArguments erase;
    CLI::App* eraseCommand = app.add_subcommand("erase", "erase the application a slot belongs to");
    std::string eraseSlot;
    eraseCommand->add_option("SLOT", eraseSlot, kSlotHelp)->required();
    eraseCommand->add_flag("--yes", erase.yes, "do not ask");

    VerifyArguments verify;
    std::string verifyKind;
    CLI::App* verifyCommand = app.add_subcommand(
        "verify", "compare the application at a slot with what writing a file would put there");
    std::string verifySlot;
    verifyCommand->add_option("SLOT", verifySlot, kSlotHelp)->required();
    verifyCommand->add_option("FILE", verify.file, "the image file")->required();
    verifyCommand->add_option("--kind", verifyKind, "the file's kind, instead of its extension")
        ->check(CLI::IsMember(kKindChoices));

    DumpArguments dump;
    CLI::App* dumpCommand = app.add_subcommand("dump", "save the whole 2 MB flash into a file");
    dumpCommand->add_option("-o,--output", dump.output, "the file to write")->required();
    dumpCommand->add_flag("--force", dump.force, "replace an existing file");

    RestoreArguments restore;
    CLI::App* restoreCommand =
        app.add_subcommand("restore", "erase every slot and write a 2 MB dump back");
    restoreCommand->add_option("FILE", restore.file, "a dump of exactly 2097152 bytes")->required();
    restoreCommand->add_flag("--yes", restore.yes, "do not ask");
    restoreCommand->add_flag("--verify", restore.verify, "read the flash back and compare");

    MonitorArguments monitor;
    CLI::App* monitorCommand =
        app.add_subcommand("monitor", "show the board's two-line text as it changes");
    std::string monitorSeconds;
    CLI::Option* monitorSecondsOption =
        monitorCommand
            ->add_option("--seconds", monitorSeconds, "stop after this long (at most 86400)")
            ->type_name("SECONDS");

    for (CLI::App* command : app.get_subcommands({})) command->footer(ExitCodeList());

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        if (code == 0) return 0;
        // A script that asked for JSON reads standard output, where CLI11 says nothing.
        if (JsonAsked(argc, argv))
            std::cout << Dump(nlohmann::json{{"error", error.what()}}) << "\n";
        // CLI11's own codes for a bad command line become the documented one.
        return static_cast<int>(ExitCode::BadInput);
    }
    // Numbers are read here, strictly, so that a bad one is refused before the board is touched.
    CLI::App* chosen = app.get_subcommands().front();
    const std::string name = chosen->get_name();
    Reply reply;
    const auto numbers = [&]() -> Outcome {
        if (wait->count() > 0) {
            options.waitSeconds = kDefaultWaitSeconds;
            if (!waitText.empty())
                KELM_TRY(ParseSeconds(waitText, kWaitRange, options.waitSeconds));
        }
        if (timeout->count() > 0)
            KELM_TRY(ParseSeconds(timeoutText, kTimeoutRange, options.timeoutSeconds));
        if (writeSlotOption->count() > 0) {
            int slot = 0;
            KELM_TRY(ParseSlot(writeSlot, slot));
            write.slot = slot;
        }
        if (chosen == backupCommand) KELM_TRY(ParseSlot(backupSlot, backup.slot));
        if (chosen == eraseCommand) KELM_TRY(ParseSlot(eraseSlot, erase.slot));
        if (chosen == verifyCommand) KELM_TRY(ParseSlot(verifySlot, verify.slot));
        if (monitorSecondsOption->count() > 0)
            KELM_TRY(ParseSeconds(monitorSeconds, kMonitorRange, monitor.seconds));
        return {};
    };
    const Outcome parsed = numbers();
    if (!parsed.ok()) return Finish(options, name, parsed, reply);
    write.kind = ParsedKind(writeKind);
    verify.kind = ParsedKind(verifyKind);

    if (!InstallInterruptHandlers()) {
        std::cerr << "kelmtool: cannot catch Ctrl-C; an interruption would end kelmtool at once\n";
    }
    // The trace writes to standard error line by line; a bar there would break every line.
    Progress progress(stderr, !options.quiet && !options.trace && IsTerminal(stderr));
    ToolContext context{options, progress, reply, IsTerminal(stdin)};
    Outcome outcome;
    if (chosen == list) {
        outcome = RunList(context);
    } else if (chosen == info) {
        outcome = RunInfo(context);
    } else if (chosen == writeCommand) {
        outcome = RunWrite(context, write);
    } else if (chosen == backupCommand) {
        outcome = RunBackup(context, backup);
    } else if (chosen == eraseCommand) {
        outcome = RunErase(context, erase);
    } else if (chosen == verifyCommand) {
        outcome = RunVerify(context, verify);
    } else if (chosen == dumpCommand) {
        outcome = RunDump(context, dump);
    } else if (chosen == restoreCommand) {
        outcome = RunRestore(context, restore);
    } else {
        outcome = RunMonitor(context, monitor);
    }
    return Finish(options, name, outcome, reply);
}
