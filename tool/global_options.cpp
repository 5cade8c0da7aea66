// The options that come before the command.
#include "global_options.h"

#include <cstdlib>

#include "numbers.h"
#include "sim_link.h"

namespace {

constexpr double kDefaultWaitSeconds = 30;
constexpr char kSerialVariable[] = "KELMTOOL_SERIAL";
constexpr char kSimVariable[] = "KELMTOOL_SIM";

// The value of an environment variable, or "" when it is not set.
std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

void GlobalOptions::Declare(CLI::App& app, ToolOptions& options) {
    sim_ = app.add_option("--sim", options.simFiles,
                          "work on a simulated board whose flash is kept in FILE (created "
                          "erased); once for each board, its serial sim-NAME")
               ->type_name("FILE")
               ->expected(1)
               // A vector option goes on taking the words after it otherwise: the command's
               // name among them when it is misspelt.
               ->allow_extra_args(false)
               ->take_all();
    app.add_option("--path", options.path, "the board at this device path (see `list`)")
        ->type_name("PATH");
    serial_ =
        app.add_option("--serial", options.serial, "the board with this serial number (see `list`)")
            ->type_name("SERIAL");
    app.add_flag("--all", options.all, "every board attached, side by side");
    app.add_flag("--each-new", options.eachNew,
                 "wait for boards and run on each as it is plugged in, until Ctrl-C");
    wait_ = app.add_option("--wait", waitText_,
                           "wait for a board to appear (30 s without a value; at most 86400)")
                ->type_name("SECONDS")
                ->expected(0, 1);
    timeout_ = app.add_option("--timeout", timeoutText_,
                              "limit of every status poll of the board (default 30; 0.1 to 3600)")
                   ->type_name("SECONDS");
    app.add_flag("--json", options.json, "one JSON document on standard output");
    app.add_flag("-q,--quiet", options.quiet, "no progress bar");
    app.add_flag("--trace", options.trace, "every report exchanged, on standard error");
}

Outcome GlobalOptions::Settle(ToolOptions& options) const {
    // A board the command line names, or all of them, outweighs the environment's default.
    if (sim_->count() == 0 && options.path.empty()) {
        options.simFiles = SimFileList(Variable(kSimVariable));
    }
    if (serial_->count() == 0 && options.path.empty() && !options.ManyBoards()) {
        options.serial = Variable(kSerialVariable);
    }
    if (options.all && options.eachNew) {
        return Outcome::Fail(ExitCode::BadInput, "--all and --each-new cannot be used together");
    }
    KELM_TRY(CheckSimSerials(options.simFiles));
    if (wait_->count() > 0) {
        options.waitSeconds = kDefaultWaitSeconds;
        if (!waitText_.empty()) KELM_TRY(ParseSeconds(waitText_, kWaitRange, options.waitSeconds));
    }
    if (timeout_->count() > 0) {
        KELM_TRY(ParseSeconds(timeoutText_, kTimeoutRange, options.timeoutSeconds));
    }
    return {};
}
