// The options that come before the command.
#include "global_options.h"

#include "numbers.h"

namespace {

constexpr double kDefaultWaitSeconds = 30;

}  // namespace

void GlobalOptions::Declare(CLI::App& app, ToolOptions& options) {
    app.add_option("--sim", options.simFile,
                   "work on a simulated board whose flash is kept in FILE (created erased)")
        ->type_name("FILE");
    app.add_option("--path", options.path, "the board at this device path (see `list`)")
        ->type_name("PATH");
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
    if (wait_->count() > 0) {
        options.waitSeconds = kDefaultWaitSeconds;
        if (!waitText_.empty()) KELM_TRY(ParseSeconds(waitText_, kWaitRange, options.waitSeconds));
    }
    if (timeout_->count() > 0) {
        KELM_TRY(ParseSeconds(timeoutText_, kTimeoutRange, options.timeoutSeconds));
    }
    return {};
}
